#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// The values of `keys` in the default section of a settings file QSettings wrote in its INI
// form, read without Qt. Only values QSettings writes as they are (letters, digits, "_", "-" and
// "."), on lines of their own, are taken; a missing key is simply absent. Answers nothing when
// the file cannot be read or is larger than a settings file can be, or when a wanted key holds
// anything else (quotes, escapes, a list, a continued line): QSettings itself must read it.
std::optional<std::map<std::string, std::string, std::less<>>>
readPlainSettings(const std::filesystem::path& file, const std::vector<std::string_view>& keys);

} // namespace korvo

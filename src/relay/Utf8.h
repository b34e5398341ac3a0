#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The bytes as a string when they are well-formed UTF-8, otherwise nothing.
std::optional<std::string> utf8Text(std::string_view bytes);

} // namespace korvo

#pragma once

// Texts shared by the adapters' diagnostics.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvo {

/// "✓ command <name>: <path>" when the command was found, else "• command <name>: not found".
std::string commandCheckLine(std::string_view name,
                             const std::optional<std::filesystem::path>& executable);

} // namespace korvo

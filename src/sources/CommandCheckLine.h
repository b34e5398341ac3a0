#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// The diagnostic line for a command lookup: "✓ command NAME: PATH" when it was found,
// "• command NAME: not found" otherwise.
inline std::string commandCheckLine(std::string_view name,
                                    const std::optional<std::filesystem::path>& found) {
    if (found) {
        return "✓ command " + std::string(name) + ": " + found->string();
    }
    return "• command " + std::string(name) + ": not found";
}

} // namespace korvo

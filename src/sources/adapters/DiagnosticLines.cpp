#include "sources/adapters/DiagnosticLines.h"

namespace korvo {

std::string commandCheckLine(std::string_view name,
                             const std::optional<std::filesystem::path>& executable) {
    if (executable) {
        return "✓ command " + std::string(name) + ": " + executable->string();
    }
    return "• command " + std::string(name) + ": not found";
}

} // namespace korvo

#include "sources/io/Environment.h"

#include <cstdlib>

namespace korvo {

Environment processEnvironment() {
    return [](std::string_view name) -> std::optional<std::string> {
        const std::string key(name);
        if (const char* value = std::getenv(key.c_str())) {
            return std::string(value);
        }
        return std::nullopt;
    };
}

Environment fixedEnvironment(std::map<std::string, std::string, std::less<>> variables) {
    return [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
        if (const auto it = variables.find(name); it != variables.end()) {
            return it->second;
        }
        return std::nullopt;
    };
}

} // namespace korvo

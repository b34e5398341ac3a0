#include "RelayJson.h"

#include "model/SnapshotJson.h"

namespace korvo::relayserver {

std::string jsonString(std::string_view text) {
    return jsonQuoted(text);
}

std::string jsonObject(const std::map<std::string, std::optional<std::string>>& members) {
    std::string out = "{";
    bool first = true;
    for (const auto& [name, value] : members) {
        if (!value) {
            continue;
        }
        if (!first) {
            out += ',';
        }
        first = false;
        out += jsonString(name) + ':' + jsonString(*value);
    }
    out += '}';
    return out;
}

std::string jsonError(std::string_view message) {
    return "{\"error\":" + jsonString(message) + "}";
}

} // namespace korvo::relayserver

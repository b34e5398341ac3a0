#include "RelayJson.h"

#include <cstdio>

namespace korvo::relayserver {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
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

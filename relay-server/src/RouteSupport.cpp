#include "RouteSupport.h"

#include "RelayJson.h"

#include <algorithm>
#include <simdjson.h>

namespace korvo::relayserver {
namespace {

// Whether `request`, sent by a browser, comes from a page of the relay's own origin: no Origin
// header (not a browser's cross-origin request), or one whose host and port are the request's
// Host. Behind a proxy, that proxy passes the Host on.
bool sameOrigin(const HttpRequest& request) {
    if (!request.hasHeader("origin")) {
        return true;
    }
    const std::string origin = lowerCase(request.header("origin"));
    const auto scheme = origin.find("://");
    if (scheme == std::string::npos) {
        return false; // "null", or not an origin
    }
    std::string authority = origin.substr(scheme + 3);
    std::string host = lowerCase(request.header("host"));
    // A default port may be named or not on either side.
    const auto withoutDefaultPort = [](std::string& text, std::string_view port) {
        if (text.ends_with(port)) {
            text.resize(text.size() - port.size());
        }
    };
    const std::string_view defaultPort = origin.starts_with("https://") ? ":443" : ":80";
    withoutDefaultPort(authority, defaultPort);
    withoutDefaultPort(host, defaultPort);
    return !host.empty() && authority == host;
}

} // namespace

void fail(HttpResponse& res, int status, std::string_view message) {
    res.status = status;
    res.body = jsonError(message);
}

void answer(HttpResponse& res, std::string body) {
    res.status = 200;
    res.body = std::move(body);
}

std::optional<std::string> bearerToken(const HttpRequest& req) {
    const std::string& value = req.header("authorization");
    constexpr std::string_view prefix = "Bearer ";
    if (value.size() <= prefix.size() || value.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    return value.substr(prefix.size());
}

std::optional<std::vector<std::string>> stringMembers(const std::string& body,
                                                      std::initializer_list<const char*> names,
                                                      std::string& problem) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(body).get(root) != simdjson::SUCCESS) {
        problem = "Request body is not valid JSON";
        return std::nullopt;
    }
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS) {
        problem = "Request body is not a JSON object";
        return std::nullopt;
    }
    std::vector<std::string> values;
    for (const char* name : names) {
        std::string_view value;
        if (object[name].get_string().get(value) != simdjson::SUCCESS || value.empty()) {
            problem = std::string("Missing string member \"") + name + "\"";
            return std::nullopt;
        }
        values.emplace_back(value);
    }
    return values;
}

std::optional<std::string> optionalStringMember(const std::string& body, const char* name,
                                                const char* inner) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    std::string_view value;
    if (parser.parse(body).get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    auto member = root[name];
    if (inner != nullptr) {
        member = member[inner];
    }
    if (member.get_string().get(value) != simdjson::SUCCESS || value.empty()) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> tooLong(std::string_view name, const std::string& value,
                                   std::size_t limit) {
    if (value.size() <= limit) {
        return std::nullopt;
    }
    return std::string(name) + " is longer than " + std::to_string(limit) + " bytes";
}

bool containsNul(const std::string& value) {
    return value.find('\0') != std::string::npos;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isApiPath(std::string_view path) {
    return path.starts_with("/v1/") || path == "/health" || path.starts_with("/health/");
}

std::optional<std::pair<int, std::string>> refusedWrite(const HttpRequest& request) {
    if (!request.path.starts_with("/v1/") ||
        (request.method != "POST" && request.method != "DELETE" && request.method != "PUT")) {
        return std::nullopt;
    }
    if (!sameOrigin(request)) {
        return std::make_pair(403, std::string("Cross-origin request refused"));
    }
    if (request.method == "POST") {
        const std::string type = lowerCase(request.header("content-type"));
        const auto end = type.find_first_of("; \t");
        if (type.substr(0, end) != "application/json") {
            return std::make_pair(415, std::string("Content-Type must be application/json"));
        }
    }
    return std::nullopt;
}

} // namespace korvo::relayserver

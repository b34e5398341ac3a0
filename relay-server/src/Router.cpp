#include "Router.h"

#include "RelayJson.h"
#include "RelayStorage.h"

#include <algorithm>

namespace korvo::relayserver {
namespace {

// "/a/b/" -> {"a", "b", ""}; "/" -> {""}. A path not starting with "/" matches nothing.
std::vector<std::string_view> split(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty() || path.front() != '/') {
        return parts;
    }
    path.remove_prefix(1);
    while (true) {
        const auto slash = path.find('/');
        parts.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) {
            return parts;
        }
        path.remove_prefix(slash + 1);
    }
}

} // namespace

const std::string& HttpRequest::header(std::string_view name) const {
    static const std::string none;
    const auto found = std::find_if(headers.begin(), headers.end(),
                                    [name](const auto& field) { return field.first == name; });
    return found == headers.end() ? none : found->second;
}

bool HttpRequest::hasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [name](const auto& field) { return field.first == name; });
}

void HttpResponse::setHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
}

void Router::add(std::string method, const std::string& pattern, Handler handler) {
    Route route{std::move(method), pattern, {}, std::move(handler)};
    for (const auto part : split(pattern)) {
        route.segments.emplace_back(part);
    }
    routes_.push_back(std::move(route));
}

void Router::handle(HttpRequest& request, HttpResponse& response) const {
    const auto parts = split(request.path);
    for (const auto& route : routes_) {
        if (route.method != request.method || route.segments.size() != parts.size()) {
            continue;
        }
        std::vector<std::string> params;
        bool matches = true;
        for (std::size_t i = 0; i < parts.size() && matches; ++i) {
            if (route.segments[i] == "{}") {
                matches = !parts[i].empty();
                params.emplace_back(parts[i]);
            } else {
                matches = route.segments[i] == parts[i];
            }
        }
        if (!matches) {
            continue;
        }
        request.params = std::move(params);
        request.route = route.pattern;
        // What failed inside stays inside: the client gets a fixed text and the request id, the
        // log the detail under the same id.
        const auto failed = [&](int status, std::string_view message, std::string detail) {
            response = HttpResponse{
                status,
                jsonObject({{"error", std::string(message)},
                            {"requestId",
                             request.id.empty() ? std::optional<std::string>() : request.id}}),
                "application/json",
                {}};
            request.logDetail = std::move(detail);
        };
        try {
            route.handler(request, response);
        } catch (const StorageUnavailable& e) {
            failed(503, "Service temporarily unavailable; try again later", e.what());
            response.setHeader("retry-after", "2");
        } catch (const std::exception& e) {
            failed(500, "Internal error", e.what());
        } catch (...) {
            failed(500, "Internal error", "unknown exception");
        }
        return;
    }
    response = HttpResponse{404, jsonError("Not found"), "application/json", {}};
}

} // namespace korvo::relayserver

#pragma once

#include "HttpMessage.h"

#include <functional>
#include <string>
#include <vector>

namespace korvo::relayserver {

// Maps a method and a path to a handler. A pattern is a path whose "{}" segments match any one
// non-empty segment; the matched segments reach the handler in `HttpRequest::params`. Routes
// are tried in the order they were added.
class Router {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;

    void add(std::string method, const std::string& pattern, Handler handler);
    void get(const std::string& pattern, Handler handler) {
        add("GET", pattern, std::move(handler));
    }
    void post(const std::string& pattern, Handler handler) {
        add("POST", pattern, std::move(handler));
    }
    void del(const std::string& pattern, Handler handler) {
        add("DELETE", pattern, std::move(handler));
    }

    // Runs the first matching route, naming its pattern in `request.route`. No route: 404; a
    // handler that throws StorageUnavailable: 503 with retry-after; another exception: 500 with
    // a fixed text and the request id (the exception's text goes to `logDetail`). All with a
    // JSON error body. Safe to call from several threads once every route is added.
    void handle(HttpRequest& request, HttpResponse& response) const;

private:
    struct Route {
        std::string method;
        std::string pattern;
        std::vector<std::string> segments; // "{}" marks a parameter
        Handler handler;
    };
    std::vector<Route> routes_;
};

} // namespace korvo::relayserver

#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvo::relayserver {

using HttpFields = std::vector<std::pair<std::string, std::string>>;

// One request as the transport read it: complete, within every limit, framing checked.
struct HttpRequest {
    std::string method;
    std::string path;   // percent-decoded, without the query
    HttpFields query;   // decoded query items, in order
    HttpFields headers; // names in lower case, in arrival order
    std::string body;
    std::string remoteAddress;
    std::vector<std::string> params; // the path segments the route's "{}" placeholders matched
    std::string id;                  // this request's id, in its answer and the log
    std::string route;               // the pattern of the route that matched (for the log)
    // What went wrong, for the relay's log only (never sent); handlers may set it.
    mutable std::string logDetail;

    // The first value of the header `name` (lower case), or "".
    const std::string& header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
};

// The answer a route gives; the transport adds framing (content-length, date, connection).
struct HttpResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    HttpFields headers;

    void setHeader(std::string name, std::string value);
};

} // namespace korvo::relayserver

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

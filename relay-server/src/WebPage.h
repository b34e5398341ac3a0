#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvo::relayserver {

using HeaderList = std::vector<std::pair<std::string_view, std::string_view>>;

// Headers of every answer the web view reads: a Content-Security-Policy that allows only the
// relay's own files (no inline script or style, no frames, no other origin), no MIME sniffing
// and no Referer, so a sync space id in a URL never leaks.
const HeaderList& webSecurityHeaders();

// A file of the web view for a GET of `path` (without query).
struct WebPageAnswer {
    int status = 200; // 200, or 304 when `ifNoneMatch` names the current content
    std::string_view contentType;
    std::string_view body; // empty for 304
    HeaderList headers;    // security headers, ETag and Cache-Control
};

// "/" and "/pair" are the page itself; other paths name a file of the web view. Nothing for a
// path that names no file.
std::optional<WebPageAnswer> webPageAnswer(std::string_view path, std::string_view ifNoneMatch);

} // namespace korvo::relayserver

#include "WebPage.h"

#include "WebAssets.h"

#include <algorithm>

namespace korvo::relayserver {

const HeaderList& webSecurityHeaders() {
    static const HeaderList headers = {
        {"content-security-policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; manifest-src 'self'; worker-src 'self'; base-uri 'none'; "
         "form-action 'none'; frame-ancestors 'none'"},
        {"x-content-type-options", "nosniff"},
        {"referrer-policy", "no-referrer"},
        {"x-frame-options", "DENY"},
    };
    return headers;
}

std::optional<WebPageAnswer> webPageAnswer(std::string_view path, std::string_view ifNoneMatch) {
    if (path == "/" || path == "/pair") {
        path = "/index.html";
    }
    const auto assets = webAssets();
    const auto found = std::find_if(assets.begin(), assets.end(),
                                    [path](const WebAsset& asset) { return asset.path == path; });
    if (found == assets.end()) {
        return std::nullopt;
    }
    WebPageAnswer answer;
    answer.contentType = found->contentType;
    answer.headers = webSecurityHeaders();
    // Revalidated on every load: a relay update reaches the page at once, an unchanged file
    // costs a 304 without body.
    answer.headers.emplace_back("cache-control", "no-cache");
    answer.headers.emplace_back("etag", found->etag);
    if (ifNoneMatch == found->etag) {
        answer.status = 304;
    } else {
        answer.body = found->body;
    }
    return answer;
}

} // namespace korvo::relayserver

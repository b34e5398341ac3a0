#pragma once

#include <span>
#include <string_view>

namespace korvo::relayserver {

// One file of the web view, built into the relay from relay-server/web/.
struct WebAsset {
    std::string_view path; // "/app.js"
    std::string_view contentType;
    std::string_view body;
    std::string_view etag; // a quoted content hash
};

// Every file of the web view, generated at build time.
std::span<const WebAsset> webAssets();

} // namespace korvo::relayserver

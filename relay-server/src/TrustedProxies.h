#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::relayserver {

// The reverse proxies (address ranges) whose X-Forwarded-For header the relay believes. Each
// proxy appends the address it received the request from, so the header's last entries were
// written by trusted proxies and anything before them by the client, who may write anything:
// the client is the rightmost entry that is not itself a trusted proxy.
class TrustedProxies {
public:
    // Adds a range in CIDR form ("10.0.0.0/8", "::1/128", or one address); false when `cidr`
    // is not one.
    bool add(std::string_view cidr);
    bool empty() const { return ranges_.empty(); }
    bool contains(std::string_view address) const;

    // The client's address: `peer` itself unless it is a trusted proxy; then the rightmost
    // address of the X-Forwarded-For `forwardedFor` (comma-separated; "" when absent) that is
    // not a trusted proxy. A malformed entry ends the walk at the proxy that wrote it.
    std::string clientAddress(const std::string& peer, std::string_view forwardedFor) const;

private:
    struct Range {
        std::array<unsigned char, 16> bytes{}; // IPv4 as IPv4-mapped IPv6
        int prefix = 0;                        // bits of `bytes` that must match
    };
    static std::optional<std::array<unsigned char, 16>> parse(std::string_view address);

    std::vector<Range> ranges_;
};

} // namespace korvo::relayserver

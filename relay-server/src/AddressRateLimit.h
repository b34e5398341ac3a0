#pragma once

#include "RelayStorage.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace korvo::relayserver {

// Lets each client do something `burst` times at once, then again as its allowance refills at
// `burst` per `window` seconds (a token bucket). A client is an IPv4 address or an IPv6 /64,
// since one subscriber usually holds a whole /64. At most `maxClients` are remembered; when
// that many are being limited at once, newcomers are refused too until the oldest refill.
struct RateLimits {
    unsigned burst = 10;
    UnixTime window = 600;
    std::size_t maxClients = 100'000;
};

class AddressRateLimit {
public:
    explicit AddressRateLimit(RateLimits limits) : limits_(limits) {}

    // Takes one use for `address` at `now`: true when allowed; otherwise false with the whole
    // seconds until the next use is allowed in `retryAfter`. Safe to call from several threads.
    bool take(const std::string& address, UnixTime now, UnixTime& retryAfter);

    // The key under which `address` (an IPv4 or IPv6 address in text form) is counted:
    // clientKey() of ClientAddress.h.
    static std::string clientKey(const std::string& address);

private:
    struct Bucket {
        double used = 0; // uses not yet refilled
        UnixTime at = 0;
    };
    double refilled(const Bucket& bucket, UnixTime now) const;

    RateLimits limits_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

} // namespace korvo::relayserver

#include "AddressRateLimit.h"

#include "ClientAddress.h"

#include <arpa/inet.h>
#include <cmath>
#include <netinet/in.h>

namespace korvo::relayserver {

std::string AddressRateLimit::clientKey(const std::string& address) {
    return relayserver::clientKey(address);
}

double AddressRateLimit::refilled(const Bucket& bucket, UnixTime now) const {
    const double rate = static_cast<double>(limits_.burst) / static_cast<double>(limits_.window);
    const double elapsed = static_cast<double>(std::max<UnixTime>(0, now - bucket.at));
    return std::max(0.0, bucket.used - elapsed * rate);
}

bool AddressRateLimit::take(const std::string& address, UnixTime now, UnixTime& retryAfter) {
    const double rate = static_cast<double>(limits_.burst) / static_cast<double>(limits_.window);
    const std::string key = clientKey(address);
    std::lock_guard lock(mutex_);
    auto found = buckets_.find(key);
    if (found == buckets_.end()) {
        if (buckets_.size() >= limits_.maxClients) {
            std::erase_if(buckets_,
                          [&](const auto& entry) { return refilled(entry.second, now) <= 0; });
        }
        if (buckets_.size() >= limits_.maxClients) {
            retryAfter = limits_.window;
            return false;
        }
        found = buckets_.emplace(key, Bucket{0, now}).first;
    }
    Bucket& bucket = found->second;
    bucket.used = refilled(bucket, now);
    bucket.at = now;
    if (bucket.used + 1 > limits_.burst) {
        retryAfter = std::max<UnixTime>(
            1, static_cast<UnixTime>(std::ceil((bucket.used + 1 - limits_.burst) / rate)));
        return false;
    }
    bucket.used += 1;
    return true;
}

} // namespace korvo::relayserver

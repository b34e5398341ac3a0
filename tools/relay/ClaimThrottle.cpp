#include "ClaimThrottle.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>

namespace korvo::relayserver {

std::string ClaimThrottle::clientKey(std::string_view address) {
    const std::string text(address);
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) {
        return text;
    }
    static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    char out[INET6_ADDRSTRLEN];
    if (std::equal(std::begin(kMapped), std::end(kMapped), bytes)) {
        return inet_ntop(AF_INET, bytes + 12, out, sizeof out) != nullptr ? std::string(out) : text;
    }
    std::fill(bytes + 8, bytes + 16, 0);
    return inet_ntop(AF_INET6, bytes, out, sizeof out) != nullptr ? std::string(out) + "/64" : text;
}

void ClaimThrottle::forgetBefore(UnixTime cutoff) {
    while (!attempts_.empty() && attempts_.front().first <= cutoff) {
        const auto counted = perClient_.find(attempts_.front().second);
        if (counted != perClient_.end() && --counted->second == 0) {
            perClient_.erase(counted);
        }
        attempts_.pop_front();
    }
}

bool ClaimThrottle::admit(std::string_view address, UnixTime now) {
    std::string key = clientKey(address);
    const std::lock_guard lock(mutex_);
    forgetBefore(now - limits_.window);
    const auto counted = perClient_.find(key);
    const std::size_t tries = counted == perClient_.end() ? 0 : counted->second;
    if (tries >= limits_.perClient) {
        return false;
    }
    if (tries > 0 && attempts_.size() >= limits_.busy) {
        return false; // a flood: one attempt per client and window
    }
    if (tries == 0 && perClient_.size() >= limits_.maxClients) {
        return false;
    }
    ++perClient_[key];
    attempts_.emplace_back(now, std::move(key));
    return true;
}

void ClaimThrottle::succeeded(std::string_view address) {
    const std::string key = clientKey(address);
    const std::lock_guard lock(mutex_);
    const auto last = std::find_if(attempts_.rbegin(), attempts_.rend(),
                                   [&](const auto& attempt) { return attempt.second == key; });
    if (last == attempts_.rend()) {
        return;
    }
    attempts_.erase(std::next(last).base());
    const auto counted = perClient_.find(key);
    if (counted != perClient_.end() && --counted->second == 0) {
        perClient_.erase(counted);
    }
}

UnixTime ClaimThrottle::retryAfter(std::string_view address, UnixTime now) {
    const std::string key = clientKey(address);
    const std::lock_guard lock(mutex_);
    forgetBefore(now - limits_.window);
    // The client's own oldest attempt; a client that never tried waits for the oldest of all.
    const auto own = std::find_if(attempts_.begin(), attempts_.end(),
                                  [&](const auto& attempt) { return attempt.second == key; });
    const auto oldest = own != attempts_.end() ? own : attempts_.begin();
    if (oldest == attempts_.end()) {
        return 1;
    }
    return std::max<UnixTime>(1, oldest->first + limits_.window - now);
}

} // namespace korvo::relayserver

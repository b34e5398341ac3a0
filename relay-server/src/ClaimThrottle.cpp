#include "ClaimThrottle.h"

#include "ClientAddress.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>

namespace korvo::relayserver {

std::size_t ClaimLimits::failureBudget(std::size_t liveSessions) const {
    return std::max(minFailures, codeBudget / std::max<std::size_t>(1, liveSessions));
}

std::string ClaimThrottle::clientKey(std::string_view address) {
    return relayserver::networkKey(address);
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

UnixTime ClaimThrottle::admit(std::string_view address, UnixTime now, std::size_t liveSessions) {
    std::string key = clientKey(address);
    const std::lock_guard lock(mutex_);
    forgetBefore(now - limits_.window);
    const auto waitFor = [&](const auto& oldest) {
        return std::max<UnixTime>(1, oldest->first + limits_.window - now);
    };
    const auto counted = perClient_.find(key);
    if (counted != perClient_.end() && counted->second >= limits_.perClient) {
        return waitFor(std::find_if(attempts_.begin(), attempts_.end(),
                                    [&](const auto& attempt) { return attempt.second == key; }));
    }
    if (attempts_.size() >= limits_.failureBudget(liveSessions)) {
        return attempts_.empty() ? limits_.window : waitFor(attempts_.begin());
    }
    ++perClient_[key];
    attempts_.emplace_back(now, std::move(key));
    return 0;
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

} // namespace korvo::relayserver

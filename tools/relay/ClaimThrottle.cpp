#include "ClaimThrottle.h"

#include <algorithm>

namespace korvo::relayserver {

void ClaimThrottle::forgetBefore(UnixTime cutoff) {
    while (!failures_.empty() && failures_.front().first <= cutoff) {
        const auto counted = perClient_.find(failures_.front().second);
        if (counted != perClient_.end() && --counted->second == 0) {
            perClient_.erase(counted);
        }
        failures_.pop_front();
    }
}

bool ClaimThrottle::allows(const std::string& client, UnixTime now) {
    const std::lock_guard lock(mutex_);
    forgetBefore(now - limits_.window);
    if (failures_.size() >= limits_.total) {
        return false;
    }
    const auto counted = perClient_.find(client);
    return counted == perClient_.end() || counted->second < limits_.perClient;
}

void ClaimThrottle::recordFailure(const std::string& client, UnixTime now) {
    const std::lock_guard lock(mutex_);
    forgetBefore(now - limits_.window);
    if (failures_.size() >= limits_.total) {
        return; // refused claims are not counted, so this only happens in a race
    }
    failures_.emplace_back(now, client);
    ++perClient_[client];
}

UnixTime ClaimThrottle::retryAfter(const std::string& client, UnixTime now) {
    const std::lock_guard lock(mutex_);
    forgetBefore(now - limits_.window);
    const bool everyone = failures_.size() >= limits_.total;
    for (const auto& [time, who] : failures_) {
        if (everyone || who == client) {
            return std::max<UnixTime>(1, time + limits_.window - now);
        }
    }
    return 1;
}

} // namespace korvo::relayserver

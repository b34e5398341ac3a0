#pragma once

#include "RelayStore.h"

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace korvo::relayserver {

// Limits the guessing of pairing codes. A code has only a million values, so a client free to
// try them could claim someone else's session while it lives. Failed claims are counted per
// client address and in total over a sliding window; while either count is at its limit, claims
// are refused. Memory stays bounded: at most `total` failures are remembered.
struct ClaimLimits {
    std::size_t perClient = 10;
    std::size_t total = 300;
    UnixTime window = 60; // seconds
};

class ClaimThrottle {
public:
    using Limits = ClaimLimits;

    explicit ClaimThrottle(Limits limits = {}) : limits_(limits) {}

    // Whether `client` may claim now. Safe to call from several threads.
    bool allows(const std::string& client, UnixTime now);
    // Counts a claim of `client` that named no claimable code.
    void recordFailure(const std::string& client, UnixTime now);
    // Seconds until the oldest counted failure of `client` (or of everyone) leaves the window.
    UnixTime retryAfter(const std::string& client, UnixTime now);

private:
    void forgetBefore(UnixTime cutoff);

    Limits limits_;
    std::mutex mutex_;
    std::deque<std::pair<UnixTime, std::string>> failures_; // oldest first
    std::map<std::string, std::size_t> perClient_;
};

} // namespace korvo::relayserver

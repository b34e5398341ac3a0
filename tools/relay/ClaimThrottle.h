#pragma once

#include "RelayStorage.h"

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace korvo::relayserver {

// Limits the guessing of pairing codes. A code has only a million values, so a client free to
// try them could claim someone else's session while it lives.
//
// Every claim attempt is counted the moment it is let through, so parallel claims cannot slip
// past a limit between the check and the count; a wrong code, an expired one and one already
// claimed all use up an attempt, and only a claim that succeeded is given back. Two limits hold
// within a sliding window:
// - per client, an IPv4 address or an IPv6 /64 (one subscriber commonly holds a whole /64);
// - relay-wide, a budget of failed claims sized from the number of live sessions, so that the
//   guesses all clients together get hit any live code with small odds, however many addresses
//   an attacker holds. While the budget is spent, every client waits (at most one window) and
//   nothing is checked, so a refusal tells nothing about a code.
// Memory stays bounded: only the attempts within the budget are remembered.
struct ClaimLimits {
    std::size_t perClient = 10; // attempts per client and window
    // Failed claims relay-wide per window: max(minFailures, codeBudget / live sessions), so
    // that while a few sessions live, a window's guesses hit one of their codes with odds of at
    // most codeBudget in a million.
    std::size_t minFailures = 10;
    std::size_t codeBudget = 100;
    UnixTime window = 60; // seconds

    std::size_t failureBudget(std::size_t liveSessions) const;
};

class ClaimThrottle {
public:
    using Limits = ClaimLimits;

    explicit ClaimThrottle(Limits limits = {}) : limits_(limits) {}

    // The key a client's attempts are counted under: an IPv4 address as it is (also when it
    // comes IPv4-mapped), an IPv6 address as its /64 prefix, anything else as given.
    static std::string clientKey(std::string_view address);

    // 0 when the client at `address` may claim now, the attempt counted in the same step;
    // otherwise the seconds until it may try again. `liveSessions` sizes the relay-wide budget.
    // Safe to call from several threads.
    UnixTime admit(std::string_view address, UnixTime now, std::size_t liveSessions);
    // Gives back the attempt of a claim that succeeded.
    void succeeded(std::string_view address);

private:
    void forgetBefore(UnixTime cutoff);

    Limits limits_;
    std::mutex mutex_;
    std::deque<std::pair<UnixTime, std::string>> attempts_; // oldest first, every client
    std::unordered_map<std::string, std::size_t> perClient_;
};

} // namespace korvo::relayserver

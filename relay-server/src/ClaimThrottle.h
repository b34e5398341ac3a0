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
// - per client network, an IPv4 /24 or an IPv6 /64, so that one holder of a few neighbouring
//   addresses counts once;
// - relay-wide, a fixed budget of failed claims, so that the guesses all clients together get
//   are bounded however many addresses an attacker holds. While it is spent, every client waits
//   (at most one window) and nothing is checked, so a refusal tells nothing about a code.
// The budget is larger than ten networks' shares together: up to ten attacking networks doing
// their worst cannot spend it, and a phone with the right code is let through on its first try.
// Nothing a client does (opening sessions included) shrinks it. With the defaults, at most 360
// failed claims an hour reach the codes: with 10 sessions live the odds that any of them is hit
// within an hour are at most 360 x 10 in a million, 0.36 %.
// Memory stays bounded: only the attempts within the budget are remembered.
struct ClaimLimits {
    std::size_t perClient = 5; // attempts per client network and window
    // Failed claims relay-wide per window: max(minFailures, codeBudget / live sessions). The
    // defaults make it a constant (codeBudget 0): a budget sized by live sessions would let a
    // client shrink it by opening sessions of its own.
    std::size_t minFailures = 60;
    std::size_t codeBudget = 0;
    UnixTime window = 600; // seconds

    std::size_t failureBudget(std::size_t liveSessions) const;
};

class ClaimThrottle {
public:
    using Limits = ClaimLimits;

    explicit ClaimThrottle(Limits limits = {}) : limits_(limits) {}

    // The key a client's attempts are counted under: networkKey() of ClientAddress.h, an IPv4
    // /24 (also when it comes IPv4-mapped), an IPv6 /64, anything else as given.
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

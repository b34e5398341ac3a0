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
// Every claim attempt is counted against its client the moment it is let through, so parallel
// claims cannot slip past the limit between the check and the count; a wrong code, an expired
// one and one already claimed all use up an attempt. Only a claim that succeeded is given back,
// so phones pairing one after another behind one address are not held back. A client is an IPv4
// address, or an IPv6 /64 (one subscriber commonly holds a whole /64). There is no relay-wide
// lock-out: when many attempts arrive from everywhere at once, only clients that already tried in
// the window wait, so a phone entering its code right the first time always gets through.
//
// Memory stays bounded: at most `maxClients` clients with `perClient` attempts each are
// remembered; while that table is full, new clients wait too.
struct ClaimLimits {
    std::size_t perClient = 10; // attempts per client and window
    std::size_t busy = 300;     // attempts relay-wide per window that count as a flood
    std::size_t maxClients = 65'536;
    UnixTime window = 60; // seconds
};

class ClaimThrottle {
public:
    using Limits = ClaimLimits;

    explicit ClaimThrottle(Limits limits = {}) : limits_(limits) {}

    // The key a client's attempts are counted under: an IPv4 address as it is (also when it
    // comes IPv4-mapped), an IPv6 address as its /64 prefix, anything else as given.
    static std::string clientKey(std::string_view address);

    // Whether the client at `address` may claim now; when it may, the attempt is counted in the
    // same step. Safe to call from several threads.
    bool admit(std::string_view address, UnixTime now);
    // Gives back the attempt of a claim that succeeded.
    void succeeded(std::string_view address);
    // Seconds until the client at `address` may try again.
    UnixTime retryAfter(std::string_view address, UnixTime now);

private:
    void forgetBefore(UnixTime cutoff);

    Limits limits_;
    std::mutex mutex_;
    std::deque<std::pair<UnixTime, std::string>> attempts_; // oldest first, every client
    std::unordered_map<std::string, std::size_t> perClient_;
};

} // namespace korvo::relayserver

#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace korvo::relayserver {

// The relay's counters, served in the Prometheus text format: requests by route and status,
// their latency by route, 429s by limit, database failures. Safe to use from several threads.
class RelayMetrics {
public:
    // What is read at the moment of a scrape.
    struct Gauges {
        long openConnections = 0;
        long pairingSessionsLive = -1; // -1: the database did not answer
        std::uint64_t poolWaitTimeouts = 0;
    };

    // One answered request: its method, its route's pattern ("" when none matched), its status,
    // how long it took, and whether it failed inside the relay (`database`: the database did
    // not answer in time, else another internal error).
    void request(std::string_view method, std::string_view route, int status,
                 std::chrono::nanoseconds took, bool failedInside);

    std::string text(const Gauges& gauges) const;

    static constexpr std::array<double, 11> kBuckets = {0.001, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                        0.25,  0.5,   1,    2.5,   5};

private:
    struct Route {
        std::map<int, std::uint64_t> byStatus;
        std::array<std::uint64_t, kBuckets.size() + 1> buckets{}; // the last is +Inf
        double seconds = 0;
        std::uint64_t count = 0;
    };

    mutable std::mutex mutex_;
    std::map<std::string, Route> routes_;
    std::map<std::string, std::uint64_t> limited_; // 429s and 503s by limit
    std::uint64_t unavailable_ = 0;                // the database did not answer in time
    std::uint64_t internalErrors_ = 0;
};

} // namespace korvo::relayserver

#include "ClaimThrottle.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using relayserver::ClaimThrottle;

// Each step: at `time`, with `live` sessions live, `client` asks to claim and is told to wait
// `wait` seconds (0: let through, and counted at once); a wait of -1 instead reports that the
// client's last claim succeeded.
struct Step {
    long long time;
    const char* client;
    long long wait;
    std::size_t live = 1;
};

TEST(ClaimThrottleTest, CountsAttemptsPerClientAndFailuresRelayWide) {
    // Two attempts per client and minute; the relay-wide budget out of the way unless a case is
    // about it.
    const ClaimThrottle::Limits roomy{2, 100, 100, 60};
    const struct {
        const char* name;
        ClaimThrottle::Limits limits;
        std::vector<Step> steps;
    } cases[] = {
        {"a client at its limit waits until its oldest attempt leaves the window",
         roomy,
         {{0, "10.0.0.1", 0},
          {10, "10.0.0.1", 0},
          {20, "10.0.0.1", 40},
          {20, "10.0.1.2", 0},
          {59, "10.0.0.1", 1},
          {60, "10.0.0.1", 0},
          {61, "10.0.0.1", 9},
          {70, "10.0.0.1", 0}}},
        {"one IPv6 /64 is one client, and one IPv4 /24 (also IPv4-mapped); the next are others",
         roomy,
         {{0, "2001:db8:1:2::1", 0},
          {1, "2001:db8:1:2:ffff:ffff:ffff:ffff", 0},
          {2, "2001:db8:1:2::abcd", 58},
          {3, "2001:db8:1:3::1", 0},
          {4, "::ffff:10.0.0.1", 0},
          {5, "10.0.0.1", 0},
          {6, "10.0.0.200", 58},
          {7, "10.0.1.2", 0}}},
        {"past the relay-wide budget every client waits, new ones too, until the oldest leaves",
         ClaimThrottle::Limits{2, 3, 100, 60},
         {{0, "a", 0, 50}, // 100 / 50 live: 2, at least 3
          {1, "b", 0, 50},
          {2, "c", 0, 50},
          {3, "d", 57, 50},
          {4, "d", 0, 20}, // 100 / 20 live: 5
          {5, "e", 0, 20},
          {6, "f", 54, 20},
          {60, "f", 0, 20}}},
        {"a successful claim gives its attempt back, to its client and to the budget",
         ClaimThrottle::Limits{2, 2, 0, 60},
         {{0, "a", 0},
          {1, "a", 0},
          {2, "b", 58},
          {3, "a", -1},
          {4, "b", 0},
          {5, "b", -1},
          {6, "b", -1}, // nothing more to give back
          {7, "c", 0},
          {8, "d", 52}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClaimThrottle throttle(c.limits);
        for (const Step& step : c.steps) {
            SCOPED_TRACE(std::string(step.client) + " at " + std::to_string(step.time));
            if (step.wait < 0) {
                throttle.succeeded(step.client);
            } else {
                EXPECT_EQ(throttle.admit(step.client, step.time, step.live), step.wait);
            }
        }
    }
}

} // namespace
} // namespace korvo

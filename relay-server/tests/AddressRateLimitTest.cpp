#include "AddressRateLimit.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using relayserver::AddressRateLimit;
using relayserver::RateLimits;

TEST(AddressRateLimitTest, EachClientHasABurstThatRefillsOverTheWindow) {
    struct Step {
        long long time;
        const char* address;
        bool allowed;
        long long retryAfter; // when refused
    };
    const struct {
        const char* name;
        RateLimits limits;
        std::vector<Step> steps;
    } cases[] = {
        {"a burst, then one use per refill",
         {3, 60, 100},
         {{0, "10.0.0.1", true, 0},
          {0, "10.0.0.1", true, 0},
          {0, "10.0.0.1", true, 0},
          {0, "10.0.0.1", false, 20},
          {19, "10.0.0.1", false, 1},
          {20, "10.0.0.1", true, 0},
          {20, "10.0.0.1", false, 20},
          {200, "10.0.0.1", true, 0}}},
        {"addresses are counted apart, IPv6 by its /64",
         {1, 60, 100},
         {{0, "10.0.0.1", true, 0},
          {0, "10.0.0.2", true, 0},
          {0, "2001:db8::1", true, 0},
          {0, "2001:db8::ffff:2", false, 60},
          {0, "2001:db8:0:1::1", true, 0}}},
        {"a full table refuses newcomers until an entry has refilled",
         {1, 60, 2},
         {{0, "10.0.0.1", true, 0},
          {0, "10.0.0.2", true, 0},
          {0, "10.0.0.3", false, 60},
          {60, "10.0.0.3", true, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AddressRateLimit limit(c.limits);
        for (const auto& step : c.steps) {
            SCOPED_TRACE(std::to_string(step.time) + " " + step.address);
            relayserver::UnixTime wait = 0;
            EXPECT_EQ(limit.take(step.address, step.time, wait), step.allowed);
            if (!step.allowed) {
                EXPECT_EQ(wait, step.retryAfter);
            }
        }
    }
}

} // namespace
} // namespace korvo

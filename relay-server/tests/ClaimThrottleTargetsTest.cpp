#include "ClaimThrottle.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace korvo {
namespace {

using relayserver::ClaimThrottle;

// An IPv4 address in the /24 numbered `network`.
std::string inNetwork(int network) {
    return "10." + std::to_string(network / 256) + "." + std::to_string(network % 256) + ".7";
}

TEST(ClaimThrottleTargetsTest, TenAttackersCannotShutPairingAndAThousandGuessWithSmallOdds) {
    // Ten attacking networks try a wrong code every second for ten minutes, each having opened
    // the ten sessions its allowance lets it: a phone with the right code, arriving at any
    // moment of it, is let through at once.
    {
        ClaimThrottle throttle; // the relay's defaults
        constexpr std::size_t kLive = 10 * 10 + 1;
        for (long long t = 0; t < 600; ++t) {
            for (int attacker = 0; attacker < 10; ++attacker) {
                throttle.admit(inNetwork(attacker), t, kLive);
            }
            if (t % 60 == 30) {
                SCOPED_TRACE(t);
                const std::string phone = "198.51.100." + std::to_string(t / 60);
                EXPECT_EQ(throttle.admit(phone, t, kLive), 0);
                throttle.succeeded(phone); // the right code
            }
        }
    }
    // A thousand networks guess for an hour, each as often as it is let, while ten sessions
    // live: the guesses that reach the codes hit any of the ten with odds of at most 1 %.
    {
        ClaimThrottle throttle;
        constexpr std::size_t kLive = 10;
        long long guesses = 0;
        for (long long t = 0; t < 3600; t += 5) {
            for (int attacker = 0; attacker < 1000; ++attacker) {
                guesses += throttle.admit(inNetwork(attacker), t, kLive) == 0 ? 1 : 0;
            }
        }
        const double odds = static_cast<double>(guesses) * kLive / 1e6;
        std::printf("1,000 networks for an hour: %lld guesses reached the codes; odds of a hit "
                    "with 10 live sessions %.2f %%\n",
                    guesses, 100 * odds);
        EXPECT_LE(odds, 0.01);
    }
}

} // namespace
} // namespace korvo

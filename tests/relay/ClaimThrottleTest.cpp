#include "ClaimThrottle.h"

#include "support/RelayProcess.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>

namespace korvo {
namespace {

using relayserver::ClaimThrottle;

// Each step: at `time`, `client` fails a claim (fail) or only asks; `allowed` is the answer
// to asking first.
struct Step {
    long long time;
    const char* client;
    bool fail;
    bool allowed;
};

TEST(ClaimThrottleTest, CountsFailuresPerClientAndInTotalOverASlidingWindow) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"a client at its limit waits until its oldest failure leaves the window",
         {{0, "a", true, true},
          {10, "a", true, true},
          {20, "a", false, false},
          {20, "b", false, true},
          {59, "a", false, false},
          {60, "a", true, true},
          {61, "a", false, false},
          {70, "a", false, true}}},
        {"the total limit holds everyone back",
         {{0, "a", true, true},
          {1, "b", true, true},
          {2, "c", true, true},
          {3, "d", false, false},
          {61, "d", false, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClaimThrottle throttle({/*perClient=*/2, /*total=*/3, /*window=*/60});
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.time);
            EXPECT_EQ(throttle.allows(step.client, step.time), step.allowed);
            if (step.fail) {
                throttle.recordFailure(step.client, step.time);
            }
        }
    }
}

TEST(ClaimThrottleTest, RetryAfterNamesWhenTheOldestFailureExpires) {
    ClaimThrottle throttle({2, 3, 60});
    throttle.recordFailure("a", 100);
    throttle.recordFailure("a", 130);
    EXPECT_EQ(throttle.retryAfter("a", 140), 20);
    throttle.recordFailure("b", 150);
    EXPECT_EQ(throttle.retryAfter("c", 155), 5); // everyone waits for the oldest of all
}

TEST(ClaimThrottleTest, TheRelayRefusesGuessingAfterTenWrongCodes) {
    QTemporaryDir dir;
    const auto clockFile = dir.filePath("now").toStdString();
    std::ofstream(clockFile) << 1'800'000'000;
    test::RelayProcess relay(dir.filePath("relay.db"), {"--clock-file", dir.filePath("now")});
    ASSERT_TRUE(relay.isRunning());
    httplib::Client client("127.0.0.1", relay.port());
    const auto session = client.Post("/v1/pairing/sessions",
                                     R"({"connectorDeviceId":"C1","connectorDeviceName":"Box"})",
                                     "application/json");
    ASSERT_TRUE(session && session->status == 200);
    const auto codeAt = session->body.find("\"pairingCode\"");
    ASSERT_NE(codeAt, std::string::npos);
    const std::string code = session->body.substr(session->body.find('"', codeAt + 14) + 1, 6);
    const std::string wrong = code == "000000" ? "000001" : "000000";
    const auto claim = [&](const std::string& guess) {
        return client.Post("/v1/pairing/claim", R"({"pairingCode":")" + guess + R"("})",
                           "application/json");
    };
    for (int attempt = 0; attempt < 10; ++attempt) {
        ASSERT_EQ(claim(wrong)->status, 404);
    }
    const auto refused = claim(code);
    ASSERT_EQ(refused->status, 429);
    EXPECT_EQ(refused->get_header_value("retry-after"), "60");
    EXPECT_NE(refused->body.find("Too many pairing attempts"), std::string::npos);
    std::ofstream(clockFile, std::ios::trunc) << 1'800'000'061;
    EXPECT_EQ(claim(code)->status, 200);
}

} // namespace
} // namespace korvo

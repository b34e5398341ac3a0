#include "ClaimThrottle.h"

#include "support/RelayProcess.h"

#include <QTemporaryDir>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

namespace korvo {
namespace {

using relayserver::ClaimThrottle;

// Each step: at `time`, `client` asks to claim; `allowed` is the answer (an allowed attempt is
// counted at once).
struct Step {
    long long time;
    const char* client;
    bool allowed;
};

TEST(ClaimThrottleTest, CountsAttemptsPerClientAndSlowsOnlyRepeatersInAFlood) {
    // Two attempts per client and minute; floods and the client table out of the way unless a
    // case is about them.
    const ClaimThrottle::Limits roomy{2, 100, 100, 60};
    const struct {
        const char* name;
        ClaimThrottle::Limits limits;
        std::vector<Step> steps;
    } cases[] = {
        {"a client at its limit waits until its oldest attempt leaves the window",
         roomy,
         {{0, "10.0.0.1", true},
          {10, "10.0.0.1", true},
          {20, "10.0.0.1", false},
          {20, "10.0.0.2", true},
          {59, "10.0.0.1", false},
          {60, "10.0.0.1", true},
          {61, "10.0.0.1", false},
          {70, "10.0.0.1", true}}},
        {"one IPv6 /64 is one client; the next /64 and an IPv4-mapped address are others",
         roomy,
         {{0, "2001:db8:1:2::1", true},
          {1, "2001:db8:1:2:ffff:ffff:ffff:ffff", true},
          {2, "2001:db8:1:2::abcd", false},
          {3, "2001:db8:1:3::1", true},
          {4, "::ffff:10.0.0.1", true},
          {5, "10.0.0.1", true},
          {6, "10.0.0.1", false},
          {7, "10.0.0.2", true}}},
        {"in a flood a client that already tried waits, a new one still gets its first try",
         ClaimThrottle::Limits{2, 3, 100, 60},
         {{0, "10.0.0.1", true},
          {1, "10.0.0.2", true},
          {2, "10.0.0.3", true},
          {3, "10.0.0.1", false},
          {4, "10.0.0.4", true},
          {5, "10.0.0.5", true},
          {61, "10.0.0.1", true}}},
        {"a full client table holds new clients back, not known ones",
         ClaimThrottle::Limits{2, 100, 4, 60},
         {{0, "a", true},
          {0, "b", true},
          {0, "c", true},
          {0, "d", true},
          {1, "e", false},
          {1, "a", true},
          {61, "e", true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClaimThrottle throttle(c.limits);
        for (const Step& step : c.steps) {
            SCOPED_TRACE(std::string(step.client) + " at " + std::to_string(step.time));
            EXPECT_EQ(throttle.admit(step.client, step.time), step.allowed);
        }
    }
}

TEST(ClaimThrottleTest, RetryAfterAndTheAttemptOfASuccessfulClaimGivenBack) {
    ClaimThrottle throttle({2, 300, 2, 60});
    throttle.admit("a", 100);
    throttle.admit("a", 130);
    EXPECT_EQ(throttle.retryAfter("a", 140), 20);
    throttle.admit("b", 150);
    EXPECT_EQ(throttle.retryAfter("c", 155), 5); // refused by a full table: the oldest of all
    EXPECT_FALSE(throttle.admit("a", 140));
    throttle.succeeded("a"); // the attempt at 130
    EXPECT_TRUE(throttle.admit("a", 141));
    EXPECT_EQ(throttle.retryAfter("a", 141), 19);
    throttle.succeeded("b");
    throttle.succeeded("b");               // nothing left to give back
    EXPECT_TRUE(throttle.admit("c", 142)); // b's place in the table is free again
}

// Ten wrong codes, spread over every relay of the database (two on PostgreSQL, whose relays
// share the count), and each relay refuses the eleventh attempt until the window has passed.
TEST(ClaimThrottleTest, TheRelaysRefuseGuessingAfterTenWrongCodes) {
    QTemporaryDir dir;
    const auto clockFile = dir.filePath("now").toStdString();
    std::ofstream(clockFile) << 1'800'000'000;
    std::vector<std::unique_ptr<test::RelayProcess>> relays;
    for (int i = 0; i < (test::onPostgres() ? 2 : 1); ++i) {
        relays.push_back(std::make_unique<test::RelayProcess>(
            dir.filePath("relay.db"), QStringList{"--clock-file", dir.filePath("now")}));
        ASSERT_TRUE(relays.back()->isRunning());
    }
    httplib::Client first("127.0.0.1", relays[0]->port());
    const auto session =
        first.Post("/v1/pairing/sessions",
                   R"({"connectorDeviceId":"C1","connectorDeviceName":"Box"})", "application/json");
    ASSERT_TRUE(session && session->status == 200);
    const auto codeAt = session->body.find("\"pairingCode\"");
    ASSERT_NE(codeAt, std::string::npos);
    const std::string code = session->body.substr(session->body.find('"', codeAt + 14) + 1, 6);
    const std::string wrong = code == "000000" ? "000001" : "000000";
    const auto claim = [&](std::size_t relay, const std::string& guess) {
        httplib::Client client("127.0.0.1", relays[relay % relays.size()]->port());
        return client.Post("/v1/pairing/claim", R"({"pairingCode":")" + guess + R"("})",
                           "application/json");
    };
    for (std::size_t attempt = 0; attempt < 10; ++attempt) {
        ASSERT_EQ(claim(attempt, wrong)->status, 404);
    }
    for (std::size_t relay = 0; relay < relays.size(); ++relay) {
        const auto refused = claim(relay, code);
        ASSERT_EQ(refused->status, 429);
        EXPECT_EQ(refused->get_header_value("retry-after"), "60");
        EXPECT_NE(refused->body.find("Too many pairing attempts"), std::string::npos);
    }
    std::ofstream(clockFile, std::ios::trunc) << 1'800'000'061;
    EXPECT_EQ(claim(relays.size() - 1, code)->status, 200);
}

// Sixty claims sent at once from one address, in several rounds: exactly ten are let through
// and counted, the rest refused; a wrong code, an expired one and one already claimed are all
// attempts.
TEST(ClaimThrottleTest, ParallelClaimsFromOneAddressGetNoMoreThanTheLimitThrough) {
    QTemporaryDir dir;
    const auto clockFile = dir.filePath("now").toStdString();
    long long now = 1'800'000'000;
    std::ofstream(clockFile) << now;
    test::RelayProcess relay(dir.filePath("relay.db"), {"--clock-file", dir.filePath("now")});
    ASSERT_TRUE(relay.isRunning());
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        std::atomic<int> notFound = 0, tooMany = 0, other = 0;
        std::vector<std::thread> claims;
        for (int i = 0; i < 60; ++i) {
            claims.emplace_back([&, i] {
                httplib::Client client("127.0.0.1", relay.port());
                char code[8];
                std::snprintf(code, sizeof code, "9%05d", round * 100 + i);
                const auto res = client.Post("/v1/pairing/claim",
                                             std::string(R"({"pairingCode":")") + code + "\"}",
                                             "application/json");
                (res && res->status == 404   ? notFound
                 : res && res->status == 429 ? tooMany
                                             : other)
                    .fetch_add(1);
            });
        }
        for (auto& claim : claims) {
            claim.join();
        }
        EXPECT_EQ(notFound.load(), 10);
        EXPECT_EQ(tooMany.load(), 50);
        EXPECT_EQ(other.load(), 0);
        std::ofstream(clockFile, std::ios::trunc) << (now += 61);
    }

    // A claimed code is an attempt too; only the good claim itself is given back.
    httplib::Client client("127.0.0.1", relay.port());
    const auto session = client.Post("/v1/pairing/sessions",
                                     R"({"connectorDeviceId":"C1","connectorDeviceName":"Box"})",
                                     "application/json");
    ASSERT_TRUE(session && session->status == 200);
    const auto codeAt = session->body.find("\"pairingCode\"");
    const std::string code = session->body.substr(session->body.find('"', codeAt + 14) + 1, 6);
    const auto claim = [&] {
        return client
            .Post("/v1/pairing/claim", R"({"pairingCode":")" + code + R"("})", "application/json")
            ->status;
    };
    EXPECT_EQ(claim(), 200);
    for (int attempt = 0; attempt < 10; ++attempt) {
        EXPECT_EQ(claim(), 409);
    }
    EXPECT_EQ(claim(), 429);
}

} // namespace
} // namespace korvo

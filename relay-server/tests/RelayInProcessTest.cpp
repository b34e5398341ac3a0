// The relay served from this process, on loopback: no child process and no Qt, so these tests
// also run under ThreadSanitizer (`make test-thread`).

#include "RelayLoad.h"
#include "RelayServer.h"
#include "RelayStorage.h"
#include "SnapshotValidation.h"
#include "support/RawConnection.h"
#include "support/SanitizedBuild.h"
#include "support/TestDatabase.h"
#include "support/TestHome.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <sqlite3.h>
#include <thread>
#include <tuple>

namespace korvo {
namespace {

using Ms = std::chrono::milliseconds;
using relayserver::Claim;
using relayserver::RelayOptions;
using relayserver::RelayServer;
using relayserver::UnixTime;

// A relay on its own thread, its clock at `now`, believing X-Forwarded-For from loopback so a
// test can speak for many clients.
class InProcessRelay {
public:
    InProcessRelay(const std::string& db, std::atomic<UnixTime>& now, RelayOptions options)
        : store_(relayserver::openRelayStorage(db, 4, {})) {
        options.clock = [&now] { return now.load(); };
        options.trustedProxies.add("127.0.0.1/32");
        server_ = std::make_unique<RelayServer>(*store_, std::move(options),
                                                relayserver::validateUploadedSnapshot);
        port_ = server_->bind("127.0.0.1", 0);
        thread_ = std::thread([this] { server_->listen(); });
    }
    ~InProcessRelay() {
        server_->stop();
        thread_.join();
    }
    int port() const { return port_; }
    // POSTs `body` to `path` as the client `client`: the status, the retry-after header and
    // the body.
    std::tuple<int, std::string, std::string> post(const std::string& path, const std::string& body,
                                                   const std::string& client = "192.0.2.1") const {
        httplib::Client http("127.0.0.1", port_);
        const auto res = http.Post(path, {{"x-forwarded-for", client}}, body, "application/json");
        return res ? std::tuple(res->status, res->get_header_value("retry-after"), res->body)
                   : std::tuple(0, std::string(), std::string());
    }

private:
    std::unique_ptr<relayserver::RelayStorage> store_;
    std::unique_ptr<RelayServer> server_;
    std::thread thread_;
    int port_ = -1;
};

class RelayInProcessTest : public ::testing::Test {
protected:
    std::string db() const { return test::testDatabase(dir_.filePath("relay.db")); }
    // One relay, or on PostgreSQL two sharing the database (and so the limits).
    std::vector<std::unique_ptr<InProcessRelay>> relaysOnOneDatabase() {
        std::vector<std::unique_ptr<InProcessRelay>> relays;
        for (int i = 0; i < (test::onPostgres() ? 2 : 1); ++i) {
            relays.push_back(std::make_unique<InProcessRelay>(db(), now_, RelayOptions{}));
        }
        return relays;
    }

    test::TestHome dir_;
    std::atomic<UnixTime> now_{1'800'000'000};
};

const std::string kSession = R"({"connectorDeviceId":"C1","connectorDeviceName":"Box"})";

std::string claimBody(int code) {
    char text[8];
    std::snprintf(text, sizeof text, "%06d", code);
    return std::string(R"({"pairingCode":")") + text + "\"}";
}

// `count` claims of wrong codes (any but `live`), eight at a time, the i-th from the client
// `client(i)` through relay i % relays: how many were checked (404) and how many refused (429,
// with a retry-after of at most the ten-minute window).
std::pair<int, int> guessAtOnce(const std::vector<std::unique_ptr<InProcessRelay>>& relays,
                                int count, int live,
                                const std::function<std::string(int)>& client) {
    std::atomic<int> next = 0, checked = 0, refused = 0;
    std::vector<std::thread> guessers;
    for (int t = 0; t < 8; ++t) {
        guessers.emplace_back([&] {
            for (int i = next++; i < count; i = next++) {
                const auto [status, wait, body] =
                    relays[static_cast<std::size_t>(i) % relays.size()]->post(
                        "/v1/pairing/claim", claimBody((live + 1 + i) % 1'000'000), client(i));
                checked += status == 404;
                refused +=
                    status == 429 && std::atoi(wait.c_str()) > 0 && std::atoi(wait.c_str()) <= 600;
            }
        });
    }
    for (auto& guesser : guessers) {
        guesser.join();
    }
    return {checked.load(), refused.load()};
}

// Claims at once, through every relay of the database: each client network (an IPv4 /24, an
// IPv6 /64) gets five in ten minutes, and all of them together, from however many addresses,
// the relay-wide budget of 60 failures. A claimed code is an attempt too; only the good claim
// itself is given back.
TEST_F(RelayInProcessTest, GuessesAreCountedPerClientAndRelayWide) {
    const auto relays = relaysOnOneDatabase();
    const auto [status, wait, body] = relays[0]->post("/v1/pairing/sessions", kSession);
    ASSERT_EQ(status, 200);
    const int live = std::atoi(body.c_str() + body.find("\"pairingCode\":\"") + 15);
    for (int round = 0; round < 3; ++round) {
        // Two addresses of one /24 are one client.
        const std::string network = "198.18." + std::to_string(round) + ".";
        EXPECT_EQ(guessAtOnce(relays, 60, live,
                              [&](int i) { return network + std::to_string(1 + i % 2); }),
                  std::pair(5, 55))
            << network;
    }
    EXPECT_EQ(guessAtOnce(relays, 400, live,
                          [](int i) { return "2001:db8:" + std::to_string(i) + "::1"; }),
              std::pair(45, 355));

    // A window later the budget is whole again (and the first session gone with it).
    now_ += 600;
    const auto [again, waitAgain, fresh] = relays[0]->post("/v1/pairing/sessions", kSession);
    ASSERT_EQ(again, 200);
    const int code = std::atoi(fresh.c_str() + fresh.find("\"pairingCode\":\"") + 15);
    const auto claim = [&](std::size_t relay) {
        return std::get<0>(relays[relay % relays.size()]->post("/v1/pairing/claim", claimBody(code),
                                                               "198.51.100.1"));
    };
    EXPECT_EQ(claim(0), 200);
    for (std::size_t attempt = 0; attempt < 5; ++attempt) {
        EXPECT_EQ(claim(attempt), 409);
    }
    EXPECT_EQ(claim(1), 429);
}

// A flood from one client gets ten sessions, then 429 with the wait until the next one, its
// memory given back; other clients are not held back until the relay-wide cap of live sessions.
TEST_F(RelayInProcessTest, PairingSessionsAreLimitedPerClientAndRelayWide) {
    RelayOptions options;
    options.maxLiveSessions = 13;
    InProcessRelay relay(db(), now_, options);
    const auto create = [&](const std::string& client) {
        const auto [status, wait, body] = relay.post(
            "/v1/pairing/sessions",
            R"({"connectorDeviceId":"C","connectorDeviceName":")" + std::string(200, 'n') + "\"}",
            client); // the longest name allowed
        return std::to_string(status) + " " + wait;
    };
    const double baseline = relayserver::residentMiB(::getpid());
    std::map<std::string, int> answers;
    for (int i = 0; i < 300; ++i) {
        ++answers[create("192.0.2.1")];
    }
    EXPECT_EQ(answers, (std::map<std::string, int>{{"200 ", 10}, {"429 60", 290}}));
    if (!test::kSanitizedBuild) {
        EXPECT_LT(relayserver::residentMiB(::getpid()), std::max(64.0, baseline + 8.0));
    }
    EXPECT_EQ(create("192.0.2.2"), "200 ") << "another client is not held back";
    now_ += 60;
    EXPECT_EQ(create("192.0.2.1"), "200 ") << "one more after a minute";
    EXPECT_EQ(create("192.0.2.1"), "429 60");
    EXPECT_EQ(create("192.0.2.3"), "200 ");
    EXPECT_EQ(create("192.0.2.4"), "503 60") << "13 sessions live";
    now_ += 600; // they expire
    EXPECT_EQ(create("192.0.2.4"), "200 ");
}

// A client that sends requests and never reads the answers is cut off once an answer has waited
// a second to be read, instead of holding its connection and the answers' memory.
TEST_F(RelayInProcessTest, AClientThatDoesNotReadItsAnswersIsCutOff) {
    RelayOptions options;
    options.http.sendTimeout = Ms(1000);
    InProcessRelay relay(db(), now_, options);
    test::RawConnection connection(relay.port());
    ASSERT_TRUE(connection.connected());
    const timeval limit{5, 0};
    ::setsockopt(connection.descriptor(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::string requests;
    for (int i = 0; i < 3000; ++i) {
        requests += "GET /app.js HTTP/1.1\r\nHost: relay\r\n\r\n"; // 9 KiB answers
    }
    const auto begin = std::chrono::steady_clock::now();
    connection.send(requests);
    std::this_thread::sleep_until(begin + Ms(2500));
    const std::string answers = connection.read(Ms(5000));
    EXPECT_TRUE(connection.closed());
    EXPECT_LT(test::RawConnection::answers(answers), 3000);
}

// Devices pairing and uploading at once, each read back by its phone: under ThreadSanitizer, the
// upload path and the store's own maintenance thread.
TEST_F(RelayInProcessTest, ConcurrentUploadsLoseNothing) {
    InProcessRelay relay(db(), now_, RelayOptions{});
    const auto report = relayserver::runUploadLoad("127.0.0.1", relay.port(), 8, 400);
    for (const auto& problem : report.problems) {
        ADD_FAILURE() << problem;
    }
    EXPECT_EQ(report.uploads, 400);
    EXPECT_TRUE(report.lostNothing());
}

TEST_F(RelayInProcessTest, StoreTheSweepForgetsSessionsADayAfterExpiryFindingThemByIndex) {
    const auto opened = relayserver::openRelayStorage(db(), 2, {});
    auto& store = *opened;
    const auto old = store.createSession("C-OLD", "Box", 1000);
    const auto claimed = store.createSession("C-CLAIMED", "Box", 1000);
    const auto live = store.createSession("C-LIVE", "Box", 1000 + 86'400);
    ASSERT_TRUE(old && claimed && live);
    ASSERT_EQ(store.claim(claimed->code, "Phone", 1001).outcome, Claim::Outcome::claimed);
    EXPECT_EQ(store.liveSessions(1001), 2u) << "a claimed session is not live";
    EXPECT_EQ(store.liveSessions(1600), 1u) << "nor an expired one";

    EXPECT_EQ(store.sweepExpiredSessions(1000 + 600), 0u);
    EXPECT_EQ(store.pollSession(claimed->id, claimed->secret, 1000 + 600).outcome,
              relayserver::SessionPoll::Outcome::paired);
    EXPECT_EQ(store.sweepExpiredSessions(1000 + 600 + 86'400), 2u);
    for (const auto& gone : {*old, *claimed}) {
        EXPECT_EQ(store.pollSession(gone.id, gone.secret, 1000 + 600 + 86'400).outcome,
                  relayserver::SessionPoll::Outcome::unknown);
    }
    EXPECT_EQ(store.pollSession(live->id, live->secret, 1000 + 86'401).outcome,
              relayserver::SessionPoll::Outcome::pending);

    if (test::onPostgres()) {
        return;
    }
    // Both sweeps find their rows through an index, not by reading the whole table.
    sqlite3* file = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "relay.db").c_str(), &file), SQLITE_OK);
    for (const char* query :
         {"EXPLAIN QUERY PLAN SELECT rowid FROM pairing_sessions WHERE expires_at <= 5",
          "EXPLAIN QUERY PLAN SELECT rowid FROM pairing_sessions WHERE expires_at <= 5 AND "
          "connector_token_sealed IS NOT NULL"}) {
        std::string plan;
        sqlite3_exec(
            file, query,
            [](void* out, int columns, char** values, char**) {
                *static_cast<std::string*>(out) += values[columns - 1];
                return 0;
            },
            &plan, nullptr);
        EXPECT_NE(plan.find("USING"), std::string::npos) << query << ": " << plan;
        EXPECT_NE(plan.find("INDEX"), std::string::npos) << query << ": " << plan;
    }
    sqlite3_close(file);
}

} // namespace
} // namespace korvo

// The relay against a PostgreSQL that stalls, restarts or fails: run by the PostgreSQL pass
// of the suite (scripts/with-postgres), skipped elsewhere.

#include "RelayLoad.h"
#include "support/PairedConnector.h"
#include "support/RelayProcess.h"
#include "support/TestDatabase.h"
#include "support/TestHome.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvo {
namespace {

using Clock = std::chrono::steady_clock;
using test::PairedConnector;
using test::RelayProcess;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Words of PostgreSQL's and SQL's that no answer may carry.
bool showsDatabaseText(const std::string& body) {
    for (const char* word : {"PostgreSQL", "postgres", "SQL", "ERROR", "relation", "statement",
                             "lock", "timeout", "INSERT", "SELECT", "UPDATE"}) {
        if (body.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class RelayDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::onPostgres() || std::getenv("KORVO_PG_CTL") == nullptr) {
            GTEST_SKIP() << "needs PostgreSQL (scripts/with-postgres)";
        }
        db_ = test::testDatabase(dir_.filePath("relay.db"));
        const auto at = db_.find("search_path%3D");
        ASSERT_NE(at, std::string::npos);
        schema_ = db_.substr(at + 14);
    }
    void start(const std::vector<std::string>& extra = {}) {
        relay_ = std::make_unique<RelayProcess>(
            RelayProcess::Executable{KORVO_BIN_DIR "/korvo-relay"}, db_, extra);
        ASSERT_GT(relay_->port(), 0);
    }
    int port() const { return relay_->port(); }

    // Runs SQL through psql in the relay's schema; its exit status.
    int psql(const std::string& sql) const {
        const std::string command =
            "psql -q -X -v ON_ERROR_STOP=1 -c 'SET search_path = " + schema_ + "; " + sql +
            "' >/dev/null 2>&1";
        return std::system(command.c_str());
    }
    // Runs `action` ("-m fast -w restart", ...) of pg_ctl on the test's cluster.
    static int pgCtl(const std::string& action) {
        const std::string command =
            std::string(std::getenv("KORVO_PG_CTL")) + " " + action + " >/dev/null 2>&1";
        return std::system(command.c_str());
    }
    // Starts psql holding every table the relay uses locked for `seconds`; returns once the
    // locks are held.
    pid_t lockTablesFor(int seconds) const {
        const pid_t child = ::fork();
        if (child == 0) {
            std::freopen("/dev/null", "w", stdout);
            const std::string sql = "BEGIN; SET search_path = " + schema_ +
                                    "; LOCK TABLE devices, snapshots, sync_spaces, "
                                    "pairing_sessions IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(" +
                                    std::to_string(seconds) + "); COMMIT;";
            ::execlp("psql", "psql", "-q", "-X", "-c", sql.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            const std::string held =
                "psql -X -At -c \"SELECT 1 FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = '" +
                schema_ +
                "' AND c.relname = 'snapshots' AND l.mode = 'AccessExclusiveLock' AND "
                "l.granted\" | grep -q 1";
            if (std::system(held.c_str()) == 0) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return child;
    }

    test::TestHome dir_;
    std::string db_, schema_;
    std::unique_ptr<RelayProcess> relay_;
};

TEST_F(RelayDatabaseTest, ThroughALockedDatabaseHealthAndTheWebViewAnswerAndEveryUploadInTime) {
    start();
    const auto paired = PairedConnector::pair(port());
    ASSERT_FALSE(paired.connectorToken.empty());
    httplib::Client client("127.0.0.1", port());
    ASSERT_EQ(paired.upload(client, 0)->status, 200);

    // 10 s unless KORVO_STALL_SECONDS says otherwise (for measuring longer stalls by hand).
    const char* stall = std::getenv("KORVO_STALL_SECONDS");
    const int kStallSeconds = stall != nullptr ? std::max(2, std::atoi(stall)) : 10;
    const pid_t locker = lockTablesFor(kStallSeconds);
    const auto stallStart = Clock::now();
    relayserver::LatencyProbe health(port(), 50);
    // More uploads at once than the relay has threads and pooled connections together.
    struct Outcome {
        int status = -1;
        double ms = 0;
        std::string body, retryAfter;
    };
    std::vector<Outcome> outcomes(40);
    std::vector<std::thread> uploads;
    for (int i = 0; i < static_cast<int>(outcomes.size()); ++i) {
        uploads.emplace_back([&, i] {
            httplib::Client c("127.0.0.1", port());
            c.set_read_timeout(30, 0);
            const auto start = Clock::now();
            const auto res = paired.upload(c, i + 1);
            outcomes[i].ms = msSince(start);
            if (res) {
                outcomes[i].status = res->status;
                outcomes[i].body = res->body;
                outcomes[i].retryAfter = res->get_header_value("retry-after");
            }
        });
    }
    // The web view's files too, while every upload waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double pageMs = 0;
    int pageStatus = -1;
    {
        httplib::Client c("127.0.0.1", port());
        const auto start = Clock::now();
        const auto page = c.Get("/");
        pageMs = msSince(start);
        pageStatus = page ? page->status : -1;
    }
    for (auto& t : uploads) {
        t.join();
    }
    while (msSince(stallStart) < (kStallSeconds - 1) * 1000.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    health.stop();
    int status = 0;
    ::waitpid(locker, &status, 0);

    int answered = 0;
    double slowest = 0;
    for (const auto& o : outcomes) {
        answered += o.status == 200 ? 1 : 0;
        slowest = std::max(slowest, o.ms);
    }
    std::printf("%d s stall: /health p50 %.1f ms, max %.1f ms over %d probes; web page %.1f ms; "
                "%d uploads: %d answered 200, the rest 503, slowest %.0f ms\n",
                kStallSeconds, health.percentileMs(0.5), health.maxMs(), health.samples(), pageMs,
                static_cast<int>(outcomes.size()), answered, slowest);
    EXPECT_EQ(pageStatus, 200);
    EXPECT_LT(pageMs, 1000);
    EXPECT_EQ(health.failures(), 0);
    EXPECT_GT(health.samples(), 20);
    EXPECT_LT(health.maxMs(), 1000) << "p50 " << health.percentileMs(0.5);
    int refused = 0;
    for (const auto& o : outcomes) {
        SCOPED_TRACE(o.body);
        EXPECT_TRUE(o.status == 200 || o.status == 503) << o.status;
        EXPECT_LT(o.ms, 8000);
        EXPECT_FALSE(showsDatabaseText(o.body));
        if (o.status == 503) {
            ++refused;
            EXPECT_FALSE(o.retryAfter.empty());
        }
    }
    EXPECT_GT(refused, 0);
    // Once the lock is gone, uploads go through again.
    ASSERT_TRUE(paired.upload(client, 100));
    EXPECT_EQ(paired.upload(client, 100)->status, 200);
}

TEST_F(RelayDatabaseTest, AfterARestartNoRequestFailsAndReadinessFollowsTheDatabase) {
    start({"--db-pool", "4"});
    const auto paired = PairedConnector::pair(port());
    ASSERT_FALSE(paired.connectorToken.empty());
    httplib::Client client("127.0.0.1", port());
    // Every pooled connection has served a request before the restart.
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(paired.upload(client, i)->status, 200);
    }
    const auto ready = [&] {
        const auto res = client.Get("/health/ready");
        return res ? res->status : -1;
    };
    EXPECT_EQ(ready(), 200);

    ASSERT_EQ(pgCtl("-m fast -w restart"), 0);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const auto res = i % 2 == 0 ? paired.upload(client, 10 + i) : paired.latest(client);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
    }

    ASSERT_EQ(pgCtl("-m fast -w stop"), 0);
    const auto start = Clock::now();
    const auto health = client.Get("/health");
    EXPECT_LT(msSince(start), 1000);
    EXPECT_TRUE(health && health->status == 200);
    EXPECT_EQ(ready(), 503);
    const auto refused = paired.upload(client, 50);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_FALSE(refused->get_header_value("retry-after").empty());
    EXPECT_FALSE(showsDatabaseText(refused->body)) << refused->body;

    ASSERT_EQ(pgCtl("-w start"), 0);
    EXPECT_EQ(ready(), 200);
    for (int i = 0; i < 6; ++i) {
        const auto res = paired.upload(client, 60 + i);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
    }
}

TEST_F(RelayDatabaseTest, AnInternalErrorShowsNoDatabaseTextButARequestId) {
    start();
    const auto paired = PairedConnector::pair(port());
    ASSERT_FALSE(paired.connectorToken.empty());
    httplib::Client client("127.0.0.1", port());
    ASSERT_EQ(psql("ALTER TABLE snapshots RENAME TO snapshots_gone"), 0);
    const auto res = paired.upload(client, 1);
    ASSERT_EQ(psql("ALTER TABLE snapshots_gone RENAME TO snapshots"), 0);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
    const std::string id = res->get_header_value("x-request-id");
    EXPECT_EQ(id.size(), 16u);
    EXPECT_EQ(res->body, R"({"error":"Internal error","requestId":")" + id + R"("})");
    EXPECT_EQ(paired.upload(client, 2)->status, 200);
}

} // namespace
} // namespace korvo

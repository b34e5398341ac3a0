// The relay's usage series: kept per connector device in either backend, bounded, thinned to a
// point per five minutes, gone with the device; drawn into the web view's rows as a sparkline
// and the desktop's pace line, while the app's own answers stay as they were.

#include "RelayStorage.h"
#include "SnapshotView.h"
#include "UsageSeries.h"
#include "UsageSeriesSteps.h"
#include "model/SnapshotJson.h"
#include "support/PairedConnector.h"
#include "support/RelayProcess.h"
#include "support/TestDatabase.h"
#include "support/TestHome.h"
#include "support/TestSnapshot.h"

#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <simdjson.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using relayserver::UnixTime;
using relayserver::UsageSeriesPoint;
using test::PairedConnector;
using test::RelayProcess;

constexpr UnixTime kT0 = 1'800'000'000; // 08:00 UTC, on a five-minute step
constexpr UnixTime kStep = relayserver::kUsageSeriesStep;

// A snapshot whose "claude" row of a five-hour window resetting at kT0 + 5 h is `used` % used.
UsageSnapshot snapshotAt(const std::string& space, int serial, double used) {
    UsageSnapshot s = test::testSnapshot(space, serial);
    ProviderUsage& row = s.providers.front();
    row.id = "claude";
    row.usage.usedPercent = used;
    row.window = UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt,
                             instantFromUnixSeconds(kT0 + 5 * 3600)};
    return s;
}

std::vector<UnixTime> timesOf(const std::vector<UsageSeriesPoint>& points) {
    std::vector<UnixTime> times;
    for (const auto& p : points) {
        times.push_back(p.at);
    }
    return times;
}

// The store itself, on whichever backend the run uses, with a connector paired through it.
class RelayUsageSeriesStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        store_ = relayserver::openRelayStorage(test::testDatabase(dir_.filePath("relay.db")), 2,
                                               nullptr);
        const auto session = store_->createSession("CONNECTOR-1", "Build Box", kT0);
        ASSERT_TRUE(session);
        const auto claimed = store_->claim(session->code, "Phone", kT0);
        ASSERT_EQ(claimed.outcome, relayserver::Claim::Outcome::claimed);
        space_ = claimed.syncSpaceId;
        phone_ = claimed.phoneDeviceId;
        secret_ = session->secret;
        sessionId_ = session->id;
        token_ = *store_->pollSession(session->id, session->secret, kT0).connectorDeviceToken;
    }
    bool upload(UnixTime at, double used, int serial = 0) {
        const auto body = encodeSnapshot(snapshotAt(space_, serial, used)).value();
        return store_->uploadSnapshot(space_, token_, "CONNECTOR-1", "snap", body, at,
                                      relayserver::encodeUsageReadings(body));
    }
    std::vector<UsageSeriesPoint> series(UnixTime now) {
        return store_->usageSeries(space_, "CONNECTOR-1", now);
    }

    test::TestHome dir_;
    std::unique_ptr<relayserver::RelayStorage> store_;
    std::string space_, phone_, token_, secret_, sessionId_;
};

TEST_F(RelayUsageSeriesStoreTest, OnePointPerFiveMinutesTheFirstOfEach) {
    // Uploads at 0, 1:00, 4:59, 5:00 and 9:59 minutes: two steps, each its first upload.
    for (const UnixTime at : {kT0, kT0 + 60, kT0 + 299, kT0 + 300, kT0 + 599}) {
        ASSERT_TRUE(upload(at, double(at - kT0) / 10));
    }
    const auto points = series(kT0 + 599);
    EXPECT_EQ(timesOf(points), (std::vector<UnixTime>{kT0, kT0 + 300}));
    const auto decoded = relayserver::decodeUsageSeries(points);
    ASSERT_EQ(decoded.count("claude"), 1u);
    EXPECT_EQ(decoded.at("claude").back().usedPercent, 30.0);
    EXPECT_EQ(decoded.at("claude").back().resetAt, instantFromUnixSeconds(kT0 + 5 * 3600));
    // A refused upload (another device's token) records nothing.
    EXPECT_FALSE(store_->uploadSnapshot(space_, "wrong", "CONNECTOR-1", "snap", "{}", kT0 + 900,
                                        "claude\t1.0\t\n"));
    EXPECT_EQ(series(kT0 + 900).size(), 2u);
    // The slow path (authenticated first) records its point too.
    ASSERT_TRUE(
        store_->putSnapshot(space_, "snap", "{}", kT0 + 1200, "CONNECTOR-1", "claude\t70.0\t\n"));
    EXPECT_EQ(series(kT0 + 1200).back().at, kT0 + 1200);
}

TEST_F(RelayUsageSeriesStoreTest, AtMost48HoursOfPointsAreKeptAndAClockGoneBackDropsTheFuture) {
    const UnixTime points = static_cast<UnixTime>(relayserver::kUsageSeriesPoints);
    // 50 hours of uploads, one per step, but for the step an hour before the last.
    const UnixTime last = kT0 + (points + 24 - 1) * kStep;
    for (UnixTime at = kT0; at <= last; at += kStep) {
        ASSERT_TRUE(at == last - 3600 || upload(at, 1));
    }
    auto kept = series(last);
    ASSERT_EQ(kept.size(), relayserver::kUsageSeriesPoints - 1); // 48 hours but the missing step
    EXPECT_EQ(kept.front().at, last - (points - 1) * kStep);
    // The older steps left the database, not only the answer: read as of ten hours ago, the
    // series holds the 38 hours it shares with today's.
    EXPECT_EQ(series(last - 10 * 3600).size(), relayserver::kUsageSeriesPoints - 120);
    // The relay's clock goes back an hour, to the missing step: its new point drops the steps
    // after it.
    ASSERT_TRUE(upload(last - 3600, 2));
    kept = series(last);
    EXPECT_EQ(kept.back().at, last - 3600);
    EXPECT_EQ(kept.size(), relayserver::kUsageSeriesPoints - 12);
}

TEST_F(RelayUsageSeriesStoreTest, TheSeriesGoesWithItsDeviceItsSpaceAndARevokedConnector) {
    enum class Removal { unlinkConnector, lastDevice, retention, revoked };
    for (const Removal removal :
         {Removal::unlinkConnector, Removal::lastDevice, Removal::retention, Removal::revoked}) {
        SetUp(); // a fresh pairing in the same store
        ASSERT_TRUE(upload(kT0, 10));
        ASSERT_EQ(series(kT0).size(), 1u);
        switch (removal) {
        case Removal::unlinkConnector:
            ASSERT_TRUE(store_->deleteDevice(space_, "CONNECTOR-1"));
            break;
        case Removal::lastDevice:
            ASSERT_TRUE(store_->deleteDevice(space_, phone_));
            EXPECT_EQ(series(kT0).size(), 1u); // the phone's going leaves the connector's
            ASSERT_TRUE(store_->deleteDevice(space_, "CONNECTOR-1"));
            break;
        case Removal::retention:
            store_->sweepExpiredSessions(kT0 + store_->retention() + 1);
            break;
        case Removal::revoked:
            store_->pollSession(sessionId_, secret_, kT0 + 1);
            break;
        }
        EXPECT_TRUE(series(kT0).empty()) << static_cast<int>(removal);
        // An upload authenticated just before its space went is refused and stores nothing.
        if (removal == Removal::lastDevice || removal == Removal::retention) {
            EXPECT_FALSE(store_->putSnapshot(space_, "late", "{}", kT0 + 2, "CONNECTOR-1",
                                             "claude\t1.0\t\n"));
            EXPECT_FALSE(store_->latestSnapshot(space_)) << static_cast<int>(removal);
            EXPECT_TRUE(series(kT0 + 2).empty());
        }
    }
}

// The readings a point stores: bounded in rows and id length, tolerant of damaged lines.
TEST(RelayUsageSeriesReadings, EncodeBoundsRowsAndDecodeSkipsDamagedLines) {
    UsageSnapshot s = test::testSnapshot("space");
    s.providers.clear();
    for (int i = 0; i < 20; ++i) {
        ProviderUsage row = test::testSnapshot("space").providers.front();
        row.id = "row" + std::to_string(i);
        row.usage.usedPercent = std::nullopt;
        row.usage.remainingPercent = 25.04; // used: 100 - remaining
        s.providers.push_back(row);
    }
    s.providers[0].id = std::string(relayserver::kMaxUsageSeriesIdBytes + 1, 'x');
    s.providers[1].usage.remainingPercent = std::nullopt; // no figure: no reading
    const std::string readings = relayserver::encodeUsageReadings(encodeSnapshot(s).value());
    EXPECT_LE(readings.size(), relayserver::kMaxUsageReadingsBytes);
    const auto decoded = relayserver::decodeUsageSeries({{kT0, readings}});
    ASSERT_EQ(decoded.size(), relayserver::kMaxUsageSeriesRows);
    EXPECT_EQ(decoded.begin()->first, "row10"); // rows 2 to 13, in id order
    EXPECT_EQ(decoded.at("row2").front().usedPercent, 75.0);
    EXPECT_FALSE(decoded.at("row2").front().resetAt);

    const auto damaged = relayserver::decodeUsageSeries(
        {{kT0,
          "a\t1.5\t1800003600\nb\tx\t\nc\t2\t9e99\nd 3\ne\t4\t\n\t5\t\nf\t6\t-99999999999\n"}});
    std::vector<std::string> ids;
    for (const auto& [id, points] : damaged) {
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "e"}));
    EXPECT_EQ(damaged.at("a").front().resetAt, instantFromUnixSeconds(1'800'003'600));
}

// The relay skips the series for the other uploads of a step it stored, and forgets all at its
// bound rather than grow.
TEST(RelayUsageSeriesSteps, AStepIsDueOncePerConnectorWithinABoundedMemory) {
    relayserver::UsageSeriesSteps steps;
    EXPECT_TRUE(steps.due("space", "a", 7));
    steps.stored("space", "a", 7);
    EXPECT_FALSE(steps.due("space", "a", 7));
    EXPECT_TRUE(steps.due("space", "a", 8));
    EXPECT_TRUE(steps.due("space", "b", 7));
    EXPECT_TRUE(steps.due("other", "a", 7));
    for (std::size_t i = 1; i < relayserver::UsageSeriesSteps::kMaxDevices; ++i) {
        steps.stored("space", std::to_string(i), 7);
    }
    EXPECT_EQ(steps.size(), relayserver::UsageSeriesSteps::kMaxDevices);
    steps.stored("space", "one more", 7);
    EXPECT_EQ(steps.size(), 1u);
    EXPECT_TRUE(steps.due("space", "a", 7));
}

// More readings than a sparkline draws are thinned evenly, the first and the latest kept.
TEST(RelayUsageSeriesView, ASparklineCarriesAtMostItsLimitOfPoints) {
    UsageSnapshot s = snapshotAt("space", 0, 60);
    std::vector<UsagePoint> points;
    for (int i = 0; i < 200; ++i) {
        points.push_back({instantFromUnixSeconds(kT0 + i * 60), 0.25 * i,
                          instantFromUnixSeconds(kT0 + 5 * 3600)});
    }
    const auto view = relayserver::snapshotViewJson(encodeSnapshot(s).value(), "Box",
                                                    instantFromUnixSeconds(kT0 + 199 * 60), true,
                                                    {{"claude", points}});
    ASSERT_TRUE(view);
    simdjson::dom::parser parser;
    simdjson::dom::array line;
    ASSERT_EQ(parser.parse(*view)["providers"].at(0)["sparkline"].get(line), simdjson::SUCCESS);
    ASSERT_EQ(line.size(), relayserver::kMaxSparklinePoints);
    EXPECT_EQ(int64_t(line.at(0).at(0)), kT0);
    EXPECT_EQ(int64_t(line.at(line.size() - 1).at(0)), kT0 + 199 * 60);
    EXPECT_EQ(double(line.at(line.size() - 1).at(1)), 49.8); // 49.75 to a tenth
}

// Through korvo-relay: the web view draws from the series, the app's answer is untouched.
class RelayUsageSeriesViewTest : public ::testing::Test {
protected:
    void setNow(UnixTime seconds) {
        std::ofstream(dir_.filePath("now"), std::ios::trunc) << seconds;
    }
    void start(std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"--clock-file", dir_.filePath("now")});
        relay_ =
            std::make_unique<RelayProcess>(dir_.filePath(std::to_string(++relays_) + ".db"), extra);
        ASSERT_GT(relay_->port(), 0);
        client_ = std::make_unique<httplib::Client>("127.0.0.1", relay_->port());
        paired_ = PairedConnector::pair(relay_->port());
        ASSERT_FALSE(paired_.connectorToken.empty());
    }
    // A steady 1 % a minute from 10 % at kT0, one upload a minute for 40 minutes.
    std::string burn() {
        std::string body;
        for (int minute = 0; minute <= 40; ++minute) {
            setNow(kT0 + minute * 60);
            body = encodeSnapshot(snapshotAt(paired_.syncSpaceId, minute, 10 + minute)).value();
            const auto res =
                client_->Post(("/v1/sync-spaces/" + paired_.syncSpaceId + "/snapshots").c_str(),
                              paired_.bearer(paired_.connectorToken), body, "application/json");
            EXPECT_TRUE(res && res->status == 200);
        }
        return body;
    }
    // The first row of the view as asked for with `query`: its pace line and sparkline size.
    std::pair<std::string, std::size_t> row(const std::string& query) {
        const auto res = client_->Get("/v1/sync-spaces/" + paired_.syncSpaceId +
                                          "/snapshots/latest/view" + query,
                                      paired_.bearer(paired_.phoneToken));
        EXPECT_TRUE(res && res->status == 200);
        simdjson::dom::parser parser;
        simdjson::dom::element first;
        if (!res || parser.parse(res->body)["providers"].at(0).get(first) != simdjson::SUCCESS) {
            return {};
        }
        std::string_view pace;
        simdjson::dom::array line;
        return {first["pace"].get(pace) == simdjson::SUCCESS ? std::string(pace) : "",
                first["sparkline"].get(line) == simdjson::SUCCESS ? line.size() : 0};
    }

    test::TestHome dir_;
    int relays_ = 0;
    std::unique_ptr<RelayProcess> relay_;
    std::unique_ptr<httplib::Client> client_;
    PairedConnector paired_;
};

TEST_F(RelayUsageSeriesViewTest, RowsCarryTheDesktopsPaceInThePhonesTimeZone) {
    setNow(kT0);
    start();
    const std::string body = burn();
    // 50 % used at 08:40 UTC, 60 % an hour: the limit at 09:30 UTC, the reset at 13:00.
    const std::pair<std::string, std::string> cases[] = {
        {"?utcOffset=120", "At this pace: limit at 11:30, 3 h 30 min before the reset"},
        {"?utcOffset=-90", "At this pace: limit at 08:00, 3 h 30 min before the reset"},
        {"", "At this pace: limit at 09:30, 3 h 30 min before the reset"},
        // Anything but whole minutes within 14 hours is UTC.
        {"?utcOffset=841", "At this pace: limit at 09:30, 3 h 30 min before the reset"},
        {"?utcOffset=1e2", "At this pace: limit at 09:30, 3 h 30 min before the reset"},
        {"?utcOffset=%2B60", "At this pace: limit at 09:30, 3 h 30 min before the reset"},
    };
    for (const auto& [query, pace] : cases) {
        const auto [text, points] = row(query);
        EXPECT_EQ(text, pace) << query;
        EXPECT_EQ(points, 9u) << query; // the last upload of each of nine five-minute steps
    }
    // The app's answer is the uploaded body, byte for byte.
    const auto latest = paired_.latest(*client_);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->body, body);

    // Unlinking the connector takes its series: the view's rows draw nothing more.
    ASSERT_EQ(client_
                  ->Delete("/v1/sync-spaces/" + paired_.syncSpaceId + "/devices/CONNECTOR-1",
                           paired_.bearer(paired_.phoneToken))
                  ->status,
              200);
    EXPECT_EQ(row(""), (std::pair<std::string, std::size_t>{"", 0}));
}

TEST_F(RelayUsageSeriesViewTest, WithTheSeriesOffTheViewIsAsBefore) {
    setNow(kT0);
    start({"--usage-series", "off"});
    burn();
    EXPECT_EQ(row(""), (std::pair<std::string, std::size_t>{"", 0}));
}

} // namespace
} // namespace korvo

#include "../platform/PrivateBus.h"
#include "CannedHttpServer.h"
#include "CoreTestSupport.h"
#include "platform/PowerEvents.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::CannedHttpServer;
using test::ModelHarness;

// A paired model whose uploads go to a canned relay; sleep and wake arrive from logind on a
// private bus.
class SleepWakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.isRunning());
        ASSERT_TRUE(bus_.becomeLogind());
        power_ = std::make_unique<LogindPowerEvents>(bus_.address());
        ASSERT_TRUE(power_->isListening());
        h_.options.powerEvents = power_.get();
        h_.options.defaultRelayURL = server_.baseURL();
        h_.options.manifestURL =
            server_.baseURL().resolved(QUrl(QStringLiteral("/download/linux/manifest.json")));
        server_.answer(
            "POST /v1/sync-spaces/space_1/snapshots",
            {200, R"({"status":"ok","snapshotId":"x","updatedAt":"2026-03-01T09:14:05Z"})", {}});
        server_.answer("GET /v1/sync-spaces/space_1/devices", {200, R"({"devices":[]})", {}});
    }

    ConnectorModel& pairedModel() {
        h_.storePairing(QStringLiteral("space_1"), "token");
        ConnectorModel& m = h_.make();
        test::finish(m.start());
        return m;
    }
    int uploads() const { return server_.count("POST /v1/sync-spaces/"); }

    test::PrivateBus bus_;
    std::unique_ptr<LogindPowerEvents> power_;
    CannedHttpServer server_;
    ModelHarness h_;
};

TEST_F(SleepWakeTest, SleepMarksTheMachineAndWakeUploadsShortlyAfter) {
    ConnectorModel& m = pairedModel();
    const Instant sleptAt = h_.clock.now();
    ASSERT_TRUE(bus_.prepareForSleep(true));
    ASSERT_TRUE(test::eventually([&] { return m.powerStatus() == QLatin1String("Sleeping"); }));
    EXPECT_EQ(m.lastSleepAt(), sleptAt);
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Mac sleeping"));
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Mac sleeping"));
    EXPECT_TRUE(m.hasAutoSyncTask()); // the loop keeps running

    h_.clock.advance(std::chrono::minutes(40));
    ASSERT_TRUE(bus_.prepareForSleep(false));
    ASSERT_TRUE(test::eventually([&] { return m.powerStatus() == QLatin1String("Awake"); }));
    EXPECT_EQ(m.lastWakeAt(), h_.clock.now());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Woke; syncing"));
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Active"));
    EXPECT_EQ(uploads(), 0); // not before the wake delay

    ASSERT_TRUE(test::eventually([&] { return !m.hasWakeRefreshTask(); }));
    EXPECT_EQ(uploads(), 1);
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Connected to iPhone"));
    EXPECT_EQ(m.deviceListStatus(), QStringLiteral("No devices"));
    EXPECT_EQ(server_.count("GET /download/linux/manifest.json"), 2); // start, then wake
}

TEST_F(SleepWakeTest, TwoWakesWithinTheDelayGiveOneCatchUp) {
    h_.options.wakeDelay = std::chrono::milliseconds(500);
    ConnectorModel& m = pairedModel();
    m.handleWake();
    QTest::qWait(50);
    m.handleWake();
    ASSERT_TRUE(test::eventually([&] { return !m.hasWakeRefreshTask(); }));
    QTest::qWait(600);
    EXPECT_EQ(uploads(), 1);
}

TEST_F(SleepWakeTest, WakeWhileNotPairedOnlyRecordsTheTime) {
    ConnectorModel& m = h_.make();
    m.handleSleep();
    EXPECT_EQ(m.powerStatus(), QStringLiteral("Sleeping"));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Not paired"));
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Paused"));
    m.handleWake();
    EXPECT_EQ(m.powerStatus(), QStringLiteral("Awake"));
    EXPECT_TRUE(m.lastWakeAt().has_value());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Not paired"));
    EXPECT_FALSE(m.hasWakeRefreshTask());
    EXPECT_FALSE(m.hasAutoSyncTask());
}

TEST_F(SleepWakeTest, OneLoopAtATimeAndNothingAfterStop) {
    h_.options.syncInterval = std::chrono::milliseconds(100);
    ConnectorModel& m = pairedModel();
    m.startAutoSync();
    m.startAutoSync();
    // One loop: roughly one upload per interval, not two.
    ASSERT_TRUE(test::eventually([&] { return uploads() >= 3; }));
    const int seen = uploads();
    QTest::qWait(150);
    EXPECT_LE(uploads() - seen, 2);

    m.stopAutoSync();
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Paused"));
    EXPECT_FALSE(m.hasAutoSyncTask());
    QTest::qWait(200); // a cycle already running completes
    const int stopped = uploads();
    QTest::qWait(400);
    EXPECT_EQ(uploads(), stopped);
}

TEST_F(SleepWakeTest, StartAutoSyncWhileNotPairedIsPaused) {
    ConnectorModel& m = h_.make();
    m.startAutoSync();
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Paused"));
    EXPECT_FALSE(m.hasAutoSyncTask());
}

TEST_F(SleepWakeTest, ADestroyedModelEndsItsTasks) {
    h_.options.syncInterval = std::chrono::milliseconds(50);
    auto m = std::make_unique<ConnectorModel>(h_.options);
    h_.storePairing(QStringLiteral("space_1"), "token");
    test::finish(m->start());
    ASSERT_TRUE(m->hasAutoSyncTask());
    m->handleWake();
    m.reset();
    QTest::qWait(300);
    EXPECT_EQ(uploads(), 0);
}

} // namespace
} // namespace korvo

#include "core/TaskSupport.h"
#include "platform/PowerEvents.h"
#include "support/ModelHarness.h"

#include <QElapsedTimer>

namespace korvo {
namespace {

// The pauses of every loop: a cancel ends one on a later turn of the event loop (never inside
// cancel(), which a destructor may call), and a recheck before the deadline keeps it pausing.
TEST(TaskSupportTest, CancellingEndsAPauseLaterAndARecheckKeepsIt) {
    auto flag = std::make_shared<CancellationFlag>();
    QElapsedTimer elapsed;
    elapsed.start();
    QCoro::Task<> pause = cancellableSleep(300ms, flag);
    QTest::qWait(50);
    flag->recheckClock();
    QTest::qWait(50);
    EXPECT_FALSE(pause.isReady());
    test::finish(std::move(pause));
    EXPECT_GE(elapsed.elapsed(), 280);

    elapsed.restart();
    QCoro::Task<> cancelled = cancellableSleep(1h, flag);
    flag->cancel();
    EXPECT_FALSE(cancelled.isReady());
    test::finish(std::move(cancelled));
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_TRUE(cancellableSleep(1h, flag).isReady()); // already cancelled: no wait at all
}

// A model whose uploads go to a canned relay; sleep and wake arrive as the platform's power
// events announce them (how logind's become these is tested with the Linux platform services).
class SleepWakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        h_.options.powerEvents = &power_;
        h_.pointAt(server_.url());
        server_.answer("POST /v1/sync-spaces/space_1/snapshots", 200,
                       R"({"status":"ok","snapshotId":"x","updatedAt":"2026-03-01T09:14:05Z"})");
        server_.answer("GET /v1/sync-spaces/space_1/devices", 200, R"({"devices":[]})");
    }
    // Starting a paired model shows it connected and starts the loop without uploading.
    ConnectorModel& pairedModel() {
        h_.storePairing();
        ConnectorModel& m = h_.make();
        test::finish(m.start());
        EXPECT_EQ(test::statuses(m), (QStringList{"Connected to iPhone", "Active", "Never"}));
        EXPECT_TRUE(m.isPaired() && m.autoSync().isLoopRunning());
        return m;
    }
    int uploads() const { return server_.count("POST /v1/sync-spaces/"); }

    PowerEvents power_;
    test::CannedRelay server_;
    test::ModelHarness h_;
};

class SleepWakeUpdatesTest : public SleepWakeTest, public ::testing::WithParamInterface<bool> {};

// A second wake within the delay still gives one catch-up. The manifest is fetched at start and
// at wake only by a model that checks for updates.
TEST_P(SleepWakeUpdatesTest, SleepMarksTheMachineAndWakeUploadsShortlyAfterOnce) {
    h_.options.wakeDelay = 300ms;
    h_.options.checksForUpdates = GetParam();
    ConnectorModel& m = pairedModel();
    const Instant sleptAt = h_.clock.now();
    Q_EMIT power_.willSleep();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return powerStatusText(m.autoSync().state()) == "Sleeping"; }));
    EXPECT_EQ(m.autoSync().state().lastSleepAt, sleptAt);
    EXPECT_EQ(test::statuses(m), (QStringList{"Mac sleeping", "Mac sleeping", "Never"}));
    EXPECT_TRUE(m.autoSync().isLoopRunning()); // the loop keeps running

    h_.clock.advance(40min);
    Q_EMIT power_.didWake();
    ASSERT_TRUE(QTest::qWaitFor([&] { return powerStatusText(m.autoSync().state()) == "Awake"; }));
    EXPECT_EQ(m.autoSync().state().lastWakeAt, h_.clock.now());
    EXPECT_EQ(test::statuses(m), (QStringList{"Woke; syncing", "Active", "Never"}));
    QTest::qWait(50);
    m.handleWake();
    QTest::qWait(200);
    EXPECT_EQ(uploads(), 0); // not before the wake delay

    ASSERT_TRUE(QTest::qWaitFor([&] { return !m.autoSync().isWakeRefreshRunning(); }));
    QTest::qWait(200); // a second catch-up would have started 50 ms after the first
    EXPECT_EQ(uploads(), 1);
    EXPECT_EQ(connectionStatusText(m.connection().status()), "Connected to iPhone");
    EXPECT_EQ(deviceListStatusText(m.relaySettings().state()), "No devices");
    EXPECT_EQ(server_.count("GET /download/linux/manifest.json"), GetParam() ? 2 : 0);
}
INSTANTIATE_TEST_SUITE_P(ChecksForUpdates, SleepWakeUpdatesTest, ::testing::Bool());

TEST_F(SleepWakeTest, OneLoopAtATimeAndNothingAfterStopOrDestruction) {
    h_.options.syncInterval = 100ms;
    ConnectorModel& m = pairedModel();
    m.startAutoSync();
    m.startAutoSync();
    // One loop: roughly one upload per interval, not two.
    ASSERT_TRUE(QTest::qWaitFor([&] { return uploads() >= 3; }));
    const int seen = uploads();
    QTest::qWait(150);
    EXPECT_LE(uploads() - seen, 2);

    m.stopAutoSync();
    EXPECT_EQ(autoSyncStatusText(m.autoSync().state().status), "Paused");
    EXPECT_FALSE(m.autoSync().isLoopRunning());
    QTest::qWait(100); // a cycle already running completes
    const int stopped = uploads();
    QTest::qWait(250);
    EXPECT_EQ(uploads(), stopped);

    // Destroyed with its loop and a catch-up waiting: neither runs.
    m.startAutoSync();
    m.handleWake();
    h_.make();
    QTest::qWait(250);
    EXPECT_EQ(uploads(), stopped);
}

} // namespace
} // namespace korvo

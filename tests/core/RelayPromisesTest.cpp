// The promises the connector makes about its relay, kept against a hostile relay on loopback: the
// device token goes to the relay that issued it and nowhere else, whichever way the relay URL
// changes; every request ends within its time limit however its answer trickles in.
#include "model/TimeText.h"
#include "support/HostileRelay.h"
#include "support/ModelHarness.h"

#include <QElapsedTimer>

namespace korvo {
namespace {

using test::HostileRelay;
constexpr const char* kToken = HostileRelay::kToken;

QByteArray sessionBody(const test::ModelHarness& h, const QByteArray& secret) {
    return R"({"pairingSessionId":"ps_1","pairingCode":"123456","qrPayload":"korvo://pair?session=ps_1&code=123456&secret=)" +
           secret + R"(","expiresAt":")" +
           QByteArray::fromStdString(formatInternetDateTime(h.clock.now() + 10min)) + R"("})";
}

// The window's Save, its Check (which saves first), and the settings file edited while the
// connector was closed: each ends the pairing with relay A; A hears of it with a DELETE for this
// device carrying the token, and relay B never sees the token, whatever runs afterwards.
TEST(RelayChange, EachWayUnlinksFromTheOldRelayAndNeverSendsTheTokenToTheNewOne) {
    enum class Way { save, check, settingsFile };
    for (const Way way : {Way::save, Way::check, Way::settingsFile}) {
        SCOPED_TRACE(static_cast<int>(way));
        HostileRelay a, b;
        test::ModelHarness h;
        h.options.checksForUpdates = false;
        h.pointAt(a.url());
        h.storePairing(u"space_1"_s, kToken);
        if (way == Way::settingsFile) {
            h.defaults->setString(u"pairedRelayOrigin"_s, a.origin());
            h.defaults->setString(u"relayBaseURL"_s, b.url().toString());
        }
        ConnectorModel& m = h.make();
        const bool paired = test::finish(m.loadPairingState());
        if (way != Way::settingsFile) {
            EXPECT_TRUE(paired);
            m.setRelayBaseURLString(b.url().toString());
            if (way == Way::save) {
                EXPECT_TRUE(m.saveRelaySettings());
            } else {
                test::finish(m.checkRelayHealth());
            }
        }
        test::finish(m.relayChangeFinished());
        EXPECT_EQ(connectionStatusText(m.connection().status()), "Relay changed; pair again");
        // Everything that would carry the token.
        EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::notPaired);
        test::finish(m.loadDevices());
        test::finish(m.unlinkDevice());
        test::finish(m.start());
        EXPECT_EQ(connectionStatusText(m.connection().status()), "Relay changed; pair again");
        EXPECT_FALSE(m.isPaired() || m.hasSyncSpace() || m.autoSync().isLoopRunning());
        EXPECT_FALSE(h.stored(u"syncSpaceId"_s) || h.stored(u"pairedRelayOrigin"_s));
        EXPECT_EQ(h.stored(u"relayBaseURL"_s), b.url().toString());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !h.storedToken(); }));

        const auto toA = a.requests();
        ASSERT_EQ(toA.size(), 1u);
        EXPECT_EQ(toA[0].method + ' ' + toA[0].path,
                  "DELETE /v1/sync-spaces/space_1/devices/" + m.connectorDeviceId().toUtf8());
        EXPECT_EQ(toA[0].header("authorization"), QByteArray("Bearer ") + kToken);
        EXPECT_FALSE(b.received(kToken));
        for (const auto& request : b.requests()) {
            EXPECT_TRUE(request.header("authorization").isEmpty()) << request.raw.toStdString();
        }
    }
}

// A pairing stored before the relay's origin was kept with it stays with the relay URL it has:
// the saved one, or the default when none was saved. Another spelling of the same address is the
// same relay.
TEST(RelayChange, APairingFromBeforeOriginsWereKeptStaysWithItsRelay) {
    for (const bool saved : {true, false}) {
        SCOPED_TRACE(saved);
        HostileRelay a;
        a.answer("POST /v1/sync-spaces/", 200,
                 R"({"status":"stored","snapshotId":"snap_1","updatedAt":"2026-03-01T09:14:05Z"})");
        a.answer("GET /v1/sync-spaces/", 200, R"({"devices":[]})");
        test::ModelHarness h;
        h.options.checksForUpdates = false;
        if (saved) {
            h.defaults->setString(u"relayBaseURL"_s, a.url().toString());
        } else {
            h.pointAt(a.url());
        }
        h.storePairing(u"space_1"_s, kToken);
        ConnectorModel& m = h.make();
        EXPECT_TRUE(test::finish(m.loadPairingState()));
        EXPECT_EQ(h.stored(u"pairedRelayOrigin"_s), a.origin());
        EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::uploaded)
            << uploadErrorText(m.uploader().state());
        EXPECT_EQ(connectionStatusText(m.connection().status()), "Connected to iPhone");

        for (const QString& same :
             {a.url().toString() + u"/"_s, u"HTTP://127.0.0.1:%1/api"_s.arg(a.port())}) {
            m.setRelayBaseURLString(same);
            EXPECT_TRUE(m.saveRelaySettings());
            EXPECT_TRUE(test::finish(m.loadPairingState())) << same;
            EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::uploaded) << same;
        }
        EXPECT_EQ(a.count("POST /v1/sync-spaces/space_1/snapshots"), 3);
        EXPECT_EQ(a.count("DELETE"), 0);
        for (const auto& request : a.requests()) {
            EXPECT_EQ(request.header("authorization"), QByteArray("Bearer ") + kToken);
        }
    }
}

// The secret of a code on display belongs to the relay that made the code: a change of relay
// drops the code, and the new relay is never polled with the secret.
TEST(RelayChange, ACodeOnDisplayIsDroppedAndItsSecretStaysWithItsRelay) {
    HostileRelay a, b;
    test::ModelHarness h;
    h.options.checksForUpdates = false;
    h.pointAt(a.url());
    const QByteArray secret = "SECRET_of_relay_a_9d1f";
    a.answer("POST /v1/pairing/sessions", 200, sessionBody(h, secret));
    a.answer("GET /v1/pairing/sessions/", 200, R"({"status":"pending"})");
    ConnectorModel& m = h.make();
    EXPECT_TRUE(test::finish(m.createPairingCode()).session.has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.count("GET /v1/pairing/sessions/ps_1") >= 1; }));
    m.setRelayBaseURLString(b.url().toString());
    EXPECT_TRUE(m.saveRelaySettings());
    EXPECT_EQ(connectionStatusText(m.connection().status()), "Relay changed; pair again");
    EXPECT_FALSE(m.pairing().state().isPolling || m.pairing().state().session);
    QTest::qWait(200); // ten poll intervals
    EXPECT_FALSE(b.received(secret));
    EXPECT_EQ(b.requests().size(), 0u);
}

// A relay that trickles its answer one byte every 40 ms (the whole answer would take seconds)
// gets no more than the time limit: creating a pairing code fails with the time-out's text.
TEST(RelayTimeLimit, ATrickledAnswerEndsThePairingCodeRequestAtTheLimit) {
    HostileRelay a;
    test::ModelHarness h;
    h.options.checksForUpdates = false;
    h.options.relayTimeout = 500ms;
    h.pointAt(a.url());
    a.answer("POST /v1/pairing/sessions", 200, sessionBody(h, "s3cr3t_s3cr3t"));
    a.trickle(40ms);
    ConnectorModel& m = h.make();
    QElapsedTimer elapsed;
    elapsed.start();
    const PairingCodeOutcome outcome = test::finish(m.createPairingCode());
    EXPECT_LT(elapsed.elapsed(), 2500);
    EXPECT_FALSE(outcome.session.has_value());
    EXPECT_EQ(errorText(m.connection().error()),
              "Unable to create pairing session: The request timed out.");
}

// While paired with a relay that trickles every answer, each upload ends at the limit and the
// automatic sync goes on with its next cycle.
TEST(RelayTimeLimit, ATrickledUploadEndsAtTheLimitAndTheNextCycleFollows) {
    HostileRelay a;
    test::ModelHarness h;
    h.options.checksForUpdates = false;
    h.options.relayTimeout = 300ms;
    h.options.syncInterval = 50ms;
    h.pointAt(a.url());
    a.answer("POST /v1/sync-spaces/", 200,
             R"({"status":"stored","snapshotId":"snap_1","updatedAt":"2026-03-01T09:14:05Z"})");
    a.trickle(40ms); // the answer would take about 6 s
    h.storePairing(u"space_1"_s, kToken);
    ConnectorModel& m = h.make();
    test::finish(m.start());
    ASSERT_TRUE(m.autoSync().isLoopRunning());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return a.count("POST /v1/sync-spaces/space_1/snapshots") >= 3; }, 4000));
    EXPECT_TRUE(m.autoSync().isLoopRunning());
    EXPECT_EQ(autoSyncStatusText(m.autoSync().state().status), "Retrying");
    m.stopAutoSync();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m.uploader().state().isSyncing; }));
    EXPECT_EQ(uploadErrorText(m.uploader().state()), "The request timed out.");
}

// The update check has a time limit over the whole request, too.
TEST(RelayTimeLimit, ATrickledManifestEndsTheUpdateCheckAtTheLimit) {
    HostileRelay a;
    test::ModelHarness h;
    h.options.manifestTimeout = 500ms;
    h.pointAt(a.url());
    a.answer("GET /download/linux/manifest.json", 200,
             R"({"version":"9.0.0","build":"99","channel":"release","file":"korvo.tar.gz"})");
    a.trickle(40ms);
    ConnectorModel& m = h.make();
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(test::finish(m.checkForUpdates(false)), UpdateCheckOutcome::failed);
    EXPECT_LT(elapsed.elapsed(), 2500);
}

} // namespace
} // namespace korvo

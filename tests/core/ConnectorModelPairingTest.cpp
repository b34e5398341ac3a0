#include "CannedHttpServer.h"
#include "CoreTestSupport.h"
#include "model/SnapshotJson.h"
#include "model/TimeText.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::CannedHttpServer;
using test::ModelHarness;

// Pairing, upload, device list and auto sync against the local relay server, with the phone's
// side played over HTTP.
class RelayEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        relay_ = std::make_unique<test::RelayProcess>(h_.path(QStringLiteral("relay.db")));
        ASSERT_TRUE(relay_->isRunning());
        h_.options.defaultRelayURL = relay_->baseURL();
        h_.claude->row = test::sampleRow("claude-code", "Claude Code", h_.clock.now());
    }

    // Creates a code, claims it as the phone and waits for the model to finish pairing.
    test::PhoneClaim pair(ConnectorModel& m) {
        test::finish(m.createPairingCode());
        EXPECT_TRUE(m.pairingSession().has_value());
        EXPECT_TRUE(m.pairingSecret().has_value());
        EXPECT_EQ(m.statusMessage(), QStringLiteral("Waiting for iPhone"));
        EXPECT_TRUE(m.isPollingForPairing());
        const auto claim = test::claimPairingCode(
            h_.network, relay_->baseURL(), QString::fromStdString(m.pairingSession()->pairingCode));
        EXPECT_TRUE(claim.has_value());
        // Starting automatic sync is the last step of a completed pairing.
        EXPECT_TRUE(test::eventually([&] { return m.hasAutoSyncTask(); }));
        return claim.value_or(test::PhoneClaim{});
    }

    std::optional<UsageSnapshot> latestOnRelay(const test::PhoneClaim& claim) {
        const test::HttpAnswer answer = test::httpRequest(
            h_.network, "GET",
            relay_->baseURL().resolved(
                QUrl(QStringLiteral("/v1/sync-spaces/%1/snapshots/latest").arg(claim.syncSpaceId))),
            {}, claim.phoneDeviceToken.toUtf8());
        if (answer.status != 200) {
            return std::nullopt;
        }
        auto decoded = decodeSnapshot(answer.body.toStdString());
        if (!decoded.ok()) {
            return std::nullopt;
        }
        return decoded.value();
    }

    ModelHarness h_;
    std::unique_ptr<test::RelayProcess> relay_;
};

TEST_F(RelayEndToEndTest, PairingStoresCredentialsUploadsAndStartsAutoSync) {
    h_.options.syncInterval = std::chrono::milliseconds(300);
    auto keychain = std::make_shared<test::ThreadRecordingKeychain>(h_.keychain);
    h_.options.keychainBackend = keychain;
    ConnectorModel& m = h_.make();
    const test::PhoneClaim claim = pair(m);

    // Disk work stayed off the GUI thread.
    EXPECT_NE(h_.claude->calledOn.load(), nullptr);
    EXPECT_NE(h_.claude->calledOn.load(), QThread::currentThread());
    EXPECT_FALSE(keychain->touchedFrom(QThread::currentThread()));
    EXPECT_FALSE(keychain->touchedFrom(h_.claude->calledOn.load()));

    EXPECT_EQ(m.statusMessage(), QStringLiteral("Connected to iPhone"));
    EXPECT_FALSE(m.isPollingForPairing());
    EXPECT_FALSE(m.hasPairingPollTask());
    EXPECT_TRUE(m.isPaired());
    EXPECT_EQ(m.syncSpaceId(), claim.syncSpaceId);
    EXPECT_EQ(h_.defaults->string(QStringLiteral("syncSpaceId")), claim.syncSpaceId);
    ASSERT_TRUE(h_.storedToken().has_value());
    EXPECT_FALSE(h_.storedToken()->empty());

    // The first upload: the phone reads back exactly what the model kept.
    ASSERT_TRUE(m.latestSnapshot().has_value());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^snap_[0-9A-F]{16}$"))
                    .match(QString::fromStdString(m.latestSnapshot()->snapshotId))
                    .hasMatch());
    EXPECT_EQ(m.lastUploadStatus(),
              QStringLiteral("Uploaded ") + QString::fromStdString(m.latestSnapshot()->snapshotId));
    EXPECT_EQ(m.localLimitSnapshot(), m.latestSnapshot());
    EXPECT_EQ(m.lastSyncAt(), h_.clock.now());
    EXPECT_EQ(m.lastUploadAt(), h_.clock.now());
    EXPECT_EQ(latestOnRelay(claim), m.latestSnapshot());
    EXPECT_EQ(m.latestSnapshot()->device.id, m.connectorDeviceId().toStdString());
    EXPECT_EQ(m.latestSnapshot()->providers.size(), 1u);

    // The device list holds the phone and this machine.
    EXPECT_EQ(m.deviceListStatus(), QStringLiteral("2 devices"));
    EXPECT_EQ(m.relayDevices().size(), 2u);
    EXPECT_EQ(m.lastDeviceListError(), QStringLiteral("None"));

    // Automatic sync uploads again one interval later.
    const std::string first = m.latestSnapshot()->snapshotId;
    ASSERT_TRUE(test::eventually([&] { return m.latestSnapshot()->snapshotId != first; }));
    EXPECT_EQ(latestOnRelay(claim), m.latestSnapshot());

    // The uploaded snapshot stays on display even when a newer local refresh exists.
    test::finish(m.refreshLocalLimits());
    EXPECT_NE(m.localLimitSnapshot(), m.latestSnapshot());
    EXPECT_EQ(m.displaySnapshot(), m.latestSnapshot());

    // The copied JSON is the uploaded body.
    m.copyLatestSnapshotJSON();
    ASSERT_EQ(h_.pasteboard->texts.size(), 1);
    EXPECT_EQ(h_.pasteboard->texts.last().toStdString(),
              encodeSnapshot(*m.latestSnapshot()).value());
}

TEST_F(RelayEndToEndTest, WithoutRowsTheDemoSnapshotIsUploaded) {
    h_.claude->row.reset();
    ConnectorModel& m = h_.make();
    const test::PhoneClaim claim = pair(m);
    ASSERT_TRUE(m.latestSnapshot().has_value());
    EXPECT_EQ(m.lastCollectStatus(), QStringLiteral("No real providers; using demo fallback"));
    EXPECT_EQ(m.latestSnapshot()->snapshotId,
              "snap_preview_" + std::to_string(unixSecondsTruncated(h_.clock.now())));
    EXPECT_EQ(m.lastUploadStatus(),
              QStringLiteral("Uploaded ") + QString::fromStdString(m.latestSnapshot()->snapshotId));
    EXPECT_EQ(m.latestSnapshot()->syncSpaceId, claim.syncSpaceId.toStdString());
    EXPECT_EQ(m.latestSnapshot()->providers.size(), 2u);
}

TEST_F(RelayEndToEndTest, RelayDownDuringACycleKeepsTheLastSnapshotAndTheNextTickRecovers) {
    ConnectorModel& m = h_.make();
    pair(m);
    const std::optional<UsageSnapshot> good = m.latestSnapshot();
    const std::optional<Instant> goodAt = m.lastUploadAt();
    const int port = relay_->port();

    relay_->stop();
    h_.clock.advance(std::chrono::seconds(30));
    test::finish(m.syncNow());
    EXPECT_EQ(m.lastUploadStatus(), QStringLiteral("Failed"));
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Retrying"));
    EXPECT_NE(m.lastUploadError(), QStringLiteral("None"));
    EXPECT_EQ(m.errorMessage(), QStringLiteral("Snapshot upload failed: ") + m.lastUploadError());
    EXPECT_EQ(m.latestSnapshot(), good);
    EXPECT_EQ(m.lastUploadAt(), goodAt);
    EXPECT_EQ(m.displaySnapshot(), good);
    EXPECT_FALSE(m.isSyncing());

    // The relay comes back on the same port and the next cycle goes through.
    relay_ =
        std::make_unique<test::RelayProcess>(h_.path(QStringLiteral("relay.db")), QString(), port);
    ASSERT_TRUE(relay_->isRunning());
    test::finish(m.syncNow());
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Active"));
    EXPECT_EQ(m.lastUploadError(), QStringLiteral("None"));
    EXPECT_FALSE(m.errorMessage().has_value());
    EXPECT_NE(m.latestSnapshot(), good);
    EXPECT_EQ(m.lastUploadAt(), h_.clock.now());
}

TEST_F(RelayEndToEndTest, ARejectedTokenShowsTheRelaysAnswer) {
    ConnectorModel& m = h_.make();
    pair(m);
    KeychainStore(KeychainStore::kDefaultService, h_.keychain)
        .save("not-the-token", KeychainStore::kDeviceTokenAccount);
    test::finish(m.syncNow());
    EXPECT_EQ(m.lastUploadStatus(), QStringLiteral("Failed"));
    EXPECT_TRUE(m.lastUploadError().startsWith(QStringLiteral("Relay returned HTTP 401: {")))
        << m.lastUploadError().toStdString();
    EXPECT_EQ(m.errorMessage(), QStringLiteral("Snapshot upload failed: ") + m.lastUploadError());
}

TEST_F(RelayEndToEndTest, UnlinkRemovesTheDeviceAndForgetsThePairing) {
    ConnectorModel& m = h_.make();
    pair(m);
    test::finish(m.unlinkDevice());
    EXPECT_FALSE(m.syncSpaceId().has_value());
    EXPECT_FALSE(m.isPaired());
    EXPECT_FALSE(m.latestSnapshot().has_value());
    EXPECT_FALSE(m.lastSyncAt() || m.lastUploadAt() || m.lastSuccessfulCollectAt() ||
                 m.pairingSession() || m.pairingSecret());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Not paired"));
    EXPECT_EQ(m.lastUploadStatus(), QStringLiteral("Never"));
    EXPECT_EQ(m.deviceListStatus(), QStringLiteral("Not loaded"));
    EXPECT_EQ(m.lastCollectStatus(), QStringLiteral("Not collected"));
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Paused"));
    EXPECT_TRUE(m.relayDevices().empty());
    EXPECT_FALSE(m.hasAutoSyncTask());
    EXPECT_FALSE(h_.defaults->string(QStringLiteral("syncSpaceId")).has_value());
    EXPECT_TRUE(test::eventually([&] { return !h_.storedToken().has_value(); }));
    // Kept: the device id, the relay settings and the local snapshot.
    EXPECT_TRUE(m.localLimitSnapshot().has_value());
}

TEST_F(RelayEndToEndTest, UnlinkWhileTheRelayIsUnreachableStaysPaired) {
    ConnectorModel& m = h_.make();
    pair(m);
    relay_->stop();
    test::finish(m.unlinkDevice());
    EXPECT_EQ(m.errorMessage(), QStringLiteral("Unable to unlink this Mac from Relay."));
    EXPECT_TRUE(m.isPaired());
    EXPECT_TRUE(m.hasAutoSyncTask());
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Active"));
    EXPECT_TRUE(h_.storedToken().has_value());
    EXPECT_TRUE(h_.defaults->string(QStringLiteral("syncSpaceId")).has_value());
}

TEST_F(RelayEndToEndTest, AKeychainThatCannotSaveLeavesThePairingUnfinished) {
    // A keychain file whose folder can never be created.
    QFile blocker(h_.path(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    h_.options.keychainBackend =
        std::make_shared<FileKeychain>(h_.path(QStringLiteral("blocker/keychain")).toStdString());
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    ASSERT_TRUE(m.pairingSession().has_value());
    ASSERT_TRUE(test::claimPairingCode(h_.network, relay_->baseURL(),
                                       QString::fromStdString(m.pairingSession()->pairingCode)));
    ASSERT_TRUE(test::eventually([&] { return m.errorMessage().has_value(); }));
    EXPECT_TRUE(m.errorMessage()->startsWith(QStringLiteral("Unable to check pairing status: ")));
    EXPECT_TRUE(m.syncSpaceId().has_value());
    EXPECT_TRUE(h_.defaults->string(QStringLiteral("syncSpaceId")).has_value());
    EXPECT_FALSE(m.isPaired());
    EXPECT_NE(m.statusMessage(), QStringLiteral("Connected to iPhone"));
    // The poll goes on and claims again.
    EXPECT_TRUE(m.isPollingForPairing());
    EXPECT_TRUE(m.hasPairingPollTask());
    EXPECT_EQ(m.lastUploadStatus(), QStringLiteral("Never"));
}

TEST_F(RelayEndToEndTest, HealthAndDeviceListing) {
    ConnectorModel& m = h_.make();
    test::finish(m.loadDevices());
    EXPECT_EQ(m.deviceListStatus(), QStringLiteral("Not paired"));
    m.setRelayBaseURLString(QStringLiteral(" ") + relay_->baseURL().toString() +
                            QStringLiteral("/ "));
    test::finish(m.checkRelayHealth());
    EXPECT_EQ(m.relayHealthStatus(), QStringLiteral("Reachable"));
    EXPECT_EQ(m.relayBaseURLString(), relay_->baseURL().toString());
    EXPECT_EQ(h_.defaults->string(QStringLiteral("relayBaseURL")), relay_->baseURL().toString());
    relay_->stop();
    test::finish(m.checkRelayHealth());
    EXPECT_EQ(m.relayHealthStatus(), QStringLiteral("Unreachable"));
    EXPECT_EQ(m.relayEnvironment(), QStringLiteral("Unknown"));
    ASSERT_TRUE(m.errorMessage().has_value());
    EXPECT_TRUE(m.errorMessage()->startsWith(QStringLiteral("Relay health check failed: ")));
}

// Answers the local relay never gives come from a canned server.
class CannedRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        h_.options.defaultRelayURL = server_.baseURL();
        h_.options.manifestURL =
            server_.baseURL().resolved(QUrl(QStringLiteral("/download/linux/manifest.json")));
    }
    QByteArray sessionBody(const QString& qrPayload, Instant expiresAt) {
        return QStringLiteral(R"({"pairingSessionId":"ps_1","pairingCode":"123456",)"
                              R"("qrPayload":"%1","expiresAt":"%2"})")
            .arg(qrPayload, QString::fromStdString(formatInternetDateTime(expiresAt)))
            .toUtf8();
    }
    void answerSession(const QString& qrPayload, Instant expiresAt,
                       std::chrono::milliseconds delay = {}) {
        server_.answer("POST /v1/pairing/sessions",
                       {200, sessionBody(qrPayload, expiresAt), delay});
    }
    static QString payload() {
        return QStringLiteral("korvo://pair?session=ps_1&code=123456&secret=s3cr3t");
    }

    ModelHarness h_;
    CannedHttpServer server_;
};

TEST_F(CannedRelayTest, PairingSecretComesFromTheQRPayload) {
    struct Case {
        QString payload;
        std::optional<QString> secret;
    };
    const Case cases[] = {
        {QStringLiteral("korvo://pair?session=a&code=1&secret=abc"), QStringLiteral("abc")},
        {QStringLiteral("korvo://pair?secret=first&secret=second"), QStringLiteral("first")},
        {QStringLiteral("korvo://pair?secret=a%2Fb"), QStringLiteral("a/b")},
        {QStringLiteral("korvo://pair?session=a&code=1"), std::nullopt},
        {QStringLiteral("korvo://pair"), std::nullopt},
        {QStringLiteral("korvo://pair?secret"), std::nullopt},
        {QStringLiteral("not a url at all"), std::nullopt},
    };
    ConnectorModel& m = h_.make();
    for (const Case& c : cases) {
        answerSession(c.payload, h_.clock.now() + std::chrono::minutes(10));
        test::finish(m.createPairingCode());
        ASSERT_TRUE(m.pairingSession().has_value()) << c.payload.toStdString();
        EXPECT_EQ(m.pairingSecret(), c.secret) << c.payload.toStdString();
    }
}

TEST_F(CannedRelayTest, APayloadWithoutSecretEndsAsExpired) {
    answerSession(QStringLiteral("korvo://pair?session=ps_1&code=123456"),
                  h_.clock.now() + std::chrono::minutes(10));
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Waiting for iPhone"));
    EXPECT_TRUE(m.isPollingForPairing());
    QTest::qWait(100);
    h_.clock.advance(std::chrono::minutes(10));
    ASSERT_TRUE(test::eventually(
        [&] { return m.statusMessage() == QLatin1String("Pairing code expired"); }));
    EXPECT_FALSE(m.isPollingForPairing());
    EXPECT_FALSE(m.hasPairingPollTask());
    EXPECT_TRUE(m.pairingSession().has_value()); // the expired code stays visible
    EXPECT_EQ(server_.count("GET /v1/pairing/sessions/"), 0);
}

TEST_F(CannedRelayTest, ASessionAlreadyExpiredEndsAtOnceWithoutPolling) {
    answerSession(payload(), h_.clock.now() - std::chrono::seconds(1));
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Pairing code expired"));
    EXPECT_FALSE(m.isPollingForPairing());
    EXPECT_FALSE(m.hasPairingPollTask());
    EXPECT_EQ(server_.count("GET /v1/pairing/sessions/"), 0);
}

TEST_F(CannedRelayTest, OnlyAnExactPairedStatusWithEveryValueCompletesPairing) {
    struct Case {
        const char* name;
        QByteArray body;
    };
    const Case cases[] = {
        {"other case", R"({"status":"Paired","connectorDeviceId":"mac_1","syncSpaceId":"sp",)"
                       R"("connectorDeviceToken":"tok"})"},
        {"no token", R"({"status":"paired","connectorDeviceId":"mac_1","syncSpaceId":"sp"})"},
        {"no device id", R"({"status":"paired","syncSpaceId":"sp","connectorDeviceToken":"t"})"},
        {"pending", R"({"status":"pending"})"},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        CannedHttpServer server;
        h.options.defaultRelayURL = server.baseURL();
        server.answer("POST /v1/pairing/sessions",
                      {200, sessionBody(payload(), h.clock.now() + std::chrono::minutes(10)), {}});
        server.answer("GET /v1/pairing/sessions/ps_1", {200, c.body, {}});
        ConnectorModel& m = h.make();
        test::finish(m.createPairingCode());
        ASSERT_TRUE(test::eventually([&] {
            return server.count("GET /v1/pairing/sessions/") >= 3;
        })) << c.name;
        EXPECT_EQ(m.statusMessage(), QStringLiteral("Waiting for iPhone")) << c.name;
        EXPECT_TRUE(m.isPollingForPairing()) << c.name;
        EXPECT_FALSE(m.syncSpaceId().has_value()) << c.name;
        EXPECT_FALSE(h.storedToken().has_value()) << c.name;
        // The secret travels in its header.
        EXPECT_EQ(server.requests().last().headers.value("x-pairing-secret"), "s3cr3t") << c.name;
    }
}

TEST_F(CannedRelayTest, PollErrorsAreShownAndPollingGoesOn) {
    answerSession(payload(), h_.clock.now() + std::chrono::minutes(10));
    server_.answer("GET /v1/pairing/sessions/ps_1", {500, {}, {}});
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    ASSERT_TRUE(test::eventually([&] { return server_.count("GET /v1/pairing/sessions/") >= 2; }));
    EXPECT_EQ(m.errorMessage(),
              QStringLiteral("Unable to check pairing status: Relay returned HTTP 500."));
    EXPECT_TRUE(m.isPollingForPairing());
}

TEST_F(CannedRelayTest, CreateTwiceQuicklySendsOneRequest) {
    answerSession(payload(), h_.clock.now() + std::chrono::minutes(10),
                  std::chrono::milliseconds(200));
    ConnectorModel& m = h_.make();
    QCoro::Task<> first = m.createPairingCode();
    EXPECT_TRUE(m.isPairing());
    QCoro::Task<> second = m.createPairingCode();
    EXPECT_TRUE(second.isReady());
    test::finish(std::move(first));
    EXPECT_FALSE(m.isPairing());
    EXPECT_EQ(server_.count("POST /v1/pairing/sessions"), 1);
}

TEST_F(CannedRelayTest, ANewCodeReplacesTheSessionAndItsPollLoop) {
    const QByteArray pending = R"({"status":"pending"})";
    server_.answer("GET /v1/pairing/sessions/ps_1", {200, pending, {}});
    server_.answer("GET /v1/pairing/sessions/ps_2", {200, pending, {}});
    answerSession(payload(), h_.clock.now() + std::chrono::minutes(10));
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    ASSERT_TRUE(
        test::eventually([&] { return server_.count("GET /v1/pairing/sessions/ps_1") >= 2; }));

    QByteArray second = sessionBody(QStringLiteral("korvo://pair?secret=other"),
                                    h_.clock.now() + std::chrono::minutes(10));
    second.replace("ps_1", "ps_2");
    server_.answer("POST /v1/pairing/sessions", {200, second, {}});
    test::finish(m.createPairingCode());
    EXPECT_EQ(m.pairingSession()->pairingSessionId, "ps_2");
    EXPECT_EQ(m.pairingSecret(), QStringLiteral("other"));
    QTest::qWait(60); // let the old loop reach its cancellation check
    const int oldPolls = server_.count("GET /v1/pairing/sessions/ps_1");
    ASSERT_TRUE(
        test::eventually([&] { return server_.count("GET /v1/pairing/sessions/ps_2") >= 3; }));
    EXPECT_EQ(server_.count("GET /v1/pairing/sessions/ps_1"), oldPolls);
    EXPECT_TRUE(m.isPollingForPairing());
}

TEST_F(CannedRelayTest, CreateFailureKeepsTheEarlierSession) {
    answerSession(payload(), h_.clock.now() + std::chrono::minutes(10));
    server_.answer("GET /v1/pairing/sessions/ps_1", {200, R"({"status":"pending"})", {}});
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    const auto session = m.pairingSession();
    server_.answer("POST /v1/pairing/sessions", {503, R"({"error":"busy"})", {}});
    test::finish(m.createPairingCode());
    EXPECT_EQ(
        m.errorMessage(),
        QStringLiteral(
            R"(Unable to create pairing session: Relay returned HTTP 503: {"error":"busy"})"));
    EXPECT_EQ(m.pairingSession(), session);
    EXPECT_FALSE(m.isPairing());
}

TEST_F(CannedRelayTest, SyncNowDuringARunningCycleReturnsAtOnce) {
    h_.storePairing(QStringLiteral("space_1"), "token");
    server_.answer("POST /v1/sync-spaces/space_1/snapshots",
                   {200, R"({"status":"ok","snapshotId":"x","updatedAt":"2026-03-01T09:14:05Z"})",
                    std::chrono::milliseconds(300)});
    ConnectorModel& m = h_.make();
    test::finish(m.start());
    QCoro::Task<> first = m.syncNow();
    QCoro::Task<> second = m.syncNow();
    EXPECT_TRUE(second.isReady());
    test::finish(std::move(first));
    EXPECT_EQ(server_.count("POST /v1/sync-spaces/"), 1);
    EXPECT_TRUE(m.lastUploadStatus().startsWith(QStringLiteral("Uploaded ")));
    // The bearer token is the one in the keychain.
    EXPECT_EQ(server_.requests().last().headers.value("authorization"), "Bearer token");
}

TEST_F(CannedRelayTest, HealthAnswersOtherThanOkAreShownAsTheyAre) {
    struct Case {
        QByteArray body;
        QString health;
        QString environment;
    };
    const Case cases[] = {
        {R"({"status":"ok","environment":"staging"})", QStringLiteral("Reachable"),
         QStringLiteral("staging")},
        {R"({"status":"degraded"})", QStringLiteral("degraded"), QStringLiteral("Unknown")},
        {R"({"status":"OK","environment":null})", QStringLiteral("OK"), QStringLiteral("Unknown")},
    };
    ConnectorModel& m = h_.make();
    m.setRelayBaseURLString(server_.baseURL().toString());
    for (const Case& c : cases) {
        server_.answer("GET /health", {200, c.body, {}});
        test::finish(m.checkRelayHealth());
        EXPECT_EQ(m.relayHealthStatus(), c.health) << c.body.toStdString();
        EXPECT_EQ(m.relayEnvironment(), c.environment) << c.body.toStdString();
    }
}

TEST_F(CannedRelayTest, DeviceListOutcomes) {
    struct Case {
        int status;
        QByteArray body;
        QString listStatus;
        QString listError;
        size_t devices;
    };
    const Case cases[] = {
        {200, R"({"devices":[]})", QStringLiteral("No devices"), QStringLiteral("None"), 0},
        {200,
         R"({"devices":[{"id":"mac_1","name":"Box","kind":"linux","createdAt":"2026-03-01T09:00:00Z"}]})",
         QStringLiteral("1 devices"), QStringLiteral("None"), 1},
        {401, R"({"error":"unauthorized"})", QStringLiteral("Unable to load devices"),
         QStringLiteral(R"(Relay returned HTTP 401: {"error":"unauthorized"})"), 1},
    };
    h_.storePairing(QStringLiteral("space_1"), "token");
    ConnectorModel& m = h_.make();
    test::finish(m.start());
    for (const Case& c : cases) {
        server_.answer("GET /v1/sync-spaces/space_1/devices", {c.status, c.body, {}});
        test::finish(m.loadDevices());
        EXPECT_EQ(m.deviceListStatus(), c.listStatus);
        EXPECT_EQ(m.lastDeviceListError(), c.listError);
        EXPECT_EQ(m.relayDevices().size(), c.devices); // a failure keeps the previous list
    }
    EXPECT_EQ(m.errorMessage(),
              QStringLiteral("Unable to load devices from Relay: ") +
                  QStringLiteral(R"(Relay returned HTTP 401: {"error":"unauthorized"})"));
}

TEST_F(CannedRelayTest, UnlinkWithoutTokenForgetsLocallyWithoutCallingTheRelay) {
    h_.defaults->setString(QStringLiteral("syncSpaceId"), QStringLiteral("space_1"));
    ConnectorModel& m = h_.make();
    test::finish(m.start());
    test::finish(m.unlinkDevice());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Not paired"));
    EXPECT_FALSE(m.syncSpaceId().has_value());
    EXPECT_FALSE(h_.defaults->string(QStringLiteral("syncSpaceId")).has_value());
    EXPECT_EQ(server_.count("DELETE"), 0);
}

} // namespace
} // namespace korvo

#include "model/TimeText.h"
#include "platform/PlatformServices.h"
#include "support/RelayEndToEnd.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>
#include <iostream>
#include <map>
#include <thread>

namespace korvo {
namespace {

// Pairing, upload, device list and auto sync against the local relay server.
using RelayEndToEndTest = test::RelayEndToEnd;

TEST_F(RelayEndToEndTest, PairingStoresCredentialsUploadsAndStartsAutoSync) {
    auto keychain = std::make_shared<test::ThreadRecordingKeychain>(h_.keychain);
    h_.options.keychainBackend = keychain;
    ConnectorModel& m = h_.make();
    pair(m);

    // Disk and keychain work stayed off the GUI thread.
    const QThread* gui = QThread::currentThread();
    EXPECT_NE(h_.claude->calledOn.load(), nullptr);
    EXPECT_NE(h_.claude->calledOn.load(), gui);
    EXPECT_FALSE(keychain->threads().contains(gui) ||
                 keychain->threads().contains(h_.claude->calledOn));

    EXPECT_EQ(connectionStatusText(m.connection().status()), "Connected to iPhone");
    EXPECT_FALSE(m.pairing().state().isPolling || m.pairing().isPollRunning());
    EXPECT_TRUE(m.isPaired());
    EXPECT_EQ(m.pairing().state().syncSpaceId, space_);
    EXPECT_EQ(h_.stored(u"syncSpaceId"_s), space_);
    EXPECT_FALSE(h_.storedToken().value_or("").empty());

    // The first upload: the phone reads back exactly what the model kept.
    ASSERT_TRUE(m.uploader().state().snapshot.has_value());
    const QString id = QString::fromStdString(m.uploader().state().snapshot->snapshotId);
    EXPECT_TRUE(QRegularExpression(u"^snap_[0-9A-F]{16}$"_s).match(id).hasMatch()) << id;
    EXPECT_EQ(uploadStatusText(m.uploader().state()), "Uploaded " + id);
    EXPECT_EQ(m.collector().collect().localSnapshot, m.uploader().state().snapshot);
    EXPECT_EQ(m.uploader().state().lastUploadAt, h_.clock.now());
    EXPECT_EQ(latestOnRelay(), m.uploader().state().snapshot);
    EXPECT_EQ(deviceListStatusText(m.relaySettings().state()),
              "2 devices"); // the phone and this machine

    // A newer local refresh is what the window shows and copies; the relay keeps the upload,
    // which is what the phone sees.
    test::finish(m.refreshLocalLimits());
    EXPECT_NE(m.collector().collect().localSnapshot, m.uploader().state().snapshot);
    EXPECT_EQ(m.displaySnapshot(), m.collector().collect().localSnapshot);
    EXPECT_EQ(latestOnRelay(), m.uploader().state().snapshot);
    m.copyLatestSnapshotJSON();
    EXPECT_EQ(h_.recorder->texts,
              QStringList{QString::fromStdString(
                  encodeSnapshot(*m.collector().collect().localSnapshot).value())});
}

// The relay down during unlink, then back; then a token it refuses. (A cycle failing while the
// relay is down is the fault-injection tests' subject.)
TEST_F(RelayEndToEndTest, AFailedUnlinkKeepsThePairingAndARefusedTokenFailsTheCycle) {
    ConnectorModel& m = h_.make();
    pair(m);
    const std::string token = h_.storedToken().value_or("");

    relay_->kill();
    test::finish(m.unlinkDevice());
    EXPECT_EQ(errorText(m.connection().error()), "Unable to unlink this Mac from Relay.");
    EXPECT_TRUE(m.isPaired() && m.autoSync().isLoopRunning());
    EXPECT_TRUE(h_.storedToken() && h_.stored(u"syncSpaceId"_s));

    restartRelay(); // the next cycle goes through
    h_.clock.advance(30s);
    test::finish(m.syncNow());
    EXPECT_EQ(uploadErrorText(m.uploader().state()), "None");
    EXPECT_EQ(errorText(m.connection().error()), std::nullopt);
    EXPECT_EQ(m.uploader().state().lastUploadAt, h_.clock.now());

    h_.storePairing(m.pairing().state().syncSpaceId.value_or(""),
                    "not-the-token"); // the relay answers 401
    test::finish(m.syncNow());
    EXPECT_EQ(uploadStatusText(m.uploader().state()), "Failed");
    EXPECT_TRUE(uploadErrorText(m.uploader().state()).startsWith(u"Relay returned HTTP 401: {"_s))
        << uploadErrorText(m.uploader().state());

    h_.storePairing(m.pairing().state().syncSpaceId.value_or(""), token);
    test::finish(m.unlinkDevice());
    EXPECT_FALSE(m.pairing().state().syncSpaceId || m.isPaired() || m.uploader().state().snapshot ||
                 m.uploader().state().lastUploadAt || m.uploader().state().lastUploadAt ||
                 m.collector().collect().lastSuccessfulCollectAt || m.pairing().state().session ||
                 m.pairing().state().secret || m.autoSync().isLoopRunning() ||
                 h_.stored(u"syncSpaceId"_s));
    EXPECT_EQ(test::statuses(m), (QStringList{"Not paired", "Paused", "Never"}));
    EXPECT_EQ(deviceListStatusText(m.relaySettings().state()), "Not loaded");
    EXPECT_EQ(collectStatusText(m.collector().collect()), "Not collected");
    EXPECT_TRUE(m.relaySettings().state().devices.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h_.storedToken(); }));
    EXPECT_TRUE(m.collector()
                    .collect()
                    .localSnapshot.has_value()); // kept, like the device id and relay URL
}

// A run without a Secret Service kept the token in the file; now the Secret Service answers and
// holds nothing, so the model reads as unpaired while the old token still works on the relay.
// Unlinking revokes that token and removes it from both backends.
TEST_F(RelayEndToEndTest, UnlinkRevokesAndRemovesATokenLeftInTheOtherBackend) {
    if (!qEnvironmentVariableIsSet("KORVO_TEST_SECRET_SERVICE")) {
        GTEST_SKIP() << "needs the private Secret Service of scripts/run-tests";
    }
    const std::string service = "com.korvo.connector.test-unlink";
    const auto secretService = PlatformServices::systemKeychain();
    const KeychainStore inFile(service, h_.keychain), inSecretService(service, secretService);
    inSecretService.remove(KeychainStore::kDeviceTokenAccount);
    h_.options.keychainService = service;
    pair(h_.make());
    const std::string token = inFile.read(KeychainStore::kDeviceTokenAccount).value_or("");
    ASSERT_FALSE(token.empty());

    h_.options.keychainBackend = secretService;
    h_.options.otherKeychainBackends = {h_.keychain};
    ConnectorModel& m = h_.make();
    EXPECT_FALSE(test::finish(m.loadPairingState()));
    EXPECT_EQ(test::finish(m.unlinkDevice()), UnlinkOutcome::unlinked);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return !inFile.read(KeychainStore::kDeviceTokenAccount) &&
               !inSecretService.read(KeychainStore::kDeviceTokenAccount);
    }));
    const auto used = phone().Get(u"/v1/sync-spaces/%1/devices"_s.arg(space_).toStdString(),
                                  {{"authorization", "Bearer " + token}});
    ASSERT_TRUE(used);
    EXPECT_EQ(used->status, 401);
}

// Someone who photographed the QR code polls with its secret every 100 ms while the phone claims
// the code. Whoever polls first after the claim gets the token, once; the other side's paired
// poll revokes the connector. So in every round the connector either completes the pairing or
// says it failed, and a token the second poller took never works.
TEST_F(RelayEndToEndTest, ASecondPollerWithTheQRSecretNeverKeepsAWorkingToken) {
    h_.options.pairingPollInterval = 100ms;
    const KeychainStore keychain(KeychainStore::kDefaultService, h_.keychain);
    std::map<PairingOutcome, int> outcomes;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        keychain.remove(KeychainStore::kDeviceTokenAccount);
        h_.defaults->remove(u"syncSpaceId"_s);
        ConnectorModel& m = h_.make();
        test::finish(m.createPairingCode());
        ASSERT_TRUE(m.pairing().state().session && m.pairing().state().secret);
        const std::string path =
            "/v1/pairing/sessions/" + m.pairing().state().session->pairingSessionId;
        const httplib::Headers withSecret{
            {"x-pairing-secret", m.pairing().state().secret->toStdString()}};
        std::atomic<bool> stop = false;
        std::string stolen, stolenSpace;
        std::thread thief([&] {
            httplib::Client client("127.0.0.1", relay_->port());
            for (int i = 0; i < 150 && !stop; ++i) { // 15 s at most
                if (const auto res = client.Get(path, withSecret); res && res->status == 200) {
                    const QJsonObject answer =
                        QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
                    if (answer.contains("connectorDeviceToken")) {
                        stolen = answer["connectorDeviceToken"].toString().toStdString();
                        stolenSpace = answer["syncSpaceId"].toString().toStdString();
                    }
                }
                std::this_thread::sleep_for(100ms);
            }
        });
        // An assertion that ends the round early still stops and joins the poller.
        const auto joinThief = qScopeGuard([&] {
            stop = true;
            if (thief.joinable()) {
                thief.join();
            }
        });
        QTest::qWait(17 * round); // the claim lands at another point of both poll cycles
        const std::string code = m.pairing().state().session->pairingCode;
        const auto claim = phone().Post("/v1/pairing/claim", R"({"pairingCode":")" + code + R"("})",
                                        "application/json");
        ASSERT_TRUE(claim && claim->status == 200);
        // Bounded: a connector that kept waiting fails here, long before the code expires.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !m.pairing().state().isPolling; }, 15000));
        const PairingOutcome outcome = test::finish(m.pairingFinished());
        QTest::qWait(250); // the second poller polls again after the connector finished
        stop = true;
        thief.join();
        ++outcomes[outcome];

        // One token went out, to one side.
        EXPECT_NE(stolen.empty(), outcome == PairingOutcome::failed);
        if (outcome == PairingOutcome::failed) {
            EXPECT_EQ(connectionStatusText(m.connection().status()), "Pairing failed");
            EXPECT_TRUE(errorText(m.connection().error())
                            .value_or(QString())
                            .startsWith(u"Pairing failed: "_s));
            EXPECT_FALSE(m.isPaired() || m.pairing().state().isPolling ||
                         m.pairing().state().syncSpaceId || h_.storedToken());
            const auto used = phone().Get("/v1/sync-spaces/" + stolenSpace + "/devices",
                                          {{"authorization", "Bearer " + stolen}});
            ASSERT_TRUE(used);
            EXPECT_EQ(used->status, 401);
        } else {
            EXPECT_EQ(outcome, PairingOutcome::paired);
            EXPECT_TRUE(m.isPaired() && h_.storedToken());
        }
    }
    std::cout << "connector paired " << outcomes[PairingOutcome::paired] << ", failed "
              << outcomes[PairingOutcome::failed] << " of 6 rounds\n";
}

// Answers the local relay never gives come from a canned server.
class CannedRelayTest : public ::testing::Test {
protected:
    void SetUp() override { h_.pointAt(server_.url()); }

    // The relay's answer to a new pairing session (code 123456).
    void answerSession(const QString& qrPayload = kPayload, std::chrono::seconds validFor = 10min,
                       const QString& id = u"ps_1"_s) {
        const std::string expiresAt = formatInternetDateTime(h_.clock.now() + validFor);
        server_.setAnswer(
            "POST /v1/pairing/sessions", 200,
            uR"({"pairingSessionId":"%1","pairingCode":"123456","qrPayload":"%2",)"
            uR"("expiresAt":"%3"})"_s.arg(id, qrPayload, QString::fromStdString(expiresAt))
                .toUtf8());
    }
    int polls(const QByteArray& id = {}) const {
        return server_.count("GET /v1/pairing/sessions/" + id);
    }

    static inline const QString kPayload = u"korvo://pair?session=ps_1&code=123456&secret=s3cr3t"_s;
    static constexpr const char* kPending = R"({"status":"pending"})";
    test::ModelHarness h_;
    test::CannedRelay server_;
};

// The secret is the QR payload's first "secret" item. A code past its time, or one without a
// secret once its time runs out, ends as expired without a single poll and stays visible.
TEST_F(CannedRelayTest, SecretFromTheQRPayloadAndCodesThatExpireWithoutPolling) {
    const std::pair<QString, std::optional<QString>> cases[] = {
        {u"korvo://pair?secret=first&secret=second"_s, u"first"_s},
        {u"korvo://pair?secret=a%2Fb"_s, u"a/b"_s},
        {u"korvo://pair?secret"_s, std::nullopt},
        {u"not a url at all"_s, std::nullopt},
    };
    ConnectorModel& m = h_.make();
    for (const auto& [payload, secret] : cases) {
        answerSession(payload, -1s);
        test::finish(m.createPairingCode());
        EXPECT_EQ(m.pairing().state().secret, secret) << payload;
        EXPECT_EQ(connectionStatusText(m.connection().status()), "Pairing code expired");
        EXPECT_FALSE(m.pairing().state().isPolling || m.pairing().isPollRunning());
    }
    EXPECT_EQ(m.pairing().state().session.value_or(PairingSessionResponse{}).expiresAt,
              h_.clock.now() - 1s);

    answerSession(u"korvo://pair?session=ps_1&code=123456"_s);
    test::finish(m.createPairingCode());
    EXPECT_TRUE(m.pairing().state().isPolling);
    QTest::qWait(100);
    h_.clock.advance(10min);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return connectionStatusText(m.connection().status()) == "Pairing code expired"; }));
    EXPECT_FALSE(m.pairing().state().isPolling || m.pairing().isPollRunning());
    EXPECT_TRUE(m.pairing().state().session.has_value());
    EXPECT_EQ(polls(), 0);
}

// Each poll answer keeps the model waiting and polling; failures are shown. A complete answer
// whose token the keychain cannot save leaves the pairing unfinished and is polled again.
TEST_F(CannedRelayTest, OnlyAnExactPairedStatusWithEveryValueSavedCompletesPairing) {
    const QByteArray paired = R"("connectorDeviceId":"mac_1","syncSpaceId":"sp")";
    const std::tuple<int, QByteArray, std::optional<QString>> cases[] = {
        {200, R"({"status":"Paired","connectorDeviceToken":"t",)" + paired + "}", std::nullopt},
        {200, R"({"status":"paired","syncSpaceId":"sp","connectorDeviceToken":"t"})", std::nullopt},
        {500, {}, u"Unable to check pairing status: Relay returned HTTP 500."_s},
        {200, R"({"status":"paired","connectorDeviceToken":"t",)" + paired + "}",
         u"Unable to check pairing status: The keychain operation failed (status 20)."_s},
    };
    ASSERT_TRUE(test::writeFile(h_.path(u"blocker"_s))); // where the keychain's folder would go
    h_.options.keychainBackend =
        std::make_shared<FileKeychain>(h_.path(u"blocker/keychain"_s).toStdString());
    answerSession();
    // The canned relay answers on a thread of its own, so a poll that goes out while the code is
    // made is answered at once: with the first case's answer.
    server_.setAnswer("GET /v1/pairing/sessions/ps_1", std::get<0>(cases[0]),
                      std::get<1>(cases[0]));
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    for (const auto& [status, body, error] : cases) {
        SCOPED_TRACE(body.toStdString());
        server_.setAnswer("GET /v1/pairing/sessions/ps_1", status, body);
        const int before = polls();
        ASSERT_TRUE(QTest::qWaitFor([&] { return polls() >= before + 3; }));
        EXPECT_EQ(connectionStatusText(m.connection().status()), "Waiting for iPhone");
        EXPECT_EQ(errorText(m.connection().error()), error);
        EXPECT_TRUE(m.pairing().state().isPolling && m.pairing().isPollRunning());
        EXPECT_FALSE(m.isPaired() || m.autoSync().isLoopRunning());
        EXPECT_EQ(m.pairing().state().syncSpaceId.has_value(), error && status == 200);
        EXPECT_TRUE(server_.lastRequestHas("x-pairing-secret: s3cr3t"));
    }
    EXPECT_EQ(uploadStatusText(m.uploader().state()), "Never");
}

// A paired answer without the token ends the pairing as failed, says so, saves nothing and stops
// polling.
TEST_F(CannedRelayTest, APairedAnswerWithoutTheTokenFailsThePairing) {
    answerSession();
    server_.setAnswer("GET /v1/pairing/sessions/ps_1", 200,
                      R"({"status":"paired","connectorDeviceId":"mac_1","syncSpaceId":"sp"})");
    ConnectorModel& m = h_.make();
    test::finish(m.createPairingCode());
    EXPECT_EQ(test::finish(m.pairingFinished()), PairingOutcome::failed);
    EXPECT_EQ(connectionStatusText(m.connection().status()), "Pairing failed");
    EXPECT_EQ(errorText(m.connection().error()),
              "Pairing failed: the pairing code was used from a second place, so the relay "
              "withdrew this Mac's access. Create a new code and scan it only with your iPhone.");
    EXPECT_FALSE(m.isPaired() || m.pairing().state().isPolling || m.pairing().state().syncSpaceId ||
                 h_.storedToken());
    const int before = polls();
    QTest::qWait(100);
    EXPECT_EQ(polls(), before);
}

// A waiter hears how the pairing poll ended, also when it asks after the end.
TEST_F(CannedRelayTest, PairingFinishedReportsExpiryAndReset) {
    answerSession(kPayload, 1s);
    server_.setAnswer("GET /v1/pairing/sessions/ps_1", 200, kPending);
    ConnectorModel& m = h_.make();
    const PairingCodeOutcome created = test::finish(m.createPairingCode());
    ASSERT_TRUE(created.session.has_value());
    EXPECT_FALSE(created.error.has_value());
    auto waiting = m.pairingFinished();
    h_.clock.advance(2s);
    EXPECT_EQ(test::finish(std::move(waiting)), PairingOutcome::expired);
    EXPECT_EQ(m.connection().status(), ConnectionStatus::codeExpired);
    EXPECT_EQ(test::finish(m.pairingFinished()), PairingOutcome::expired);

    answerSession(kPayload, 1s);
    test::finish(m.createPairingCode());
    auto resetWhileWaiting = m.pairingFinished();
    m.resetPairing();
    EXPECT_EQ(test::finish(std::move(resetWhileWaiting)), PairingOutcome::cancelled);
}

// Two quick presses send one request; a new code replaces the session and its poll loop; a
// failure keeps the session.
TEST_F(CannedRelayTest, CreateTwiceQuicklyThenANewCodeThenAFailure) {
    answerSession();
    server_.setAnswer("GET /v1/pairing/sessions/ps_1", 200, kPending);
    server_.setAnswer("GET /v1/pairing/sessions/ps_2", 200, kPending);
    ConnectorModel& m = h_.make();
    auto first = m.createPairingCode();
    EXPECT_TRUE(m.pairing().state().isCreatingCode);
    EXPECT_TRUE(m.createPairingCode().isReady());
    test::finish(std::move(first));
    EXPECT_FALSE(m.pairing().state().isCreatingCode);
    EXPECT_EQ(server_.count("POST /v1/pairing/sessions"), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return polls("ps_1") >= 2; }));

    answerSession(kPayload, 10min, u"ps_2"_s);
    test::finish(m.createPairingCode());
    QTest::qWait(60); // lets the old loop reach its cancellation check
    const int oldPolls = polls("ps_1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return polls("ps_2") >= 3; }));
    EXPECT_EQ(polls("ps_1"), oldPolls);

    const auto session = m.pairing().state().session;
    server_.setAnswer("POST /v1/pairing/sessions", 503, R"({"error":"busy"})");
    const PairingCodeOutcome refused = test::finish(m.createPairingCode());
    EXPECT_FALSE(refused.session.has_value());
    EXPECT_EQ(refused.error.value_or(ConnectorError{}).kind,
              ConnectorError::Kind::pairingSessionFailed);
    EXPECT_EQ(errorText(m.connection().error()),
              R"(Unable to create pairing session: Relay returned HTTP 503: {"error":"busy"})");
    EXPECT_EQ(m.pairing().state().session, session);
    EXPECT_FALSE(m.pairing().state().isCreatingCode);
}

// Without rows the demo snapshot is uploaded; a second syncNow during the cycle returns at once.
TEST_F(CannedRelayTest, SyncNowUploadsTheDemoSnapshotAndIgnoresASecondPressDuringTheCycle) {
    h_.storePairing();
    server_.setAnswer("POST /v1/sync-spaces/space_1/snapshots", 200,
                      R"({"status":"ok","snapshotId":"x","updatedAt":"2026-03-01T09:14:05Z"})");
    ConnectorModel& m = h_.make();
    test::finish(m.start());
    auto first = m.syncNow();
    EXPECT_TRUE(m.syncNow().isReady());
    test::finish(std::move(first));
    EXPECT_EQ(server_.count("POST /v1/sync-spaces/"), 1);
    EXPECT_TRUE(server_.lastRequestHas("authorization: Bearer token")); // the keychain's token
    const UsageSnapshot uploaded = m.uploader().state().snapshot.value_or(UsageSnapshot{});
    EXPECT_EQ(uploaded.snapshotId,
              "snap_preview_" + std::to_string(unixSecondsTruncated(h_.clock.now())));
    EXPECT_EQ(uploaded.syncSpaceId, "space_1");
}

TEST_F(CannedRelayTest, HealthAndDeviceListAnswersAreShown) {
    const std::tuple<QByteArray, const char*, const char*> health[] = {
        {R"({"status":"ok","environment":"staging"})", "Reachable", "staging"},
        {R"({"status":"degraded"})", "degraded", "Unknown"},
        {R"({"status":"OK","environment":null})", "OK", "Unknown"},
    };
    const QByteArray unauthorized = R"({"error":"unauthorized"})";
    const std::tuple<int, QByteArray, const char*, QString, size_t> devices[] = {
        {200, R"({"devices":[]})", "No devices", u"None"_s, 0},
        {200,
         R"({"devices":[{"id":"m","name":"Box","kind":"linux","createdAt":"2026-03-01T09:00:00Z"}]})",
         "1 devices", u"None"_s, 1},
        // A failure keeps the previous list.
        {401, unauthorized, "Unable to load devices", "Relay returned HTTP 401: " + unauthorized,
         1},
    };
    h_.storePairing();
    ConnectorModel& m = h_.make();
    test::finish(m.start());
    m.setRelayBaseURLString(" " + server_.url().toString() + "/ "); // saved before the check
    for (const auto& [body, status, environment] : health) {
        server_.setAnswer("GET /health", 200, body);
        test::finish(m.checkRelayHealth());
        EXPECT_EQ(relayHealthText(m.relaySettings().state()), status);
        EXPECT_EQ(relayEnvironmentText(m.relaySettings().state()), environment);
    }
    EXPECT_EQ(h_.stored(u"relayBaseURL"_s), server_.url().toString());
    EXPECT_EQ(errorText(m.connection().error()), std::nullopt);
    for (const auto& [status, body, listStatus, listError, count] : devices) {
        server_.setAnswer("GET /v1/sync-spaces/space_1/devices", status, body);
        test::finish(m.loadDevices());
        EXPECT_EQ(deviceListStatusText(m.relaySettings().state()), listStatus);
        EXPECT_EQ(deviceListErrorText(m.relaySettings().state()), listError);
        EXPECT_EQ(m.relaySettings().state().devices.size(), count);
    }
    EXPECT_EQ(errorText(m.connection().error()),
              "Unable to load devices from Relay: Relay returned HTTP 401: " + unauthorized);
    m.setRelayBaseURLString(u"http://127.0.0.1:9"_s);
    test::finish(m.checkRelayHealth());
    EXPECT_EQ(relayHealthText(m.relaySettings().state()), "Unreachable");
    EXPECT_EQ(relayEnvironmentText(m.relaySettings().state()), "Unknown");
    EXPECT_TRUE(errorText(m.connection().error())
                    .value_or("")
                    .startsWith(u"Relay health check failed: "_s));
}

} // namespace
} // namespace korvo

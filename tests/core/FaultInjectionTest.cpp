#include "CoreTestSupport.h"
#include "model/SnapshotJson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <unistd.h>

namespace korvo {
namespace {

using test::statuses;

// Faults from outside, end to end, while paired with a real korvo-relay: the relay killed or
// frozen during an upload, hostile answers from another server, the clock jumping. Each cycle
// ends in the documented status texts; the next one recovers, and the relay then holds exactly
// the snapshot the model shows as uploaded.
class FaultInjectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(relay_->isRunning());
        h_.pointAt(relay_->url());
        h_.claude->report(h_.clock.now());
    }

    // Pairs as the phone would (claiming the code over HTTP) and waits for the first upload.
    void pair(ConnectorModel& m) {
        test::finish(m.createPairingCode());
        const std::string code = m.pairingSession().value_or(PairingSessionResponse{}).pairingCode;
        const auto res = phone().Post("/v1/pairing/claim", R"({"pairingCode":")" + code + "\"}",
                                      "application/json");
        ASSERT_TRUE(res && res->status == 200);
        const QJsonObject claim =
            QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
        space_ = claim["syncSpaceId"].toString();
        phoneToken_ = claim["phoneDeviceToken"].toString().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m.hasAutoSyncTask(); }));
    }
    httplib::Client phone() const { return httplib::Client("127.0.0.1", relay_->port()); }
    std::optional<UsageSnapshot> latestOnRelay() {
        const auto res =
            phone().Get(u"/v1/sync-spaces/%1/snapshots/latest"_s.arg(space_).toStdString(),
                        {{"authorization", "Bearer " + phoneToken_}});
        const auto decoded = decodeSnapshot(res ? res->body : std::string());
        return decoded.ok() ? std::optional(decoded.value()) : std::nullopt;
    }
    void useRelay(ConnectorModel& m, const QUrl& url) {
        m.setRelayBaseURLString(url.toString());
        m.saveRelaySettings();
    }
    // One cycle that fails: the documented texts, the last good upload kept on screen.
    void expectFailedCycle(const ConnectorModel& m, const std::optional<UsageSnapshot>& good,
                           const QString& error) {
        EXPECT_EQ(statuses(m), (QStringList{"Connected to iPhone", "Retrying", "Failed"}));
        EXPECT_EQ(m.lastUploadError(), error);
        EXPECT_EQ(m.errorMessage(), "Snapshot upload failed: " + error);
        EXPECT_EQ(m.latestSnapshot(), good);
        EXPECT_EQ(m.displaySnapshot(), good);
        EXPECT_FALSE(m.isSyncing());
        EXPECT_TRUE(m.isPaired() && m.hasAutoSyncTask());
    }
    // The next cycle goes through, and the relay holds what the model shows as uploaded.
    void expectRecovery(ConnectorModel& m) {
        h_.clock.advance(30s);
        EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::uploaded);
        ASSERT_TRUE(m.latestSnapshot().has_value());
        EXPECT_EQ(
            statuses(m),
            (QStringList{"Connected to iPhone", "Active",
                         "Uploaded " + QString::fromStdString(m.latestSnapshot()->snapshotId)}));
        EXPECT_EQ(m.errorMessage(), std::nullopt);
        EXPECT_EQ(m.lastUploadAt(), h_.clock.now());
        EXPECT_EQ(latestOnRelay(), m.latestSnapshot());
    }

    test::ModelHarness h_;
    std::unique_ptr<test::RelayProcess> relay_ =
        std::make_unique<test::RelayProcess>(h_.path(u"relay.db"_s));
    QString space_;
    std::string phoneToken_;
};

// The relay killed while it holds an upload half received (it is frozen first, so that the
// request is surely in its socket), then back on the same port with the same database.
TEST_F(FaultInjectionTest, RelayKilledMidUploadLosesNothingItAnswered) {
    ConnectorModel& m = h_.make();
    pair(m);
    const std::optional<UsageSnapshot> good = m.latestSnapshot();

    relay_->signal(SIGSTOP);
    h_.clock.advance(30s);
    QCoro::Task<SyncOutcome> cycle = m.syncNow();
    QTest::qWait(300);
    EXPECT_TRUE(m.isSyncing());
    relay_->kill();
    EXPECT_EQ(test::finish(std::move(cycle)), SyncOutcome::failed);
    expectFailedCycle(m, good, m.lastUploadError());
    EXPECT_NE(m.lastUploadError(), "None");
    relay_ =
        std::make_unique<test::RelayProcess>(h_.path(u"relay.db"_s), QStringList(), relay_->port());
    ASSERT_TRUE(relay_->isRunning());
    EXPECT_EQ(latestOnRelay(), good);
    expectRecovery(m);
}

// Another server in the relay's place: garbage, a body cut off, bytes that are not text, an
// error status. Each failure text starts as given and names what came back.
TEST_F(FaultInjectionTest, HostileAnswersFailTheCycleAndTheRealRelayRecovers) {
    const std::tuple<QByteArray, QString, QString> cases[] = {
        {test::httpResponse(200, "<html>not json</html>"), u"Relay response decode failed: "_s,
         u". Body: <html>not json</html>"_s},
        {"HTTP/1.1 200 OK\r\ncontent-type: application/json\r\ncontent-length: 400\r\n\r\n"
         R"({"status":"stored","snaps)",
         u""_s, u""_s},
        {test::httpResponse(500, R"({"error":"down"})"), u"Relay returned HTTP 500: "_s,
         uR"({"error":"down"})"_s},
        {QByteArray("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n\xff\xfe\x00\x01\x02", 43),
         u"Relay response decode failed: "_s, u"."_s},
    };
    ConnectorModel& m = h_.make();
    pair(m);
    for (const auto& [answer, start, end] : cases) {
        SCOPED_TRACE(answer.left(60).toStdString());
        const std::optional<UsageSnapshot> good = m.latestSnapshot();
        test::CannedServer hostile(answer);
        useRelay(m, hostile.url());
        h_.clock.advance(30s);
        EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::failed);
        EXPECT_EQ(hostile.count("POST /v1/sync-spaces/"), 1);
        const QString error = m.lastUploadError();
        expectFailedCycle(m, good, error);
        EXPECT_TRUE(error.startsWith(start) && error.endsWith(end) && error != "None") << error;
        useRelay(m, relay_->url());
        expectRecovery(m);
    }
}

// The clock jumps forward by hours (a long sleep) and back (a corrected clock): each cycle is
// stamped with the clock's time and uploads.
TEST_F(FaultInjectionTest, ClockJumpsForwardAndBack) {
    ConnectorModel& m = h_.make();
    pair(m);
    for (const auto jump : {std::chrono::seconds(9h), -std::chrono::seconds(30h), 1s}) {
        h_.clock.advance(jump);
        h_.claude->report(h_.clock.now());
        expectRecovery(m);
        EXPECT_EQ(m.lastSyncAt(), h_.clock.now());
        EXPECT_EQ(m.latestSnapshot()->updatedAt, h_.clock.now());
    }
}

} // namespace
} // namespace korvo

#include "RelayLoad.h"
#include "TestSnapshot.h"
#include "model/SnapshotJson.h"
#include "relay/RelayClient.h"
#include "support/RelayProcess.h"
#include "support/RunTask.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <httplib.h>
#include <simdjson.h>

namespace korvo {
namespace {

using test::RelayProcess;
using test::runTask;

// The connector's client and a phone (plain HTTP) against a real korvo-relay.
TEST(RelayEndToEnd, PairUploadListAndUnlinkThroughTheClient) {
    test::ensureApplication();
    QTemporaryDir dir;
    RelayProcess relay(dir.filePath("relay.db"), {"--environment", "test"});
    ASSERT_TRUE(relay.isRunning());
    QNetworkAccessManager network;
    RelayClient client(&network, relay.url("/ignored/path/"));

    const auto health = runTask(client.health());
    ASSERT_TRUE(health.ok()) << health.error().description();
    EXPECT_EQ(health.value(), (HealthResponse{"ok", "test"}));

    const auto session = runTask(client.createPairingSession("CONNECTOR-9", "Build Box"));
    ASSERT_TRUE(session.ok()) << session.error().description();
    const std::string payload = session.value().qrPayload;
    const std::string secret = payload.substr(payload.find("secret=") + 7);

    auto status = runTask(client.pairingStatus(session.value().pairingSessionId, secret));
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(status.value(), (PairingStatusResponse{"pending", {}, {}, {}}));

    const auto wrong = runTask(client.pairingStatus(session.value().pairingSessionId, "x"));
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error().description(),
              R"(Relay returned HTTP 403: {"error":"Wrong pairing secret"})");

    httplib::Client phone("127.0.0.1", relay.port());
    auto claimed = phone.Post("/v1/pairing/claim",
                              R"({"pairingCode":")" + session.value().pairingCode + R"("})",
                              "application/json");
    ASSERT_TRUE(claimed && claimed->status == 200);

    status = runTask(client.pairingStatus(session.value().pairingSessionId, secret));
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(status.value().status, "paired");
    EXPECT_EQ(status.value().connectorDeviceId, "CONNECTOR-9");
    ASSERT_TRUE(status.value().syncSpaceId && status.value().connectorDeviceToken);
    const std::string space = *status.value().syncSpaceId;
    const std::string token = *status.value().connectorDeviceToken;

    const UsageSnapshot snapshot = test::testSnapshot(space, 5, "CONNECTOR-9");
    const auto uploaded = runTask(client.uploadSnapshot(snapshot, token));
    ASSERT_TRUE(uploaded.ok()) << uploaded.error().description();
    EXPECT_EQ(uploaded.value().snapshotId, snapshot.snapshotId);

    const auto refused = runTask(client.uploadSnapshot(snapshot, "stolen"));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description(),
              R"(Relay returned HTTP 401: {"error":"Invalid token for this sync space"})");

    // The phone reads exactly the bytes the connector's encoder produced.
    simdjson::dom::parser parser;
    const std::string phoneToken(
        std::string_view(parser.parse(claimed->body)["phoneDeviceToken"].get_string()));
    auto latest = phone.Get(("/v1/sync-spaces/" + space + "/snapshots/latest").c_str(),
                            {{"authorization", "Bearer " + phoneToken}});
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->body, encodeSnapshot(snapshot).value());

    const auto devices = runTask(client.listDevices(space, token));
    ASSERT_TRUE(devices.ok()) << devices.error().description();
    ASSERT_EQ(devices.value().devices.size(), 2u);
    EXPECT_EQ(devices.value().devices[0].id, "CONNECTOR-9");
    EXPECT_EQ(devices.value().devices[0].name, "Build Box");
    EXPECT_EQ(devices.value().devices[0].kind, "connector");
    EXPECT_TRUE(devices.value().devices[0].lastSeenAt.has_value());
    EXPECT_EQ(devices.value().devices[1].id,
              std::string_view(parser.parse(claimed->body)["phoneDeviceId"].get_string()));

    const auto unlinked = runTask(client.deleteDevice(space, "CONNECTOR-9", token));
    ASSERT_TRUE(unlinked.ok()) << unlinked.error().description();
    EXPECT_EQ(unlinked.value(), (DeleteDeviceResponse{"deleted", "CONNECTOR-9"}));
    // The connector's token went with it; the phone stays.
    EXPECT_FALSE(runTask(client.listDevices(space, token)).ok());
    auto phoneList = phone.Get(("/v1/sync-spaces/" + space + "/devices").c_str(),
                               {{"authorization", "Bearer " + phoneToken}});
    ASSERT_TRUE(phoneList);
    EXPECT_EQ(phoneList->status, 200);
}

// The load target, run in full: it takes about a second. The 50 ms bound on the 99th percentile
// belongs to the benchmark (bench_relay_load); here other tests share the cores, so the bounds
// only catch stalls: Nagle's algorithm against delayed acknowledgements puts the median near
// 40-90 ms, an overflowing listen backlog costs a second per dropped handshake.
TEST(RelayLoad, TenThousandUploadsFromFiftyDevicesLoseNothing) {
    QTemporaryDir dir;
    RelayProcess relay(dir.filePath("relay.db"));
    const auto report = relayserver::runUploadLoad("127.0.0.1", relay.port(), 50, 10'000);
    std::printf("%s\n", report.summary().c_str());
    for (const auto& problem : report.problems) {
        ADD_FAILURE() << problem;
    }
    EXPECT_EQ(report.uploads, 10'000);
    EXPECT_TRUE(report.lostNothing());
    EXPECT_LT(report.p50Ms, 40.0);
    EXPECT_LT(report.p99Ms, 400.0);
}

} // namespace
} // namespace korvo

#include "PrivateHome.h"
#include "model/SnapshotJson.h"
#include "support/RelayProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <gtest/gtest.h>
#include <httplib.h>

namespace korvo {
namespace {

using test::waitForOutput;

// The snapshot without what differs between two collections: ids and times.
UsageSnapshot withoutIdsAndTimes(UsageSnapshot snapshot) {
    snapshot.snapshotId.clear();
    snapshot.syncSpaceId.clear();
    snapshot.updatedAt = {};
    for (auto& provider : snapshot.providers) {
        provider.observedAt = {};
    }
    return snapshot;
}

// Pairs a private home with a real korvo-relay, claiming the printed code as the phone does, then
// runs, stops and unlinks the paired connector.
TEST(PairEndToEnd, PhoneClaimsTheCodeAndReadsTheSnapshot) {
    test::PrivateHome home;
    home.copyFixture("cli/claude-home");
    test::RelayProcess relay(home.file("relay.db"), {"--environment", "test"});
    ASSERT_TRUE(relay.isRunning());
    const QString relayURL = relay.url().toString();

    auto pair = home.start({"pair", "--relay", relayURL});
    const auto code =
        waitForOutput(*pair, std::regex("Pairing code: (\\d{6})\nExpires in (9|10) "
                                        "minutes\n[\\s\\S]*█[\\s\\S]*Waiting for iPhone"));
    ASSERT_TRUE(code) << pair->readAllStandardOutput().toStdString()
                      << pair->readAllStandardError().toStdString();

    httplib::Client phone("127.0.0.1", relay.port());
    const auto claim = phone.Post("/v1/pairing/claim", R"({"pairingCode": ")" + *code + R"("})",
                                  "application/json");
    ASSERT_TRUE(claim && claim->status == 200);
    const auto claimed = QJsonDocument::fromJson(QByteArray::fromStdString(claim->body)).object();
    const std::string space = claimed["syncSpaceId"].toString().toStdString();
    const httplib::Headers asPhone{
        {"Authorization", "Bearer " + claimed["phoneDeviceToken"].toString().toStdString()}};

    const auto paired = test::finish(*pair);
    EXPECT_EQ(paired.exitCode, 0) << paired.out << paired.err;
    EXPECT_NE(paired.out.find("Connected to iPhone\nLast upload: Uploaded snap_"),
              std::string::npos)
        << paired.out;

    // The relay holds what `snapshot` prints for the same home.
    const auto latest = phone.Get("/v1/sync-spaces/" + space + "/snapshots/latest", asPhone);
    ASSERT_TRUE(latest && latest->status == 200);
    const auto uploaded = decodeSnapshot(latest->body);
    ASSERT_TRUE(uploaded.ok()) << latest->body;
    const auto printed = home.run({"snapshot"});
    const auto local = decodeSnapshot(printed.out);
    ASSERT_TRUE(local.ok()) << printed.out << printed.err;
    EXPECT_EQ(withoutIdsAndTimes(local.value()), withoutIdsAndTimes(uploaded.value()));
    EXPECT_EQ(local.value().syncSpaceId, space);
    EXPECT_EQ(uploaded.value().syncSpaceId, space);
    const auto status = home.run({"status"}).out;
    EXPECT_NE(status.find("Pairing: Paired\n"), std::string::npos) << status;
    EXPECT_NE(status.find("Relay URL: " + relayURL.toStdString() + "\n"), std::string::npos);

    // `run` keeps going until it is told to stop, then exits 0.
    for (int signalNumber : {SIGTERM, SIGINT}) {
        auto run = home.start({"run"});
        ASSERT_TRUE(waitForOutput(*run, std::regex("Connected to iPhone\n")))
            << run->readAllStandardError().toStdString();
        ::kill(static_cast<pid_t>(run->processId()), signalNumber);
        const auto stopped = test::finish(*run, 10000);
        EXPECT_EQ(stopped.exitCode, 0) << signalNumber << stopped.err;
        EXPECT_TRUE(stopped.out.ends_with("Stopped\n")) << stopped.out;
    }

    // A relay that cannot be reached keeps the pairing, so unlinking can be tried again.
    const auto refused = home.run({"--relay", test::kClosedLoopbackURL, "unlink"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Unable to unlink this Mac from Relay."), std::string::npos)
        << refused.err;
    EXPECT_NE(home.run({"status"}).out.find("Pairing: Paired\n"), std::string::npos);

    const auto unlink = home.run({"--relay", relayURL, "unlink"});
    EXPECT_EQ(unlink.exitCode, 0) << unlink.err;
    EXPECT_EQ(unlink.out, "Not paired\n");
    const auto devices = phone.Get("/v1/sync-spaces/" + space + "/devices", asPhone);
    ASSERT_TRUE(devices);
    EXPECT_EQ(devices->body.find("\"connector\""), std::string::npos) << devices->body;
    EXPECT_NE(home.run({"status"}).out.find("Pairing: Not paired\n"), std::string::npos);
}

} // namespace
} // namespace korvo

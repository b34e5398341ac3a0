#include "RelayProcess.h"
#include "Subprocess.h"
#include "model/SnapshotJson.h"

#include <csignal>
#include <gtest/gtest.h>
#include <regex>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using test::runConnector;
using test::Subprocess;
using test::TempHome;

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
    TempHome home;
    home.copyFixture("cli/claude-home");
    test::RelayProcess relay(home);
    ASSERT_FALSE(relay.baseURL().empty());

    Subprocess pair({test::binary("korvo-connector"), "pair", "--relay", relay.baseURL()},
                    home.environment());
    const std::regex codeLine("Pairing code: (\\d{6})\nExpires in (9|10) minutes\n");
    std::smatch match;
    ASSERT_TRUE(pair.waitForOutput(
        [&](const std::string& out) { return std::regex_search(out, match, codeLine); }, 15s))
        << pair.out() << pair.err();
    const std::string code = match[1];
    ASSERT_TRUE(pair.waitForOutput(
        [](const std::string& out) { return out.find("Waiting for iPhone") != std::string::npos; },
        5s));
    EXPECT_NE(pair.out().find("█"), std::string::npos) << "no QR code drawn";

    auto claim = relay.post("/v1/pairing/claim", R"({"pairingCode": ")" + code + R"("})");
    ASSERT_EQ(claim.status, 200) << claim.body;
    const auto syncSpaceId = test::jsonString(claim.body, "syncSpaceId");
    const auto phoneToken = test::jsonString(claim.body, "phoneDeviceToken");
    ASSERT_TRUE(syncSpaceId && phoneToken);

    auto paired = pair.finish(20s);
    EXPECT_EQ(paired.exitCode, 0) << paired.out << paired.err;
    EXPECT_NE(paired.out.find("Connected to iPhone\nLast upload: Uploaded snap_"),
              std::string::npos)
        << paired.out;

    auto latest = relay.get("/v1/sync-spaces/" + *syncSpaceId + "/snapshots/latest", *phoneToken);
    ASSERT_EQ(latest.status, 200) << latest.body;
    auto uploaded = decodeSnapshot(latest.body);
    ASSERT_TRUE(uploaded.ok()) << latest.body;
    EXPECT_EQ(uploaded.value().syncSpaceId, *syncSpaceId);

    auto printed = runConnector({"snapshot"}, home.environment());
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    auto local = decodeSnapshot(printed.out);
    ASSERT_TRUE(local.ok()) << printed.out;
    EXPECT_EQ(withoutIdsAndTimes(local.value()), withoutIdsAndTimes(uploaded.value()));
    EXPECT_EQ(local.value().syncSpaceId, *syncSpaceId);

    auto status = runConnector({"status"}, home.environment());
    EXPECT_NE(status.out.find("Pairing: Paired\n"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("Relay URL: " + relay.baseURL() + "\n"), std::string::npos)
        << status.out;

    // `run` keeps going until it is told to stop, then exits 0.
    for (int signalNumber : {SIGTERM, SIGINT}) {
        Subprocess run({test::binary("korvo-connector"), "run"}, home.environment());
        ASSERT_TRUE(run.waitForOutput(
            [](const std::string& out) {
                return out.find("Connected to iPhone\n") != std::string::npos;
            },
            15s))
            << run.out() << run.err();
        run.signal(signalNumber);
        auto stopped = run.finish(10s);
        EXPECT_EQ(stopped.exitCode, 0) << signalNumber << stopped.err;
        EXPECT_TRUE(stopped.out.ends_with("Stopped\n")) << stopped.out;
    }

    // A relay that cannot be reached keeps the pairing, so unlinking can be tried again.
    auto refused =
        runConnector({"--relay", test::closedLoopbackURL(), "unlink"}, home.environment());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Unable to unlink this Mac from Relay."), std::string::npos)
        << refused.err;
    status = runConnector({"status"}, home.environment());
    EXPECT_NE(status.out.find("Pairing: Paired\n"), std::string::npos) << status.out;

    auto unlink = runConnector({"--relay", relay.baseURL(), "unlink"}, home.environment());
    EXPECT_EQ(unlink.exitCode, 0) << unlink.err;
    EXPECT_EQ(unlink.out, "Not paired\n");
    auto devices = relay.get("/v1/sync-spaces/" + *syncSpaceId + "/devices", *phoneToken);
    EXPECT_EQ(devices.body.find("\"connector\""), std::string::npos) << devices.body;
    status = runConnector({"status"}, home.environment());
    EXPECT_NE(status.out.find("Pairing: Not paired\n"), std::string::npos) << status.out;
}

} // namespace
} // namespace korvo

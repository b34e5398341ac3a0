#include "sources/MockAdapter.h"

#include "model/SnapshotJson.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace korvo {
namespace {

using namespace std::chrono_literals;

// 2026-03-01T09:14:05Z
constexpr Instant fixedNow = instantFromUnixSeconds(1772356445);

std::string readGolden(const std::string& name) {
    std::ifstream in(std::string(KORVO_FIXTURES_DIR) + "/golden/" + name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(DemoSnapshot, EncodesToGoldenBytesAndDecodesBackEqual) {
    const MockAdapter adapter(fixedClock(fixedNow));
    const UsageSnapshot snapshot = adapter.makeDemoSnapshot(
        "space_123", "mac_0A1B2C3D4E5F", "Dana's Workstation", SnapshotDeviceKind::linux);

    const auto encoded = encodeSnapshot(snapshot);
    ASSERT_TRUE(encoded.ok()) << encoded.error().description();
    EXPECT_EQ(encoded.value(), readGolden("demo-snapshot.json"));

    const auto decoded = decodeSnapshot(encoded.value());
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    EXPECT_EQ(decoded.value(), snapshot);
}

TEST(DemoSnapshot, RowsCarryDemoSourceAndNoWindowStart) {
    const auto encoded =
        encodeSnapshot(MockAdapter(fixedClock(fixedNow)).makeDemoSnapshot("s", "d", "n"));
    ASSERT_TRUE(encoded.ok());
    const std::string& json = encoded.value();
    const auto count = [&json](const std::string& needle) {
        std::size_t n = 0;
        for (auto pos = json.find(needle); pos != std::string::npos;
             pos = json.find(needle, pos + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count(R"("source" : "demo")"), 2u);
    EXPECT_EQ(count(R"("confidence" : "demo")"), 2u);
    EXPECT_EQ(count("startedAt"), 0u);
    EXPECT_EQ(count("resetAt"), 1u);
}

struct IdCase {
    std::chrono::nanoseconds first;
    std::chrono::nanoseconds second;
    bool sameId;
};

class DemoSnapshotId : public testing::TestWithParam<IdCase> {};

TEST_P(DemoSnapshotId, WholeSecondsDecide) {
    const auto id = [](std::chrono::nanoseconds sinceEpoch) {
        return MockAdapter(fixedClock(Instant(sinceEpoch)))
            .makeDemoSnapshot("s", "d", "n")
            .snapshotId;
    };
    EXPECT_EQ(id(GetParam().first) == id(GetParam().second), GetParam().sameId)
        << id(GetParam().first) << " " << id(GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Table, DemoSnapshotId,
                         testing::Values(IdCase{10s, 10s + 999ms, true},
                                         IdCase{10s + 999ms, 11s, false},
                                         IdCase{10s, 11s + 1ms, false},
                                         // Truncation toward zero before 1970.
                                         IdCase{-1s + 1ms, 999ms, true}));

TEST(DemoSnapshot, IdIsSecondsSince1970) {
    EXPECT_EQ(MockAdapter(fixedClock(fixedNow + 999ms)).makeDemoSnapshot("s", "d", "n").snapshotId,
              "snap_preview_1772356445");
}

TEST(MockAdapter, DiagnosticIsFixedAndReadUsageIsEmpty) {
    const MockAdapter adapter(fixedClock(fixedNow));
    const AdapterDiagnostic d = adapter.diagnose();
    EXPECT_EQ(d.id, "mock");
    EXPECT_EQ(d.displayName, "Mock Claude/Codex");
    EXPECT_TRUE(d.isAvailable && d.usageSourceFound && d.tokenDataFound && d.limitDataFound &&
                d.canUploadProvider);
    EXPECT_FALSE(d.cliInstalled);
    EXPECT_EQ(d.trackingStatus, "Demo fallback");
    EXPECT_EQ(d.whyNoQuota, std::nullopt);
    EXPECT_EQ(d.summary, "Available for preview and App Review");
    EXPECT_TRUE(d.checkedPaths.empty());
    EXPECT_EQ(d.warnings, std::vector<std::string>{"Generates demo data only"});
    EXPECT_EQ(adapter.readUsage(), std::nullopt);
}

} // namespace
} // namespace korvo

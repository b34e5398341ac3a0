#include "sources/MockAdapter.h"

#include "TestHome.h"
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

// The id counts whole seconds since 1970, truncated toward zero.
TEST(DemoSnapshot, IdIsWholeSecondsSince1970) {
    struct Case {
        std::chrono::nanoseconds sinceEpoch;
        const char* id;
    };
    const std::vector<Case> cases = {
        {fixedNow.time_since_epoch() + 999ms, "snap_preview_1772356445"},
        {10s + 999ms, "snap_preview_10"},
        {11s, "snap_preview_11"},
        {-1s + 1ms, "snap_preview_0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MockAdapter(fixedClock(Instant(c.sinceEpoch)))
                      .makeDemoSnapshot("s", "d", "n")
                      .snapshotId,
                  c.id);
    }
}

TEST(MockAdapter, DiagnosticIsFixedAndReadUsageIsEmpty) {
    const MockAdapter adapter(fixedClock(fixedNow));
    const AdapterDiagnostic d = adapter.diagnose();
    EXPECT_EQ(d.id + " / " + d.displayName, "mock / Mock Claude/Codex");
    testing::expectLadder(d,
                          {"Demo fallback",
                           "Available for preview and App Review",
                           {},
                           testing::kSource | testing::kTokens | testing::kLimits,
                           {}},
                          {});
    EXPECT_EQ(d.warnings, std::vector<std::string>{"Generates demo data only"});
    EXPECT_EQ(adapter.readUsage(), std::nullopt);
}

} // namespace
} // namespace korvo

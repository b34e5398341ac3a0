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

} // namespace
} // namespace korvo

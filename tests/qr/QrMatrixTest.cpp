#include "qr/QrMatrix.h"

#include "ZbarDecode.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

// Draws the matrix as a grey image with `scale` pixels per module and a 4-module quiet zone.
std::vector<std::uint8_t> rasterize(const QrMatrix& matrix, int scale, int& side) {
    const int quiet = 4;
    side = (matrix.size() + 2 * quiet) * scale;
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(side * side), 255);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            if (matrix.isDark(x / scale - quiet, y / scale - quiet)) {
                grey[static_cast<std::size_t>(y * side + x)] = 0;
            }
        }
    }
    return grey;
}

struct RoundTrip {
    const char* name;
    std::string payload;
};

class QrMatrixRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(QrMatrixRoundTrip, ScannerReadsBackTheExactBytes) {
    const auto matrix = QrMatrix::encode(GetParam().payload);
    ASSERT_TRUE(matrix.has_value());
    int side = 0;
    const auto grey = rasterize(*matrix, 4, side);
    const auto decoded = testing::decodeQr(grey, side, side);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, GetParam().payload);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, QrMatrixRoundTrip,
    ::testing::Values(
        RoundTrip{"PairingLink",
                  "korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
                  "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw"},
        RoundTrip{"MultiByteUtf8", "Büro · ✓ 東京 🚀"},
        RoundTrip{"UpperCaseStaysEightBit", "ABCDEFGHIJKLMNOPQRST"}, RoundTrip{"SingleByte", "x"}),
    [](const auto& info) { return std::string(info.param.name); });

struct VersionCase {
    const char* name;
    std::string payload;
    std::optional<int> version;
};

class QrMatrixVersion : public ::testing::TestWithParam<VersionCase> {};

// Byte capacities at level M: version 1 holds 14 bytes, version 40 holds 2331. Upper-case
// letters would fit 20 to a version-1 code in alphanumeric mode, so the third row shows the
// encoder stays in 8-bit mode.
TEST_P(QrMatrixVersion, SmallestVersionForLevelMInEightBitMode) {
    const auto matrix = QrMatrix::encode(GetParam().payload);
    ASSERT_EQ(matrix.has_value(), GetParam().version.has_value());
    if (matrix) {
        EXPECT_EQ(matrix->version(), *GetParam().version);
        EXPECT_EQ(matrix->size(), 17 + 4 * *GetParam().version);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Capacities, QrMatrixVersion,
    ::testing::Values(VersionCase{"Empty", "", std::nullopt},
                      VersionCase{"FourteenBytes", std::string(14, 'a'), 1},
                      VersionCase{"FifteenBytes", std::string(15, 'a'), 2},
                      VersionCase{"TwentyUpperCase", "ABCDEFGHIJKLMNOPQRST", 2},
                      VersionCase{"LargestFit", std::string(2331, 'a'), 40},
                      VersionCase{"TooLong", std::string(2332, 'a'), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QrMatrixTest, SamePayloadGivesSameMatrixAndOutsideIsLight) {
    const auto first = QrMatrix::encode("korvo://pair?code=123456");
    const auto second = QrMatrix::encode("korvo://pair?code=123456");
    const auto other = QrMatrix::encode("korvo://pair?code=123457");
    ASSERT_TRUE(first && second && other);
    EXPECT_EQ(*first, *second);
    EXPECT_NE(*first, *other);
    // The finder pattern's corner is dark; just outside the grid is quiet zone.
    EXPECT_TRUE(first->isDark(0, 0));
    EXPECT_FALSE(first->isDark(-1, 0));
    EXPECT_FALSE(first->isDark(0, first->size()));
}

} // namespace
} // namespace korvo

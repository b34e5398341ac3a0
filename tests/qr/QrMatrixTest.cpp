#include "qr/QrMatrix.h"

#include "ZbarDecode.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(QrMatrixTest, ScannerReadsBackTheExactBytes) {
    for (const std::string payload :
         {"korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
          "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw",
          "Büro · ✓ 東京 🚀", "ABCDEFGHIJKLMNOPQRST", "x"}) {
        SCOPED_TRACE(payload);
        const auto matrix = QrMatrix::encode(payload);
        ASSERT_TRUE(matrix.has_value());
        EXPECT_EQ(testing::scanQr(matrix->size(), matrix->size(),
                                  [&](int x, int y) { return matrix->isDark(x, y); }),
                  payload);
    }
}

// Byte capacities at level M: version 1 holds 14 bytes, version 40 holds 2331. Upper-case
// letters would fit 20 to a version-1 code in alphanumeric mode, so a version-2 code for them
// shows the encoder stays in 8-bit mode.
TEST(QrMatrixTest, SmallestVersionForLevelMInEightBitMode) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"", std::nullopt},           {std::string(14, 'a'), 1},
        {std::string(15, 'a'), 2},    {"ABCDEFGHIJKLMNOPQRST", 2},
        {std::string(2331, 'a'), 40}, {std::string(2332, 'a'), std::nullopt},
    };
    for (const auto& [payload, version] : cases) {
        SCOPED_TRACE(payload.size());
        const auto matrix = QrMatrix::encode(payload);
        ASSERT_EQ(matrix.has_value(), version.has_value());
        if (matrix) {
            EXPECT_EQ(matrix->version(), *version);
            EXPECT_EQ(matrix->size(), 17 + 4 * *version);
        }
    }
}

} // namespace
} // namespace korvo

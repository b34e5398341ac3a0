#include "qr/QrMatrix.h"

#include "ZbarDecode.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

// Byte capacities at level M: version 1 holds 14 bytes, version 40 holds 2331. Upper-case
// letters would fit 20 to a version-1 code in alphanumeric mode, so a version-2 code for them
// shows the encoder stays in 8-bit mode; a scanner reads back the exact bytes, UTF-8 included.
TEST(QrMatrixTest, SmallestVersionForLevelMInEightBitModeScansBack) {
    const std::pair<std::string, std::optional<int>> cases[] = {
        // clang-format off
        {"", std::nullopt}, {std::string(14, 'a'), 1}, {std::string(15, 'a'), 2},
        {"ABCDEFGHIJKLMNOPQRST", 2}, {"Büro · ✓ 東京 🚀", 2}, {std::string(2331, 'a'), 40},
        {std::string(2332, 'a'), std::nullopt},
        // clang-format on
    };
    for (const auto& [payload, version] : cases) {
        SCOPED_TRACE(payload.substr(0, 30));
        const auto matrix = QrMatrix::encode(payload);
        ASSERT_EQ(matrix.has_value(), version.has_value());
        if (matrix) {
            EXPECT_EQ(matrix->version(), *version);
            EXPECT_EQ(matrix->size(), 17 + 4 * *version);
            EXPECT_EQ(test::scanQr(matrix->size(), matrix->size(),
                                   [&](int x, int y) { return matrix->isDark(x, y); }),
                      payload);
        }
    }
}

} // namespace
} // namespace korvo

#include "cli/TerminalQr.h"

#include "../qr/ZbarDecode.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace korvo {
namespace {

// The drawing read back as rows of modules, two per line, true where dark.
std::vector<std::vector<bool>> readModules(const std::string& drawn) {
    std::vector<std::vector<bool>> rows;
    std::istringstream lines(drawn);
    for (std::string line; std::getline(lines, line);) {
        rows.resize(rows.size() + 2);
        for (std::size_t i = 0, width; i < line.size(); i += width) {
            width = line[i] == ' ' ? 1 : 3;
            const std::string cell = line.substr(i, width);
            EXPECT_TRUE(cell == " " || cell == "▀" || cell == "▄" || cell == "█") << line;
            rows[rows.size() - 2].push_back(cell == "▀" || cell == "█");
            rows.back().push_back(cell == "▄" || cell == "█");
        }
    }
    return rows;
}

TEST(TerminalQr, HalfBlocksDrawTheCodeInItsQuietZoneAndScanBack) {
    const std::string payload =
        "korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
        "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw";
    const auto matrix = QrMatrix::encode(payload);
    const std::string drawn = renderTerminalQr(payload, TerminalColors::none);
    ASSERT_TRUE(drawn.ends_with('\n'));
    const auto rows = readModules(drawn);
    // Square with the quiet zone around it, plus a light row to fill the last line.
    const int zone = kTerminalQrQuietZone, side = matrix->size() + 2 * zone;
    ASSERT_EQ(static_cast<int>(rows.size()), side + 1);
    for (int y = 0; y <= side; ++y) {
        ASSERT_EQ(static_cast<int>(rows[y].size()), side) << "ragged line " << y / 2;
        for (int x = 0; x < side; ++x) {
            const bool inside = x >= zone && x < side - zone && y >= zone && y < side - zone;
            EXPECT_EQ(rows[y][x], inside && matrix->isDark(x - zone, y - zone)) << x << "," << y;
        }
    }
    EXPECT_EQ(testing::scanQr(side, side, [&](int x, int y) { return rows[y][x]; }), payload);

    // Colours wrap the same lines; what cannot be encoded is said in words.
    EXPECT_EQ(std::regex_replace(renderTerminalQr(payload, TerminalColors::ansi),
                                 std::regex("\x1b\\[(30;107|0)m"), ""),
              drawn);
    EXPECT_EQ(renderTerminalQr(std::string(3000, 'a'), TerminalColors::ansi), "QR unavailable\n");
    EXPECT_EQ(renderTerminalQr("", TerminalColors::none), "QR unavailable\n");
}

} // namespace
} // namespace korvo

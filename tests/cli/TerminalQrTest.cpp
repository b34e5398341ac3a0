#include "cli/TerminalQr.h"

#include "../qr/ZbarDecode.h"

#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>

namespace korvo {
namespace {

using Modules = std::vector<std::vector<bool>>; // rows of modules, true where dark

// The drawing read back as module rows, two per line; empty on a character that is no block.
Modules readModules(const std::string& drawn) {
    static const std::map<std::string, std::pair<bool, bool>> cells = {
        {" ", {false, false}}, {"▀", {true, false}}, {"▄", {false, true}}, {"█", {true, true}}};
    EXPECT_TRUE(drawn.ends_with('\n'));
    Modules rows;
    std::istringstream lines(drawn);
    for (std::string line; std::getline(lines, line);) {
        std::vector<bool> upper, lower;
        for (std::size_t i = 0, width; i < line.size(); i += width) {
            width = line[i] == ' ' ? 1 : 3;
            const auto cell = cells.find(line.substr(i, width));
            if (cell == cells.end()) {
                ADD_FAILURE() << "unexpected byte at " << i << " of " << line;
                return {};
            }
            upper.push_back(cell->second.first);
            lower.push_back(cell->second.second);
        }
        rows.push_back(upper);
        rows.push_back(lower);
    }
    return rows;
}

TEST(TerminalQr, ScannerReadsThePayloadBackFromTheDrawing) {
    const std::vector<std::string> payloads = {
        "korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
        "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw",
        "x",               // version 1: 21 modules, an odd number of rows
        "Büro · ✓ 東京 🚀", // UTF-8 bytes travel unchanged
    };
    for (const auto& payload : payloads) {
        const Modules rows = readModules(renderTerminalQr(payload, TerminalColors::none));
        ASSERT_FALSE(rows.empty()) << payload;
        // Square with the quiet zone around it, plus a light row to fill the last line.
        const int side = static_cast<int>(rows[0].size());
        const int zone = kTerminalQrQuietZone;
        EXPECT_EQ(side, QrMatrix::encode(payload)->size() + 2 * zone) << payload;
        ASSERT_EQ(static_cast<int>(rows.size()), side + side % 2) << payload;
        constexpr int scale = 4;
        std::vector<std::uint8_t> grey(static_cast<std::size_t>(side * rows.size() * scale * scale),
                                       255);
        for (int y = 0; y < static_cast<int>(rows.size()); ++y) {
            ASSERT_EQ(static_cast<int>(rows[y].size()), side) << payload << ": ragged lines";
            for (int x = 0; x < side; ++x) {
                if (!rows[y][x]) {
                    continue;
                }
                EXPECT_TRUE(x >= zone && x < side - zone && y >= zone && y < side - zone)
                    << payload << ": dark module in the quiet zone at " << x << "," << y;
                for (int dy = 0; dy < scale; ++dy) {
                    std::fill_n(grey.begin() + (y * scale + dy) * side * scale + x * scale, scale,
                                0);
                }
            }
        }
        EXPECT_EQ(testing::decodeQr(grey, side * scale, static_cast<int>(rows.size()) * scale),
                  payload);
    }
}

TEST(TerminalQr, ColouredLinesCarryTheSameDrawing) {
    const std::string payload = "korvo://pair?session=A&code=123456&secret=B";
    const std::string coloured = renderTerminalQr(payload, TerminalColors::ansi);
    EXPECT_EQ(std::regex_replace(coloured, std::regex("\x1b\\[(30;107|0)m"), ""),
              renderTerminalQr(payload, TerminalColors::none));
    EXPECT_EQ(renderTerminalQr(std::string(3000, 'a'), TerminalColors::ansi), "QR unavailable\n");
    EXPECT_EQ(renderTerminalQr("", TerminalColors::none), "QR unavailable\n");
}

} // namespace
} // namespace korvo

#include "cli/TerminalQr.h"

#include "../qr/ZbarDecode.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

// Turns drawn lines back into a grey image: each character is two modules stacked, `scale`
// pixels per module. Fails the test on a character that is not a half block or a space.
std::vector<std::uint8_t> scanLines(const std::string& drawn, int scale, int& width, int& height) {
    std::vector<std::vector<std::pair<bool, bool>>> cells;
    std::vector<std::pair<bool, bool>> line;
    for (std::size_t i = 0; i < drawn.size();) {
        if (drawn[i] == '\n') {
            cells.push_back(line);
            line.clear();
            ++i;
        } else if (drawn[i] == ' ') {
            line.emplace_back(false, false);
            ++i;
        } else if (drawn.compare(i, 3, "█") == 0) {
            line.emplace_back(true, true);
            i += 3;
        } else if (drawn.compare(i, 3, "▀") == 0) {
            line.emplace_back(true, false);
            i += 3;
        } else if (drawn.compare(i, 3, "▄") == 0) {
            line.emplace_back(false, true);
            i += 3;
        } else {
            ADD_FAILURE() << "unexpected byte at " << i;
            return {};
        }
    }
    EXPECT_TRUE(line.empty()) << "last line has no line break";
    width = static_cast<int>(cells.at(0).size()) * scale;
    height = static_cast<int>(cells.size()) * 2 * scale;
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(width * height), 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto& row = cells[static_cast<std::size_t>(y / scale / 2)];
            EXPECT_EQ(row.size(), cells[0].size()) << "ragged lines";
            const auto& cell = row.at(static_cast<std::size_t>(x / scale));
            if ((y / scale) % 2 == 0 ? cell.first : cell.second) {
                grey[static_cast<std::size_t>(y * width + x)] = 0;
            }
        }
    }
    return grey;
}

TEST(TerminalQr, ScannerReadsThePayloadBackFromTheDrawing) {
    const std::vector<std::string> payloads = {
        "korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
        "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw",
        "x",               // version 1: 21 modules, an odd number of rows
        "Büro · ✓ 東京 🚀", // UTF-8 bytes travel unchanged
    };
    for (const auto& payload : payloads) {
        const std::string drawn = renderTerminalQr(payload, TerminalColors::none);
        int width = 0;
        int height = 0;
        const auto grey = scanLines(drawn, 4, width, height);
        ASSERT_FALSE(grey.empty()) << payload;
        EXPECT_EQ(testing::decodeQr(grey, width, height), payload);
    }
}

TEST(TerminalQr, QuietZoneSurroundsTheCode) {
    const auto matrix = QrMatrix::encode("x");
    ASSERT_TRUE(matrix);
    const std::string drawn = renderTerminalQr(*matrix, TerminalColors::none);
    const int side = matrix->size() + 2 * kTerminalQrQuietZone; // 29 modules
    const std::string blank(static_cast<std::size_t>(side), ' ');
    // 29 rows of modules fit in 15 lines; the first two and the last two lines are blank.
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = drawn.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(drawn.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 15u);
    for (std::size_t i : {0u, 1u, 13u, 14u}) {
        EXPECT_EQ(lines[i], blank) << "line " << i;
    }
    for (std::size_t i = 2; i < 13; ++i) {
        EXPECT_EQ(lines[i].substr(0, 4), "    ") << "line " << i;
        EXPECT_EQ(lines[i].substr(lines[i].size() - 4), "    ") << "line " << i;
    }
}

TEST(TerminalQr, ColouredLinesCarryTheSameDrawing) {
    const std::string payload = "korvo://pair?session=A&code=123456&secret=B";
    const std::string plain = renderTerminalQr(payload, TerminalColors::none);
    std::string coloured = renderTerminalQr(payload, TerminalColors::ansi);
    for (const std::string code : {"\x1b[30;107m", "\x1b[0m"}) {
        for (std::size_t at; (at = coloured.find(code)) != std::string::npos;) {
            coloured.erase(at, code.size());
        }
    }
    EXPECT_EQ(coloured, plain);
    EXPECT_EQ(renderTerminalQr(std::string(3000, 'a'), TerminalColors::ansi), "QR unavailable\n");
    EXPECT_EQ(renderTerminalQr("", TerminalColors::none), "QR unavailable\n");
}

} // namespace
} // namespace korvo

#pragma once

// Draws a QR code in a terminal with Unicode half blocks: each character cell holds two modules
// stacked vertically, so modules come out roughly square in a usual terminal font.

#include "qr/QrMatrix.h"

#include <string>
#include <string_view>

namespace korvo {

// Modules of light margin around the code, as scanners expect.
inline constexpr int kTerminalQrQuietZone = 4;

enum class TerminalColors {
    // Plain characters; dark modules are drawn with block characters (right on a light background
    // or on paper).
    none,
    // Each line is wrapped in ANSI colours (black on bright white), so the code scans the same on
    // light and dark terminal themes.
    ansi,
};

// The code with its quiet zone, one line per two module rows, every line ending in "\n".
std::string renderTerminalQr(const QrMatrix& matrix, TerminalColors colors);

// The payload drawn as above, or "QR unavailable\n" when it cannot be encoded.
std::string renderTerminalQr(std::string_view payload, TerminalColors colors);

} // namespace korvo

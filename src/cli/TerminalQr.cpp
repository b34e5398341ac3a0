#include "cli/TerminalQr.h"

namespace korvo {

std::string renderTerminalQr(const QrMatrix& matrix, TerminalColors colors) {
    const int first = -kTerminalQrQuietZone;
    const int end = matrix.size() + kTerminalQrQuietZone;
    std::string out;
    for (int y = first; y < end; y += 2) {
        if (colors == TerminalColors::ansi) {
            out += "\x1b[30;107m";
        }
        for (int x = first; x < end; ++x) {
            const bool top = matrix.isDark(x, y);
            // The row below the last one lies in the quiet zone, which is light.
            const bool bottom = y + 1 < end && matrix.isDark(x, y + 1);
            if (top && bottom) {
                out += "█";
            } else if (top) {
                out += "▀";
            } else if (bottom) {
                out += "▄";
            } else {
                out += ' ';
            }
        }
        if (colors == TerminalColors::ansi) {
            out += "\x1b[0m";
        }
        out += '\n';
    }
    return out;
}

std::string renderTerminalQr(std::string_view payload, TerminalColors colors) {
    const auto matrix = QrMatrix::encode(payload);
    if (!matrix) {
        return "QR unavailable\n";
    }
    return renderTerminalQr(*matrix, colors);
}

} // namespace korvo

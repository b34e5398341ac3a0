#include "qr/QrMatrix.h"

#include <memory>
#include <qrencode.h>

namespace korvo {

std::optional<QrMatrix> QrMatrix::encode(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    // QRcode_encodeData takes the bytes as they are (8-bit mode), so no character set
    // conversion happens and the payload's UTF-8 bytes are what a scanner reads back.
    // Version 0 lets the encoder pick the smallest version that fits.
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(text.size()),
                          reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0) {
        return std::nullopt;
    }
    const int size = code->width;
    std::vector<bool> modules(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < modules.size(); ++i) {
        // Bit 0 of each byte is the module's colour; the other bits describe its role.
        modules[i] = (code->data[i] & 1U) != 0;
    }
    return QrMatrix(size, std::move(modules));
}

bool QrMatrix::isDark(int x, int y) const {
    if (x < 0 || y < 0 || x >= size_ || y >= size_) {
        return false;
    }
    return modules_[static_cast<std::size_t>(y) * static_cast<std::size_t>(size_) +
                    static_cast<std::size_t>(x)];
}

} // namespace korvo

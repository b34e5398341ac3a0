#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <zbar.h>

namespace korvo::test {

// Scans a drawing of width x height modules, dark where `isDark`, with zbar: each module becomes
// `scale` pixels square, inside a light margin of `margin` modules. Returns the raw bytes of the
// one code found (binary mode: no character set guessing), or nothing.
inline std::optional<std::string> scanQr(int width, int height,
                                         const std::function<bool(int, int)>& isDark, int scale = 4,
                                         int margin = 4) {
    const int w = (width + 2 * margin) * scale, h = (height + 2 * margin) * scale;
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(w * h), 255);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int mx = x / scale - margin, my = y / scale - margin;
            if (mx >= 0 && mx < width && my >= 0 && my < height && isDark(mx, my)) {
                grey[static_cast<std::size_t>(y * w + x)] = 0;
            }
        }
    }
    using namespace zbar;
    zbar_image_scanner_t* scanner = zbar_image_scanner_create();
    zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_BINARY, 1);
    zbar_image_t* image = zbar_image_create();
    zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(image, static_cast<unsigned>(w), static_cast<unsigned>(h));
    zbar_image_set_data(image, grey.data(), grey.size(), nullptr);
    std::optional<std::string> result;
    if (zbar_scan_image(scanner, image) > 0) {
        const zbar_symbol_t* symbol = zbar_image_first_symbol(image);
        result.emplace(zbar_symbol_get_data(symbol), zbar_symbol_get_data_length(symbol));
    }
    zbar_image_destroy(image);
    zbar_image_scanner_destroy(scanner);
    return result;
}

} // namespace korvo::test

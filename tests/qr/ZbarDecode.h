#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <zbar.h>

namespace korvo::testing {

// Decodes the one QR code in an 8-bit grey image with zbar and returns its raw bytes
// (binary mode: no character set guessing), or nothing when no code was found.
inline std::optional<std::string> decodeQr(const std::vector<std::uint8_t>& grey, int width,
                                           int height) {
    using namespace zbar;
    zbar_image_scanner_t* scanner = zbar_image_scanner_create();
    zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_BINARY, 1);
    zbar_image_t* image = zbar_image_create();
    zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(image, static_cast<unsigned>(width), static_cast<unsigned>(height));
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

} // namespace korvo::testing

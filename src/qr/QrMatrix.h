#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace korvo {

// A QR code as a square grid of modules, without the quiet zone around it.
// Plain C++ over libqrencode, so the terminal renderer and the window share one encoding.
class QrMatrix {
public:
    // Encodes the exact bytes of `text` (UTF-8 as given) in 8-bit mode at error correction
    // level M. Absent when the text is empty or too long for the largest QR version.
    static std::optional<QrMatrix> encode(std::string_view text);

    // Modules per side (21 for version 1, 4 more per version).
    int size() const { return size_; }
    int version() const { return (size_ - 17) / 4; }

    // True for a dark module. Coordinates outside the grid are light (the quiet zone).
    bool isDark(int x, int y) const;

    bool operator==(const QrMatrix&) const = default;

private:
    QrMatrix(int size, std::vector<bool> modules) : size_(size), modules_(std::move(modules)) {}

    int size_ = 0;
    std::vector<bool> modules_;
};

} // namespace korvo

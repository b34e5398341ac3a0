#include "model/Utf8.h"

#include <algorithm>

namespace korvo {

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) {
                low = 0xA0;
            } else if (c == 0xED) {
                high = 0x9F;
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) {
                low = 0x90;
            } else if (c == 0xF4) {
                high = 0x8F;
            }
        } else {
            return false;
        }
        if (i + length > n) {
            return false;
        }
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        if (second < low || second > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if (next < 0x80 || next > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::optional<std::string> utf8Text(std::string_view bytes) {
    if (!isValidUtf8(bytes)) {
        return std::nullopt;
    }
    return std::string(bytes);
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of `bytes`, or 0.
std::size_t sequenceLength(std::string_view bytes) {
    for (std::size_t length = 1; length <= 4 && length <= bytes.size(); ++length) {
        if (isValidUtf8(bytes.substr(0, length))) {
            return length;
        }
    }
    return 0;
}

char32_t codePoint(std::string_view sequence) {
    const auto first = static_cast<unsigned char>(sequence[0]);
    if (sequence.size() == 1) {
        return first;
    }
    char32_t value = first & (0x7F >> sequence.size());
    for (std::size_t i = 1; i < sequence.size(); ++i) {
        value = (value << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3F);
    }
    return value;
}

bool isDropped(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F || c == 0x061C;
}

} // namespace

std::string printableText(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes) + 3);
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t length = sequenceLength(text.substr(i));
        std::string_view piece;
        if (length == 0) {
            length = 1;
            piece = "\xEF\xBF\xBD"; // U+FFFD
        } else {
            piece = text.substr(i, length);
            const char32_t c = codePoint(piece);
            if (c == '\n' || c == '\r' || c == '\t') {
                piece = " ";
            } else if (isDropped(c)) {
                piece = {};
            }
        }
        if (out.size() + piece.size() > maxBytes) {
            out += "\xE2\x80\xA6"; // …
            break;
        }
        out += piece;
        i += length;
    }
    return out;
}

} // namespace korvo

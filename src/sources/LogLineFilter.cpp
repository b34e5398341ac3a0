#include "sources/LogLineFilter.h"

#include "sources/FieldExtraction.h"

#include <array>
#include <cstring>

namespace korvo {

namespace {

// Normalized keys longer than this go through normalizeKey instead of the stack buffer.
constexpr std::size_t kShortKey = 64;

bool keyMayBeUseful(std::string_view key) {
    if (key.find('\\') != std::string_view::npos) {
        return true; // an escape may spell any key
    }
    if (key.size() > kShortKey) {
        return keyCanMakeUseful(normalizeKey(key));
    }
    std::array<char, kShortKey> buffer;
    std::size_t size = 0;
    for (const char raw : key) {
        char c = raw;
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            static_cast<unsigned char>(c) >= 0x80) {
            buffer[size++] = c;
        }
    }
    return keyCanMakeUseful(std::string_view(buffer.data(), size));
}

// The quote closing the string whose text starts at `text`, or nullptr.
const char* closingQuote(const char* text, const char* end) {
    const char* cursor = text;
    while (cursor < end) {
        const auto* quote = static_cast<const char*>(
            std::memchr(cursor, '"', static_cast<std::size_t>(end - cursor)));
        if (quote == nullptr) {
            return nullptr;
        }
        // An odd run of backslashes before the quote escapes it.
        std::size_t backslashes = 0;
        for (const char* back = quote; back > text && back[-1] == '\\'; --back) {
            ++backslashes;
        }
        if (backslashes % 2 == 0) {
            return quote;
        }
        cursor = quote + 1;
    }
    return nullptr;
}

} // namespace

bool mayHoldUsefulKey(std::string_view line) {
    const char* cursor = line.data();
    const char* const end = cursor + line.size();
    while (cursor < end) {
        const auto* open = static_cast<const char*>(
            std::memchr(cursor, '"', static_cast<std::size_t>(end - cursor)));
        if (open == nullptr) {
            return false;
        }
        const char* close = closingQuote(open + 1, end);
        if (close == nullptr) {
            return false;
        }
        // A string is a key when a colon follows it.
        const char* after = close + 1;
        while (after < end &&
               (*after == ' ' || *after == '\t' || *after == '\r' || *after == '\n')) {
            ++after;
        }
        if (after < end && *after == ':' &&
            keyMayBeUseful(
                std::string_view(open + 1, static_cast<std::size_t>(close - open - 1)))) {
            return true;
        }
        cursor = after;
    }
    return false;
}

} // namespace korvo

#include "sources/io/LogLineFilter.h"

#include "sources/fields/FieldExtraction.h"

#include <array>
#include <cstring>

namespace korvo {

namespace {

// Normalized keys longer than this go through normalizeKey instead of the stack buffer.
constexpr std::size_t kShortKey = 64;

bool keyMayBeUseful(const char* begin, const char* end) {
    const auto size = static_cast<std::size_t>(end - begin);
    // No useful normalized key is shorter than three characters, and normalizing never adds any.
    if (size < 3) {
        return std::memchr(begin, '\\', size) != nullptr;
    }
    if (size > kShortKey) {
        return std::memchr(begin, '\\', size) != nullptr ||
               keyCanMakeUseful(normalizeKey(std::string_view(begin, size)));
    }
    std::array<char, kShortKey> buffer;
    std::size_t length = 0;
    for (const char* cursor = begin; cursor < end; ++cursor) {
        char c = *cursor;
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (c == '\\') {
            return true; // an escape may spell any key
        }
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            static_cast<unsigned char>(c) >= 0x80) {
            buffer[length++] = c;
        }
    }
    return keyCanMakeUseful(std::string_view(buffer.data(), length));
}

// True when the quote at `quote` is escaped: an odd run of backslashes precedes it.
bool isEscaped(const char* quote, const char* begin) {
    std::size_t backslashes = 0;
    for (const char* back = quote; back > begin && back[-1] == '\\'; --back) {
        ++backslashes;
    }
    return backslashes % 2 == 1;
}

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

// Every object key ends with an unescaped quote followed, after optional white space, by a colon.
// The scan looks at each colon, from the end (where the usage fields of log lines tend to be), and
// where an unescaped quote precedes it, at the string that quote closes: within a key there is no
// unescaped quote, so the nearest quote before is the key's opening one. A colon inside a string
// value may make the scan look at text that is no key; that can only let a line through.
bool mayHoldUsefulKey(std::string_view line) {
    const char* const begin = line.data();
    const char* end = begin + line.size();
    while (end > begin) {
        const auto* colon =
            static_cast<const char*>(::memrchr(begin, ':', static_cast<std::size_t>(end - begin)));
        if (colon == nullptr) {
            return false;
        }
        end = colon;
        const char* afterKey = colon;
        while (afterKey > begin && isJsonSpace(afterKey[-1])) {
            --afterKey;
        }
        if (afterKey == begin || afterKey[-1] != '"') {
            continue;
        }
        const char* close = afterKey - 1;
        if (isEscaped(close, begin)) {
            continue;
        }
        const char* open = close;
        while (open > begin && open[-1] != '"') {
            --open;
        }
        if (open == begin) {
            continue;
        }
        --open;
        // An escaped quote inside the key: the key holds escapes, which may spell anything.
        if (isEscaped(open, begin) || keyMayBeUseful(open + 1, close)) {
            return true;
        }
    }
    return false;
}

} // namespace korvo

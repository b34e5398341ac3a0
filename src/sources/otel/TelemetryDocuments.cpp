#include "sources/otel/TelemetryDocuments.h"

#include "sources/io/FileReaders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace korvo {
namespace {

// `padded` tells that readable bytes follow the text, so the parser needs no copy of it.
std::optional<simdjson::dom::element> parseDocument(simdjson::dom::parser& parser,
                                                    std::string_view text, bool padded) {
    simdjson::dom::element document;
    if (parser.parse(text.data(), text.size(), !padded).get(document) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    if (!document.is_object() && !document.is_array()) {
        return std::nullopt;
    }
    return document;
}

// Only an object or an array is a document, so other lines need no parse.
bool mayBeDocument(std::string_view line) {
    for (char c : line) {
        if (c != ' ' && c != '\t' && c != '\r') {
            return c == '{' || c == '[';
        }
    }
    return false;
}

bool startsDocument(std::string_view line) {
    return !line.empty() && (line.front() == '{' || line.front() == '[');
}

// Every line of a regular file's tail: the byte bound of the tail reader is the limit here.
TailLines telemetryTail(const std::filesystem::path& file, std::size_t maxDocuments) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error) || maxDocuments == 0) {
        return {};
    }
    return readTailLines(file, std::numeric_limits<std::size_t>::max());
}

// Calls `visit(document, line)` for the documents of `lines` from line `from` on, `line` being
// where the document begins; the walk stops when `visit` answers false. A document is a line of
// its own, or a line starting one at its first byte joined with the lines up to the next such
// line. So the lines between two such lines make a group that no document crosses, and a group
// for which `skip` answers true holds no document worth reading: it is passed over unparsed.
template <typename Skip, typename Visit>
void forEachDocument(const std::vector<std::string_view>& lines, std::size_t from,
                     simdjson::dom::parser& parser, Skip skip, Visit visit) {
    std::string joined;
    std::size_t i = from;
    while (i < lines.size()) {
        std::size_t groupEnd = i + 1;
        while (groupEnd < lines.size() && !startsDocument(lines[groupEnd])) {
            ++groupEnd;
        }
        if (skip(std::span(lines).subspan(i, groupEnd - i))) {
            i = groupEnd;
            continue;
        }
        while (i < groupEnd) {
            if (!mayBeDocument(lines[i])) {
                ++i;
                continue;
            }
            if (auto document = parseDocument(parser, lines[i], true)) {
                if (!visit(*document, i)) {
                    return;
                }
                ++i;
                continue;
            }
            if (startsDocument(lines[i]) && groupEnd > i + 1) {
                joined.assign(lines[i]);
                for (std::size_t k = i + 1; k < groupEnd; ++k) {
                    joined += '\n';
                    joined += lines[k];
                }
                if (auto document = parseDocument(parser, joined, false)) {
                    if (!visit(*document, i)) {
                        return;
                    }
                    i = groupEnd;
                    continue;
                }
            }
            ++i;
        }
    }
}

// The parser grows to the longest line once instead of step by step.
void reserveForLines(simdjson::dom::parser& parser, const std::vector<std::string_view>& lines) {
    std::size_t longest = 0;
    for (std::string_view line : lines) {
        longest = std::max(longest, line.size());
    }
    if (longest > parser.capacity()) {
        // On failure the parse of a line reports it.
        const auto error = parser.allocate(longest);
        static_cast<void>(error);
    }
}

// The line where the first of the last `maxDocuments` documents begins.
std::size_t firstLineOfLastDocuments(const std::vector<std::string_view>& lines,
                                     std::size_t maxDocuments, simdjson::dom::parser& parser) {
    std::vector<std::size_t> starts;
    starts.reserve(lines.size());
    forEachDocument(
        lines, 0, parser, [](auto) { return false; },
        [&](simdjson::dom::element, std::size_t line) {
            starts.push_back(line);
            return true;
        });
    return starts.size() > maxDocuments ? starts[starts.size() - maxDocuments] : 0;
}

// Reads the documents that count, walking only those that may name an accepted metric, until
// `more` answers false.
template <typename More>
void readDocuments(const TailLines& tail, std::span<const std::string_view> acceptedNames,
                   std::size_t maxDocuments, simdjson::dom::parser& parser, OTelTokenTotal& total,
                   More more) {
    const std::vector<std::string_view>& lines = tail.lines();
    reserveForLines(parser, lines);
    // Each document takes a line at least: beyond the limit the documents must be counted first.
    const std::size_t from =
        lines.size() > maxDocuments ? firstLineOfLastDocuments(lines, maxDocuments, parser) : 0;
    const auto cannotName = [&](std::span<const std::string_view> group) {
        return std::none_of(group.begin(), group.end(), [&](std::string_view line) {
            return mayNameAcceptedMetric(line, acceptedNames);
        });
    };
    forEachDocument(lines, from, parser, cannotName,
                    [&](simdjson::dom::element document, std::size_t) {
                        walkMetrics(document, acceptedNames, total);
                        return more();
                    });
}

// Whether the bytes of `tail` hold one of `keys` as a whole JSON string: `"key"`. One pass over
// the quotes: a quote that opens a string is followed by the key and another quote. A quote
// inside a string is escaped and never followed by a whole key and a closing quote, since that
// quote would end the string.
bool holdsKey(const TailLines& tail, std::span<const std::string_view> keys) {
    if (tail.empty() || keys.empty()) {
        return false;
    }
    const char* cursor = tail.lines().front().data();
    const std::string_view last = tail.lines().back();
    const char* const end = last.data() + last.size();
    std::array<bool, 256> firstByte{};
    for (const std::string_view key : keys) {
        if (!key.empty()) {
            firstByte[static_cast<unsigned char>(key.front())] = true;
        }
    }
    while (cursor < end) {
        const auto* quote = static_cast<const char*>(
            std::memchr(cursor, '"', static_cast<std::size_t>(end - cursor)));
        if (quote == nullptr || quote + 1 >= end) {
            return false;
        }
        cursor = quote + 1;
        if (!firstByte[static_cast<unsigned char>(*cursor)]) {
            continue;
        }
        const auto left = static_cast<std::size_t>(end - cursor);
        for (const std::string_view key : keys) {
            if (key.size() < left && cursor[key.size()] == '"' &&
                std::memcmp(cursor, key.data(), key.size()) == 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

bool readTelemetryTokens(const std::filesystem::path& file,
                         std::span<const std::string_view> acceptedNames, std::size_t maxDocuments,
                         simdjson::dom::parser& parser, OTelTokenTotal& total,
                         std::span<const std::string_view> textKeys) {
    const TailLines tail = telemetryTail(file, maxDocuments);
    if (holdsKey(tail, textKeys)) {
        return false;
    }
    readDocuments(tail, acceptedNames, maxDocuments, parser, total, [] { return true; });
    return true;
}

bool hasTelemetryTokenCounts(const std::filesystem::path& file,
                             std::span<const std::string_view> acceptedNames,
                             std::size_t maxDocuments, simdjson::dom::parser& parser,
                             std::span<const std::string_view> textKeys, bool* heldText) {
    const TailLines tail = telemetryTail(file, maxDocuments);
    const bool held = holdsKey(tail, textKeys);
    if (heldText != nullptr) {
        *heldText = held;
    }
    if (held) {
        return false;
    }
    OTelTokenTotal total("");
    if (tail.size() > maxDocuments) {
        // Of a replaced point only the newest counts: the sum tells.
        readDocuments(tail, acceptedNames, maxDocuments, parser, total, [] { return true; });
        const auto sum = total.total();
        return sum && sum->hasTokenData();
    }
    // A series keeps its attributes, so its newest point fills the same field as any older one.
    readDocuments(tail, acceptedNames, maxDocuments, parser, total,
                  [&] { return !total.hasTokenCount(); });
    return total.hasTokenCount();
}

} // namespace korvo

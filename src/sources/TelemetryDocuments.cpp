#include "sources/TelemetryDocuments.h"

#include "sources/FileReaders.h"

#include <algorithm>
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
    const auto first = line.find_first_not_of(" \t\r");
    return first != std::string_view::npos && (line[first] == '{' || line[first] == '[');
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

bool hasTokenCount(const OTelTokenPoint& point) {
    return point.candidate.inputTokens || point.candidate.outputTokens ||
           point.candidate.cachedInputTokens;
}

} // namespace

void forEachTailDocument(const TailLines& tail, simdjson::dom::parser& parser,
                         const std::function<bool(simdjson::dom::element)>& visit) {
    const std::vector<std::string_view>& lines = tail.lines();
    std::size_t i = 0;
    while (i < lines.size()) {
        if (!mayBeDocument(lines[i])) {
            ++i;
            continue;
        }
        if (auto document = parseDocument(parser, lines[i], true)) {
            if (!visit(*document)) {
                return;
            }
            ++i;
            continue;
        }
        if (startsDocument(lines[i])) {
            std::size_t end = i + 1;
            while (end < lines.size() && !startsDocument(lines[end])) {
                ++end;
            }
            if (end > i + 1) {
                std::string text(lines[i]);
                for (std::size_t k = i + 1; k < end; ++k) {
                    text += '\n';
                    text += lines[k];
                }
                if (auto document = parseDocument(parser, text, false)) {
                    if (!visit(*document)) {
                        return;
                    }
                    i = end;
                    continue;
                }
            }
        }
        ++i;
    }
}

void readTelemetryTokens(const std::filesystem::path& file,
                         std::span<const std::string_view> acceptedNames,
                         std::string_view windowLabel, std::size_t maxDocuments,
                         OTelTokenTotal& total) {
    const TailLines tail = telemetryTail(file, maxDocuments);
    if (tail.empty()) {
        return;
    }
    simdjson::dom::parser parser;
    std::vector<OTelTokenPoint> points;
    std::vector<std::size_t> documentStarts; // where each document's points begin
    forEachTailDocument(tail, parser, [&](simdjson::dom::element document) {
        documentStarts.push_back(points.size());
        walkMetrics(document, acceptedNames, windowLabel, points);
        return true;
    });
    const std::size_t first = documentStarts.size() > maxDocuments
                                  ? documentStarts[documentStarts.size() - maxDocuments]
                                  : 0;
    for (std::size_t i = first; i < points.size(); ++i) {
        total.add(std::move(points[i]));
    }
}

bool hasTelemetryTokenCounts(const std::filesystem::path& file,
                             std::span<const std::string_view> acceptedNames,
                             std::size_t maxDocuments) {
    const TailLines tail = telemetryTail(file, maxDocuments);
    if (tail.empty()) {
        return false;
    }
    if (tail.size() > maxDocuments) {
        // Older documents may fall outside the window: only the full count can tell.
        OTelTokenTotal total;
        readTelemetryTokens(file, acceptedNames, "", maxDocuments, total);
        const auto sum = total.total();
        return sum && sum->hasTokenData();
    }
    // A series keeps its attributes, so its newest point fills the same field as any older one.
    simdjson::dom::parser parser;
    std::vector<OTelTokenPoint> points;
    bool found = false;
    forEachTailDocument(tail, parser, [&](simdjson::dom::element document) {
        points.clear();
        walkMetrics(document, acceptedNames, "", points);
        found = std::any_of(points.begin(), points.end(), hasTokenCount);
        return !found;
    });
    return found;
}

} // namespace korvo

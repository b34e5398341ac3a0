#include "sources/LogScan.h"

#include "sources/FileReaders.h"
#include "sources/LogLineFilter.h"

namespace korvo {

bool parseLogLine(simdjson::dom::parser& parser, std::string_view paddedLine,
                  simdjson::dom::element& document, LogLineOutcome& outcome) {
    const auto error = parser.parse(paddedLine.data(), paddedLine.size(), false).get(document);
    if (error) {
        outcome.invalidText = error == simdjson::UTF8_ERROR;
        return false;
    }
    return true;
}

std::optional<SanitizedUsageCandidate>
newestLogCandidate(const std::vector<std::filesystem::path>& files, std::size_t maxLines,
                   simdjson::dom::parser& parser, LogLineReader readLine) {
    std::optional<SanitizedUsageCandidate> kept;
    for (const auto& file : files) {
        // The parser validates every line, so the reader need not check the window first.
        const TailLines lines = readTailLines(file, maxLines, Utf8Check::leaveToParser);
        const std::optional<SanitizedUsageCandidate> beforeFile = kept;
        for (const std::string_view line : lines) {
            // Most lines of a conversation log hold text and no usage key: they need no parse,
            // only the check of their text that the parse would have made.
            if (!mayHoldUsefulKey(line)) {
                if (!simdjson::validate_utf8(line.data(), line.size())) {
                    kept = beforeFile;
                    break;
                }
                continue;
            }
            LogLineOutcome outcome = readLine(parser, line);
            if (outcome.invalidText) {
                kept = beforeFile;
                break;
            }
            if (outcome.candidate) {
                kept = preferNewer(kept, *outcome.candidate);
            }
        }
    }
    return kept;
}

} // namespace korvo

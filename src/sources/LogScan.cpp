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
        // The parser validates every line it reads, so the reader need not check the window.
        const TailLines lines = readTailLines(file, maxLines, Utf8Check::leaveToParser);
        if (lines.empty()) {
            continue;
        }
        const std::optional<SanitizedUsageCandidate> beforeFile = kept;
        bool invalidText = false;
        for (const std::string_view line : lines) {
            // Most lines of a conversation log hold text and no usage key: they need no parse.
            if (!mayHoldUsefulKey(line)) {
                continue;
            }
            LogLineOutcome outcome = readLine(parser, line);
            if (outcome.invalidText) {
                invalidText = true;
                break;
            }
            if (outcome.candidate) {
                kept = preferNewer(kept, *outcome.candidate);
            }
        }
        // The lines passed over unparsed must still be text, but only when the file changed what
        // is kept: the lines follow one another, separated by line breaks, so one check covers
        // them all.
        if (!invalidText && kept != beforeFile) {
            const char* first = lines.lines().front().data();
            const std::string_view last = lines.lines().back();
            invalidText = !simdjson::validate_utf8(
                first, static_cast<std::size_t>(last.data() + last.size() - first));
        }
        if (invalidText) {
            kept = beforeFile;
        }
    }
    return kept;
}

} // namespace korvo

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

namespace {

// The newest quota sample and the newest token sample seen so far.
struct Kept {
    std::optional<SanitizedUsageCandidate> limits;
    std::optional<SanitizedUsageCandidate> tokens;

    bool operator==(const Kept&) const = default;

    void add(const SanitizedUsageCandidate& line) {
        SanitizedUsageCandidate quota;
        quota.usedPercent = line.usedPercent;
        quota.remainingPercent = line.remainingPercent;
        quota.remainingText = line.remainingText;
        quota.resetAt = line.resetAt;
        quota.windowLabel = line.windowLabel;
        quota.status = line.status;
        quota.observedAt = line.observedAt;
        if (quota.hasUsefulData()) {
            limits = preferNewer(limits, quota);
        }
        SanitizedUsageCandidate counts;
        counts.inputTokens = line.inputTokens;
        counts.outputTokens = line.outputTokens;
        counts.cachedInputTokens = line.cachedInputTokens;
        counts.costUsd = line.costUsd;
        counts.observedAt = line.observedAt;
        if (counts.hasTokenData()) {
            tokens = preferNewer(tokens, counts);
        }
    }

    std::optional<SanitizedUsageCandidate> merged() const {
        if (!limits || !tokens) {
            return limits ? limits : tokens;
        }
        SanitizedUsageCandidate both = *limits;
        both.inputTokens = tokens->inputTokens;
        both.outputTokens = tokens->outputTokens;
        both.cachedInputTokens = tokens->cachedInputTokens;
        both.costUsd = tokens->costUsd;
        if (tokens->observedAt && (!both.observedAt || *tokens->observedAt > *both.observedAt)) {
            both.observedAt = tokens->observedAt;
        }
        return both;
    }
};

} // namespace

std::optional<SanitizedUsageCandidate>
newestLogCandidate(const std::vector<std::filesystem::path>& files, std::size_t maxLines,
                   simdjson::dom::parser& parser, LogLineReader readLine, Instant now) {
    Kept kept;
    for (const auto& file : files) {
        // The parser validates every line it reads, so the reader need not check the window.
        const TailLines lines = readTailLines(file, maxLines, Utf8Check::leaveToParser);
        if (lines.empty()) {
            continue;
        }
        const Kept beforeFile = kept;
        bool invalidText = false;
        for (const std::string_view line : lines) {
            // Most lines of a conversation log hold text and no usage key: they need no parse.
            if (!mayHoldUsefulKey(line)) {
                continue;
            }
            LogLineOutcome outcome = readLine(parser, line, now);
            if (outcome.invalidText) {
                invalidText = true;
                break;
            }
            if (outcome.candidate) {
                kept.add(*outcome.candidate);
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
    return kept.merged();
}

} // namespace korvo

#include "sources/io/LogScan.h"

#include "sources/io/FileReaders.h"
#include "sources/io/LogLineFilter.h"

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

using Candidate = SanitizedUsageCandidate;

// A set of a candidate's fields, copied together.
template <auto... Fields> struct FieldSet {
    static void copy(Candidate& to, const Candidate& from) { ((to.*Fields = from.*Fields), ...); }
    // Only these fields of `from`, with its observation time.
    static Candidate only(const Candidate& from) {
        Candidate part;
        copy(part, from);
        part.observedAt = from.observedAt;
        return part;
    }
};
using QuotaFields =
    FieldSet<&Candidate::usedPercent, &Candidate::remainingPercent, &Candidate::remainingText,
             &Candidate::resetAt, &Candidate::windowLabel, &Candidate::status>;
using TokenFields = FieldSet<&Candidate::inputTokens, &Candidate::outputTokens,
                             &Candidate::cachedInputTokens, &Candidate::costUsd>;

// Adds the samples of a file's lines to `kept`; false, with `kept` part-way, at the first parsed
// line that is not text.
bool addSamples(const TailLines& lines, simdjson::dom::parser& parser, LogLineReader readLine,
                Instant now, LogSamples& kept) {
    for (const std::string_view line : lines) {
        // Most lines of a conversation log hold text and no usage key: they need no parse.
        if (!mayHoldUsefulKey(line)) {
            continue;
        }
        LogLineOutcome outcome = readLine(parser, line, now);
        if (outcome.invalidText) {
            return false;
        }
        if (outcome.candidate) {
            kept.add(*outcome.candidate);
        }
    }
    return true;
}

// Whether every line of a window is text, the lines passed over unparsed included: the lines
// follow one another, separated by line breaks, so one check covers them all.
bool allText(const TailLines& lines) {
    const char* first = lines.lines().front().data();
    const std::string_view last = lines.lines().back();
    return simdjson::validate_utf8(first,
                                   static_cast<std::size_t>(last.data() + last.size() - first));
}

} // namespace

void LogSamples::add(const Candidate& line) {
    if (Candidate quota = QuotaFields::only(line); quota.hasUsefulData()) {
        limits = preferNewer(limits, quota);
    }
    if (Candidate counts = TokenFields::only(line); counts.hasTokenData()) {
        tokens = preferNewer(tokens, counts);
    }
}

void LogSamples::add(const LogSamples& later) {
    if (later.limits) {
        limits = preferNewer(limits, *later.limits);
    }
    if (later.tokens) {
        tokens = preferNewer(tokens, *later.tokens);
    }
}

std::optional<Candidate> LogSamples::merged() const {
    if (!limits || !tokens) {
        return limits ? limits : tokens;
    }
    Candidate both = *limits;
    TokenFields::copy(both, *tokens);
    if (tokens->observedAt && (!both.observedAt || *tokens->observedAt > *both.observedAt)) {
        both.observedAt = tokens->observedAt;
    }
    return both;
}

std::vector<LogSamples> newestLogSamples(const std::vector<std::filesystem::path>& files,
                                         std::size_t maxLines, simdjson::dom::parser& parser,
                                         LogLineReader readLine, Instant now) {
    std::vector<LogSamples> samples(files.size());
    // The newest samples of all files so far: a file that changes them is likely to be used, and
    // is checked while its lines are at hand.
    LogSamples newest;
    for (std::size_t index = 0; index < files.size(); ++index) {
        // The parser validates every line it reads, so the reader need not check the window.
        const TailLines lines = readTailLines(files[index], maxLines, Utf8Check::leaveToParser);
        if (lines.empty()) {
            continue;
        }
        LogSamples kept;
        if (!addSamples(lines, parser, readLine, now, kept) || (!kept.limits && !kept.tokens)) {
            continue;
        }
        LogSamples next = newest;
        next.add(kept);
        if (next != newest) {
            if (!allText(lines)) {
                continue;
            }
            newest = std::move(next);
        } else {
            kept.unchecked = true;
        }
        samples[index] = std::move(kept);
    }
    return samples;
}

bool logTailIsText(const std::filesystem::path& file, std::size_t maxLines) {
    const TailLines lines = readTailLines(file, maxLines, Utf8Check::leaveToParser);
    return !lines.empty() && allText(lines);
}

std::optional<SanitizedUsageCandidate>
newestLogCandidate(const std::vector<std::filesystem::path>& files, std::size_t maxLines,
                   simdjson::dom::parser& parser, LogLineReader readLine, Instant now) {
    LogSamples kept;
    for (const auto& file : files) {
        // The parser validates every line it reads, so the reader need not check the window.
        const TailLines lines = readTailLines(file, maxLines, Utf8Check::leaveToParser);
        if (lines.empty()) {
            continue;
        }
        const LogSamples beforeFile = kept;
        // The lines passed over unparsed must still be text, but only when the file changed what
        // is kept.
        if (!addSamples(lines, parser, readLine, now, kept) ||
            (kept != beforeFile && !allText(lines))) {
            kept = beforeFile;
        }
    }
    return kept.merged();
}

} // namespace korvo

#include "sources/adapters/CodexAdapter.h"

#include "model/TimeText.h"
#include "sources/adapters/DiagnosticLines.h"
#include "sources/fields/FieldExtraction.h"
#include "sources/fields/ProviderUsageBuilder.h"
#include "sources/io/FileReaders.h"
#include "sources/io/LogScan.h"

#include <array>
#include <cmath>

namespace korvo {

namespace {

constexpr std::string_view kCommand = "codex";
constexpr std::size_t kSessionFiles = 20;
constexpr std::size_t kSessionLines = 200;
constexpr std::size_t kCountLimit = 500;

constexpr std::array<std::string_view, 2> kUsedKeys = {"used_percent", "usedPercent"};

// The used share of a window. The tool's own windows (recognisable by their length in minutes)
// always write a percentage from 0 to 100; elsewhere 0 to 1 is read as a fraction.
struct WindowUse {
    double percent;      // 0 to 100
    bool writtenAsShare; // the raw value was taken as 0 to 1
};

std::optional<WindowUse> windowUse(const simdjson::dom::object& window) {
    const auto used = numberMember(window, kUsedKeys);
    if (!used) {
        return std::nullopt;
    }
    if (firstMember(window, {"window_minutes", "windowMinutes"})) {
        return WindowUse{std::clamp(*used, 0.0, 100.0), false};
    }
    return WindowUse{normalizedPercent(*used), *used <= 1};
}

// A window's reset time: an absolute time, else a delay counted from the line's own time.
std::optional<Instant> windowReset(const simdjson::dom::object& window,
                                   const std::optional<Instant>& lineTime) {
    if (auto reset = dateMember(window, kWindowResetKeys)) {
        return reset;
    }
    const auto delay = numberMember(window, {"resets_in_seconds", "resetsInSeconds"});
    if (!delay || !lineTime || std::abs(*delay) > 1e9) {
        return std::nullopt;
    }
    // A line time near the end of the instant's range plus the delay may lie beyond it.
    return shiftedInstant(*lineTime, std::chrono::nanoseconds(std::llround(*delay * 1e9)));
}

// Appends `reset` as formatInternetDateTime writes it ("2026-01-12T10:00:00Z") without the printf
// it costs there: every line that carries a weekly window comes here.
void appendResetTime(std::string& text, Instant reset) {
    using namespace std::chrono;
    const auto whole = floor<seconds>(reset);
    const auto dayStart = floor<days>(whole);
    const year_month_day date{dayStart};
    const int year = static_cast<int>(date.year());
    if (year < 0 || year > 9999) {
        text += formatInternetDateTime(reset);
        return;
    }
    const hh_mm_ss<seconds> time{whole - dayStart};
    char out[] = "0000-00-00T00:00:00Z";
    const auto put = [&out](std::size_t at, long long value) { // two digits, or four at 0
        for (std::size_t end = at == 0 ? 4 : at + 2; end > at; value /= 10) {
            out[--end] = static_cast<char>('0' + value % 10);
        }
    };
    put(0, year);
    put(5, static_cast<unsigned>(date.month()));
    put(8, static_cast<unsigned>(date.day()));
    put(11, time.hours().count());
    put(14, time.minutes().count());
    put(17, time.seconds().count());
    text.append(out, sizeof out - 1);
}

// Whether `limits` is the account's own quota: the bucket "codex", or one without an id (builds
// that wrote no id knew only that one).
bool isAccountBucket(const simdjson::dom::object& limits) {
    simdjson::dom::element id;
    if (limits.at_key("limit_id").get(id) != simdjson::SUCCESS &&
        limits.at_key("limitId").get(id) != simdjson::SUCCESS) {
        return true;
    }
    std::string_view text;
    return id.is_null() || (id.get_string().get(text) == simdjson::SUCCESS && text == "codex");
}

std::optional<std::string> windowLabel(const simdjson::dom::object& window) {
    for (const std::string_view key : {"window", "label"}) {
        simdjson::dom::element value;
        if (!window.at_key(key).get(value)) {
            if (auto text = parseText(value)) {
                return text;
            }
        }
    }
    if (const auto minutes = numberMember(window, {"window_minutes", "windowMinutes"})) {
        if (auto label = CodexAdapter::windowLabelFromMinutes(*minutes)) {
            return label;
        }
    }
    return "5h";
}

} // namespace

CodexAdapter::CodexAdapter(std::filesystem::path home,
                           std::vector<std::filesystem::path> searchPaths, Clock clock,
                           const Environment& environment)
    : LocalToolAdapter("codex", "Codex CLI", std::move(home), std::move(searchPaths),
                       std::move(clock)),
      sessionsSurvey_(std::make_shared<SurveyCache>(clock_)) {
    std::filesystem::path codexHome = home_ / ".codex";
    if (environment) {
        if (const auto configured = environment("CODEX_HOME"); configured && !configured->empty()) {
            codexHome = *configured;
        }
    }
    sessions_ = codexHome / "sessions";
    state_ = codexHome / "state_5.sqlite";
}

std::optional<std::string> CodexAdapter::windowLabelFromMinutes(double minutes) {
    if (!std::isfinite(minutes) || minutes < 0.5 || minutes > 1e9) {
        return std::nullopt;
    }
    const long long whole = std::llround(minutes);
    if (whole % 1440 == 0) {
        return std::to_string(whole / 1440) + "d";
    }
    if (whole % 60 == 0) {
        return std::to_string(whole / 60) + "h";
    }
    return std::to_string(whole) + "m";
}

std::optional<SanitizedUsageCandidate>
CodexAdapter::sessionLineCandidate(simdjson::dom::parser& parser, std::string_view paddedLine,
                                   Instant now) {
    return readSessionLine(parser, paddedLine, now).candidate;
}

LogLineOutcome CodexAdapter::readSessionLine(simdjson::dom::parser& parser,
                                             std::string_view paddedLine, Instant now) {
    LogLineOutcome outcome;
    simdjson::dom::element document;
    simdjson::dom::object line;
    if (!parseLogLine(parser, paddedLine, document, outcome) || document.get(line)) {
        return outcome;
    }
    const auto payload = objectMember(line, "payload");
    const simdjson::dom::object root = payload.value_or(line);

    SanitizedUsageCandidate candidate;
    // The tool writes its time on the line and everything else in the payload.
    candidate.observedAt = dateMember(root, {"timestamp"});
    if (!candidate.observedAt && payload) {
        candidate.observedAt = dateMember(line, {"timestamp"});
    }

    auto tokens = firstObjectMember(root, {"token_count", "tokenCount"});
    if (!tokens) {
        if (const auto info = objectMember(root, "info")) {
            tokens = objectMember(*info, "total_token_usage");
        }
    }
    if (tokens) {
        candidate.inputTokens = numberMember(*tokens, {"input_tokens", "inputTokens"});
        candidate.outputTokens = numberMember(*tokens, {"output_tokens", "outputTokens"});
        candidate.cachedInputTokens =
            numberMember(*tokens, {"cached_input_tokens", "cachedInputTokens"});
    }

    const auto limits = firstObjectMember(root, {"rate_limits", "rateLimits"});
    // Another bucket's windows are not the account's quota, and the generic walk must not find
    // them either.
    const bool otherBucket = limits && !isAccountBucket(*limits);
    if (limits && !otherBucket) {
        if (const auto primary = objectMember(*limits, "primary")) {
            const auto reset = windowReset(*primary, candidate.observedAt);
            if (reset && *reset < now) {
                // The window ended since the sample: nothing of the new one is known to be used.
                candidate.usedPercent = 0;
                candidate.remainingPercent = 100;
            } else {
                if (const auto use = windowUse(*primary)) {
                    if (use->writtenAsShare || use->percent > 1) {
                        candidate.usedPercent = numberMember(*primary, kUsedKeys);
                    } else {
                        // A percentage of at most 1 would be read as a share of 1 further on;
                        // the remaining side carries the same information unambiguously.
                        candidate.remainingPercent = 100 - use->percent;
                    }
                }
                if (!candidate.remainingPercent) {
                    candidate.remainingPercent =
                        numberMember(*primary, {"remaining_percent", "remainingPercent"});
                }
                candidate.resetAt = reset;
            }
            candidate.windowLabel = windowLabel(*primary);
        }
        if (const auto secondary = objectMember(*limits, "secondary")) {
            if (const auto use = windowUse(*secondary)) {
                const auto reset = windowReset(*secondary, candidate.observedAt);
                const bool ended = reset && *reset < now;
                std::string text =
                    percentRemainingTextForPercent("Weekly", ended ? 0.0 : use->percent);
                if (reset && !ended) {
                    text += " · resets ";
                    appendResetTime(text, *reset);
                }
                candidate.remainingText = std::move(text);
            }
        }
    }

    candidate.costUsd = numberMember(root, {"costUSD", "costUsd", "cost_usd"});
    if (candidate.hasUsefulData()) {
        outcome.candidate = std::move(candidate);
    } else if (!otherBucket) {
        outcome.candidate = candidateFromDocument(document);
    }
    return outcome;
}

std::optional<SanitizedUsageCandidate>
CodexAdapter::sessionCandidate(const std::vector<std::filesystem::path>& files, Instant now) const {
    simdjson::dom::parser parser;
    return newestLogCandidate(files, kSessionLines, parser, &CodexAdapter::readSessionLine, now);
}

UsageReading CodexAdapter::read() const {
    UsageReading reading = readingOf(sessionCandidate(
        sessionsSurvey_->survey(sessions_, jsonlExtension(), 1, kSessionFiles).recent, clock_()));
    if (!reading.row &&
        (sessionsSurvey_->survey(sessions_, jsonlExtension(), kCountLimit, 0).count > 0 ||
         existsAsNonDirectory(state_))) {
        reading.row = placeholderRow("Local Codex state detected; usage format not recognized yet");
    }
    return reading;
}

AdapterDiagnostic CodexAdapter::inspect() const {
    AdapterDiagnostic diagnostic = diagnosticWith({
        "~/.codex/auth.json is intentionally ignored",
        "Read-only probe; raw Codex logs are not uploaded",
        "Only sanitized usage fields are collected",
    });
    const std::optional<std::filesystem::path> executable = findExecutable(kCommand, searchPaths_);
    const FileSurvey sessions =
        sessionsSurvey_->survey(sessions_, jsonlExtension(), kCountLimit, kSessionFiles);
    const std::size_t sessionCount = sessions.count;
    const bool stateExists = existsAsNonDirectory(state_);
    const std::optional<SanitizedUsageCandidate> session =
        sessionCandidate(sessions.recent, clock_());

    diagnostic.cliInstalled = executable.has_value();
    diagnostic.usageSourceFound = sessionCount > 0 || stateExists;
    diagnostic.tokenDataFound = session && session->hasTokenData();
    diagnostic.limitDataFound = session && session->hasLimitData();
    settleDiagnostic(
        diagnostic,
        {
            {diagnostic.limitDataFound, tracking::withQuota,
             diagnostic.tokenDataFound ? "Limit and token data ready" : "Limit data ready"},
            {diagnostic.tokenDataFound, tracking::withoutQuota,
             "Token data only; limit data missing",
             "Codex local session data exposed token counts, but no rate_limits fields were "
             "found."},
            {sessionCount > 0, tracking::parserNeedsSample,
             "Session logs found; usage format not recognized",
             "Codex session JSONL exists, but no recognized token_count or rate_limits fields "
             "were found."},
            {stateExists, tracking::noUsageData, "State database found; parser not enabled",
             "Korvo does not query Codex sqlite state for limits yet, and never reads auth.json."},
            {diagnostic.cliInstalled, tracking::cliOnly, "CLI installed; no usage source found",
             "Codex CLI is installed, but Korvo did not find session JSONL or state data."},
        },
        "No local Codex source found");

    diagnostic.checkedPaths = {
        commandCheckLine(kCommand, executable),
        displayPath(sessions_, home_) + (sessionCount > 0 ? " - found, " : " - missing, ") +
            std::to_string(sessionCount) + " jsonl files",
        displayPath(state_, home_) + (stateExists ? " - found" : " - missing"),
    };
    return diagnostic;
}

} // namespace korvo

#include "sources/adapters/ClaudeCodeAdapter.h"

#include "model/TimeText.h"
#include "sources/adapters/DiagnosticLines.h"
#include "sources/fields/FieldExtraction.h"
#include "sources/fields/ProviderUsageBuilder.h"
#include "sources/fields/TokenSum.h"
#include "sources/io/FileReaders.h"

#include <array>
#include <set>

namespace korvo {

namespace {

constexpr std::string_view kCommand = "claude";
constexpr std::size_t kLogFiles = 20;
constexpr std::size_t kCountLimit = 500;
// Subagent transcripts read per conversation at most, the newest first.
constexpr std::size_t kSubagentFiles = 64;

// Transcripts: JSON Lines files, but not the lifecycle journal kept beside subagent transcripts.
const FileSelection& transcriptFiles() {
    static const FileSelection selection{FileSelection::Names{"jsonl"},
                                         FileSelection::Names{"journal.jsonl"}};
    return selection;
}

// One conversation: its main transcript <project>/<session-id>.jsonl and the folder
// <project>/<session-id>/ below which its subagents' transcripts lie.
struct Conversation {
    std::filesystem::path main;
    std::filesystem::path subagents;
};

// The conversation that the transcript `file`, found below `projects`, belongs to.
Conversation conversationOf(const std::filesystem::path& file,
                            const std::filesystem::path& projects) {
    const std::filesystem::path relative = file.lexically_relative(projects);
    auto part = relative.begin();
    if (relative.empty() || *part == "..") {
        return {file, {}};
    }
    const std::filesystem::path project = projects / *part;
    if (++part == relative.end()) {
        return {file, {}}; // a file directly in the projects folder
    }
    const std::filesystem::path first = *part;
    if (++part == relative.end()) {
        // The main transcript itself.
        return {file, project / first.stem()};
    }
    // Below a session's folder: a subagent's transcript.
    std::filesystem::path main = project / first;
    main += ".jsonl";
    return {main, project / first};
}

constexpr std::array<std::string_view, 5> kUsedKeys = {
    "used_percentage", "used_percent", "usedPercentage", "usedPercent", "utilization"};
constexpr std::array<std::string_view, 4> kRemainingKeys = {
    "remaining_percentage", "remaining_percent", "remainingPercentage", "remainingPercent"};

// A window's used share and reset time. A window whose reset time lies before `now` has ended
// since the sample: it counts as reset, nothing used and no reset time.
struct BridgeWindow {
    std::optional<double> used;      // as written: 0 to 1 or 0 to 100
    std::optional<double> remaining; // as written
    std::optional<Instant> resetAt;
};

BridgeWindow bridgeWindow(const simdjson::dom::object& window, Instant now) {
    BridgeWindow read{numberMember(window, kUsedKeys), numberMember(window, kRemainingKeys),
                      dateMember(window, kWindowResetKeys)};
    if (read.resetAt && *read.resetAt < now) {
        return BridgeWindow{0.0, 100.0, std::nullopt};
    }
    return read;
}

// The candidate of a status-line bridge document, or of a usage-status file in the same form.
std::optional<SanitizedUsageCandidate> bridgeCandidateMember(const simdjson::dom::element& document,
                                                             Instant now) {
    simdjson::dom::object top;
    if (document.get(top)) {
        return std::nullopt;
    }
    const simdjson::dom::object root = objectMember(top, "payload").value_or(top);
    const auto limits = firstObjectMember(root, {"rate_limits", "rateLimits"});
    if (!limits) {
        return candidateFromDocument(document);
    }
    SanitizedUsageCandidate candidate;
    const auto fiveHour = firstObjectMember(*limits, {"five_hour", "fiveHour", "primary"});
    const auto sevenDay =
        firstObjectMember(*limits, {"seven_day", "sevenDay", "weekly", "secondary"});
    if (fiveHour) {
        const BridgeWindow window = bridgeWindow(*fiveHour, now);
        candidate.usedPercent = window.used;
        candidate.remainingPercent = window.remaining;
        candidate.resetAt = window.resetAt;
        candidate.windowLabel = "5h";
    }
    if (sevenDay) {
        const BridgeWindow window = bridgeWindow(*sevenDay, now);
        if (!fiveHour) {
            // Plans with a weekly window only: it is the row's window.
            candidate.usedPercent = window.used;
            candidate.remainingPercent = window.remaining;
            candidate.resetAt = window.resetAt;
            candidate.windowLabel = "7d";
        } else if (window.used) {
            std::string text =
                percentRemainingTextForPercent("7d", normalizedPercent(*window.used));
            if (window.resetAt) {
                text += " · resets ";
                text += formatInternetDateTime(*window.resetAt);
            }
            candidate.remainingText = std::move(text);
        }
    }
    candidate.observedAt =
        dateMember(root, {"observed_at", "observedAt", "updated_at", "updatedAt", "timestamp"});
    if (candidate.hasUsefulData()) {
        return candidate;
    }
    return candidateFromDocument(document);
}

// The bridge file, and the usage-status file, which may carry rate limits in the same form. A file
// that cannot be read or parsed sets `error`, unless an earlier file did.
std::optional<SanitizedUsageCandidate> readBridge(const std::filesystem::path& path,
                                                  const std::filesystem::path& home,
                                                  simdjson::dom::parser& parser, Instant now,
                                                  std::optional<SourceError>& error) {
    const auto bytes = readSmallFile(path, kSmallFileLimit);
    simdjson::dom::element document;
    if (!bytes || parser.parse(*bytes).get(document)) {
        if (!error) {
            error = SourceError{bytes ? SourceError::Kind::notJson : SourceError::Kind::unreadable,
                                displayPath(path, home)};
        }
        return std::nullopt;
    }
    return bridgeCandidateMember(document, now);
}

} // namespace

struct ClaudeCodeAdapter::Probe {
    std::optional<std::filesystem::path> executable;
    bool bridgeExists = false;
    bool usageStatusExists = false;
    std::size_t logCount = 0;
    std::optional<SanitizedUsageCandidate> bridge;
    std::optional<SanitizedUsageCandidate> usageStatus;
    std::optional<SanitizedUsageCandidate> logs;
    std::optional<SourceError> error; // the first bridge or usage-status file that gave nothing
};

ClaudeCodeAdapter::ClaudeCodeAdapter(std::filesystem::path home,
                                     std::vector<std::filesystem::path> searchPaths, Clock clock,
                                     const Environment& environment)
    : LocalToolAdapter("claude-code", "Claude Code", std::move(home), std::move(searchPaths),
                       std::move(clock)),
      transcripts_(std::make_shared<TranscriptTotals>()),
      projectsSurvey_(std::make_shared<SurveyCache>(clock_)) {
    std::filesystem::path configDirectory = home_ / ".claude";
    if (environment) {
        if (const auto configured = environment("CLAUDE_CONFIG_DIR");
            configured && !configured->empty()) {
            configDirectory = *configured;
        }
    }
    statusLineBridge_ = home_ / ".korvo/claude-statusline.json";
    usageStatus_ = configDirectory / "usage-status.json";
    projects_ = configDirectory / "projects";
}

ClaudeCodeAdapter::Probe ClaudeCodeAdapter::probe(bool forDiagnostic) const {
    simdjson::dom::parser parser;
    Probe probe;
    if (forDiagnostic) {
        probe.executable = findExecutable(kCommand, searchPaths_);
    }
    const Instant now = clock_();
    probe.bridgeExists = existsAsNonDirectory(statusLineBridge_);
    if (probe.bridgeExists) {
        probe.bridge = readBridge(statusLineBridge_, home_, parser, now, probe.error);
    }
    probe.usageStatusExists = existsAsNonDirectory(usageStatus_);
    if (probe.usageStatusExists) {
        probe.usageStatus = readBridge(usageStatus_, home_, parser, now, probe.error);
    }
    // Reading usage needs the count only when no source gave a candidate.
    const FileSurvey logs = projectsSurvey_->survey(projects_, transcriptFiles(),
                                                    forDiagnostic ? kCountLimit : 1, kLogFiles);
    probe.logCount = forDiagnostic ? logs.count : 0;
    // The conversation of the newest transcript that gives anything is the current session: a
    // write to a subagent's transcript is a write to its conversation.
    std::set<std::filesystem::path> tried;
    for (const auto& file : logs.recent) {
        const Conversation conversation = conversationOf(file, projects_);
        if (!tried.insert(conversation.main).second) {
            continue;
        }
        if (auto totals = conversationTotals(conversation.main, conversation.subagents);
            totals && totals->hasUsefulData()) {
            probe.logs = std::move(totals);
            break;
        }
    }
    return probe;
}

std::optional<SanitizedUsageCandidate>
ClaudeCodeAdapter::conversationTotals(const std::filesystem::path& main,
                                      const std::filesystem::path& subagents) const {
    std::optional<SanitizedUsageCandidate> own = transcripts_->read(main);
    std::optional<SanitizedUsageCandidate> sum;
    if (own && own->hasTokenData()) {
        sum = own;
    }
    if (!subagents.empty()) {
        for (const auto& file :
             surveyFiles(subagents, transcriptFiles(), 1, kSubagentFiles).recent) {
            const auto part = transcripts_->read(file);
            if (!part || !part->hasTokenData()) {
                continue;
            }
            if (!sum) {
                sum = SanitizedUsageCandidate{};
            }
            addTokens(*sum, *part);
        }
    }
    // A conversation without API messages gives what its main transcript says otherwise; a
    // subagent's transcript never speaks for the conversation alone.
    return sum ? sum : own;
}

UsageReading ClaudeCodeAdapter::read() const {
    const Probe found = probe(false);
    UsageReading reading =
        readingOf(mergeCandidates({found.bridge, found.usageStatus, found.logs}), found.error);
    if (!reading.row &&
        projectsSurvey_->survey(projects_, transcriptFiles(), kCountLimit, 0).count > 0) {
        reading.row =
            placeholderRow("Local Claude Code logs detected; usage format not recognized yet");
    }
    return reading;
}

AdapterDiagnostic ClaudeCodeAdapter::inspect() const {
    AdapterDiagnostic diagnostic = diagnosticWith({
        "Claude limit percentages require Claude Code statusLine rate_limits",
        "Claude statusLine bridge stores sanitized rate limit fields only",
        "Read-only probe; raw Claude logs are not uploaded",
        "Only sanitized usage fields are collected",
    });
    const Probe found = probe(true);
    const auto anyHas = [&](bool (SanitizedUsageCandidate::*test)() const) {
        for (const auto* candidate : {&found.bridge, &found.usageStatus, &found.logs}) {
            if (*candidate && ((**candidate).*test)()) {
                return true;
            }
        }
        return false;
    };
    diagnostic.cliInstalled = found.executable.has_value();
    diagnostic.usageSourceFound =
        found.bridgeExists || found.usageStatusExists || found.logCount > 0;
    diagnostic.tokenDataFound = anyHas(&SanitizedUsageCandidate::hasTokenData);
    diagnostic.limitDataFound = anyHas(&SanitizedUsageCandidate::hasLimitData);
    settleDiagnostic(
        diagnostic,
        {
            {diagnostic.limitDataFound, tracking::withQuota, "Limit data ready"},
            {diagnostic.tokenDataFound, tracking::withoutQuota,
             "Token data only; limit data missing",
             "Claude subscription-limit percentages require sanitized statusLine rate_limits."},
            {found.bridgeExists, tracking::noUsageData,
             "statusLine bridge installed; no usage fields found",
             "The statusLine bridge exists, but no parseable rate_limits were found."},
            {diagnostic.usageSourceFound, tracking::parserNeedsSample,
             "Source detected; usage format not recognized",
             "Local Claude files exist, but no recognized token or limit fields were found."},
            {diagnostic.cliInstalled, tracking::cliOnly, "CLI installed; no usage source found",
             "Claude CLI is installed, but Korvo did not find usage-status, statusLine bridge, "
             "or project JSONL data."},
        },
        "No local Claude Code source found");

    const std::string bridgeLine =
        displayPath(statusLineBridge_, home_) +
        (found.bridgeExists
             ? std::string(" - found, ") + (found.bridge && found.bridge->hasLimitData()
                                                ? "rate_limits available"
                                                : "rate_limits missing")
             : std::string(" - missing"));
    diagnostic.checkedPaths = {
        commandCheckLine(kCommand, found.executable),
        bridgeLine,
        displayPath(usageStatus_, home_) + (found.usageStatusExists ? " - found" : " - missing"),
        displayPath(projects_, home_) + (found.logCount > 0 ? " - found, " : " - missing, ") +
            std::to_string(found.logCount) + " jsonl files",
    };
    return diagnostic;
}

} // namespace korvo

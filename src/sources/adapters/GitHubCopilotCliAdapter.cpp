#include "sources/adapters/GitHubCopilotCliAdapter.h"

#include "sources/fields/ProviderUsageBuilder.h"
#include "sources/fields/TokenSum.h"
#include "sources/io/FileReaders.h"
#include "sources/otel/OTelTokenTotal.h"
#include "sources/otel/TelemetryDocuments.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <set>
#include <simdjson.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

namespace korvo {
namespace {

constexpr std::array<std::string_view, 1> kMetricNames{"gen_ai.client.token.usage"};
constexpr std::string_view kWindowLabel = "local OTel";
constexpr std::string_view kEnvironmentVariable = "COPILOT_OTEL_FILE_EXPORTER_PATH";
constexpr std::size_t kMaxDocuments = 2'000;
// Sessions read at most for the month's premium requests, the newest first.
constexpr std::size_t kMonthSessions = 100;
constexpr std::size_t kSessionCountLimit = 500;

// Events files only: a session folder keeps other files beside them.
const FileSelection& eventFiles() {
    static const FileSelection selection{FileSelection::Names{"jsonl"}};
    return selection;
}

// "82.5", "3", "0.33": at most two decimals, no trailing zeros.
std::string shortNumber(double value) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.2f", std::round(value * 100) / 100);
    std::string text(buffer);
    while (text.back() == '0') {
        text.pop_back();
    }
    if (text.back() == '.') {
        text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

bool isFileNotDirectory(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

bool isDirectory(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool hasTokenCounts(const std::filesystem::path& file, simdjson::dom::parser& parser) {
    return hasTelemetryTokenCounts(file, kMetricNames, kMaxDocuments, parser);
}

std::string trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kSpace);
    return std::string(text.substr(first, last - first + 1));
}

std::filesystem::path standardized(const std::filesystem::path& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    if (error) {
        absolute = path;
    }
    auto normal = absolute.lexically_normal();
    if (!normal.has_filename() && normal.has_parent_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

} // namespace

GitHubCopilotCliAdapter::GitHubCopilotCliAdapter(
    std::filesystem::path home, std::vector<std::filesystem::path> searchPaths,
    Environment environment, std::optional<std::filesystem::path> explicitOTelFile, Clock clock)
    : LocalToolAdapter("github-copilot-cli", "GitHub Copilot CLI", std::move(home),
                       std::move(searchPaths), std::move(clock)),
      config_(home_ / ".copilot"), environment_(std::move(environment)),
      explicitOTelFile_(std::move(explicitOTelFile)),
      sessionsSurvey_(std::make_shared<SurveyCache>(clock_)),
      sessions_(std::make_shared<CopilotSessions>()) {
    if (environment_) {
        if (const auto configured = environment_("COPILOT_HOME")) {
            if (const std::string folder = trimmed(*configured); !folder.empty()) {
                config_ = folder;
            }
        }
    }
    sessionState_ = config_ / "session-state";
}

GitHubCopilotCliAdapter::SessionUsage
GitHubCopilotCliAdapter::readSessions(std::size_t countLimit) const {
    SessionUsage usage;
    const FileSurvey survey =
        sessionsSurvey_->survey(sessionState_, eventFiles(), countLimit, kMonthSessions);
    usage.sessionCount = survey.count;
    const Instant now = clock_();
    const auto monthStart = [&] {
        using namespace std::chrono;
        const year_month_day today{floor<days>(now)};
        return Instant(sys_days{today.year() / today.month() / 1});
    }();
    std::optional<double> premium;
    std::optional<double> nanoAiu;
    for (const auto& file : survey.recent) {
        if (file.filename() != "events.jsonl") {
            continue;
        }
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0) {
            continue;
        }
        const Instant modified = instantFromUnixSeconds(info.st_mtim.tv_sec);
        const bool thisMonth = modified + std::chrono::seconds(1) >= monthStart;
        if (!thisMonth && usage.candidate) {
            break; // older sessions hold nothing of this month, and the newest one is known
        }
        const std::vector<CopilotShutdown> shutdowns = sessions_->read(file);
        if (shutdowns.empty()) {
            continue;
        }
        usage.anyShutdown = true;
        // A resumed session ends once per segment: the segments add up.
        if (!usage.candidate) {
            SanitizedUsageCandidate sum;
            for (const auto& shutdown : shutdowns) {
                addTokens(sum, shutdown.tokens);
            }
            usage.candidate = sum;
        }
        for (const auto& shutdown : shutdowns) {
            if (!shutdown.at || *shutdown.at < monthStart || *shutdown.at > now) {
                continue;
            }
            if (shutdown.premiumRequests) {
                premium = premium.value_or(0) + *shutdown.premiumRequests;
            }
            if (shutdown.nanoAiu) {
                nanoAiu = nanoAiu.value_or(0) + *shutdown.nanoAiu;
            }
        }
    }
    if (usage.candidate) {
        if (premium) {
            usage.candidate->remainingText = "Premium requests this month " + shortNumber(*premium);
        } else if (nanoAiu) {
            usage.candidate->remainingText = "AI credits this month " + shortNumber(*nanoAiu / 1e9);
        }
        if (!usage.candidate->hasUsefulData()) {
            usage.candidate.reset();
        }
    }
    return usage;
}

std::vector<GitHubCopilotCliAdapter::ExporterCandidate>
GitHubCopilotCliAdapter::exporterCandidates() const {
    std::vector<ExporterCandidate> all;
    if (explicitOTelFile_) {
        all.push_back({*explicitOTelFile_, "explicit"});
    }
    if (environment_) {
        if (auto value = environment_(kEnvironmentVariable)) {
            const std::string path = trimmed(*value);
            if (!path.empty()) {
                // A relative path names a file under the connector's working directory.
                std::error_code error;
                auto file = std::filesystem::absolute(path, error);
                all.push_back({error ? std::filesystem::path(path) : file,
                               std::string(kEnvironmentVariable)});
            }
        }
    }
    all.push_back({home_ / ".korvo/copilot-otel.jsonl", "~/.korvo/copilot-otel.jsonl"});
    all.push_back(
        {home_ / ".config/github-copilot/otel.jsonl", "~/.config/github-copilot/otel.jsonl"});

    std::vector<ExporterCandidate> unique;
    std::set<std::filesystem::path> seen;
    for (auto& candidate : all) {
        if (seen.insert(standardized(candidate.file)).second) {
            unique.push_back(std::move(candidate));
        }
    }
    return unique;
}

std::optional<SanitizedUsageCandidate> GitHubCopilotCliAdapter::readExporterFiles() const {
    OTelTokenTotal total{std::string(kWindowLabel)};
    simdjson::dom::parser parser;
    for (const auto& candidate : exporterCandidates()) {
        if (isFileNotDirectory(candidate.file)) {
            readTelemetryTokens(candidate.file, kMetricNames, kMaxDocuments, parser, total);
        }
    }
    return total.total();
}

UsageReading GitHubCopilotCliAdapter::read() const {
    std::optional<SanitizedUsageCandidate> exported = readExporterFiles();
    std::optional<SanitizedUsageCandidate> sessions = readSessions(1).candidate;
    if (exported && exported->hasTokenData()) {
        if (sessions && sessions->remainingText && !exported->remainingText) {
            exported->remainingText = sessions->remainingText;
        }
        return readingOf(exported);
    }
    return readingOf(sessions ? sessions : exported);
}

AdapterDiagnostic GitHubCopilotCliAdapter::inspect() const {
    auto cli = findExecutable("copilot", searchPaths_);
    if (!cli) {
        cli = findExecutable("gh-copilot", searchPaths_);
    }
    const bool configFound = isDirectory(config_);
    const auto candidates = exporterCandidates();
    bool anyFileExists = false;
    bool tokenCountFound = false;
    std::vector<std::string> candidateLines;
    simdjson::dom::parser parser;
    for (const auto& candidate : candidates) {
        const bool exists = isFileNotDirectory(candidate.file);
        anyFileExists = anyFileExists || exists;
        // Series repeated across files keep their attributes, so one file with a token count is
        // enough to know that the sum has one.
        tokenCountFound = tokenCountFound || (exists && hasTokenCounts(candidate.file, parser));
        candidateLines.push_back(displayPath(candidate.file, home_) +
                                 (exists ? " - found, " : " - missing, ") + candidate.label);
    }

    const SessionUsage sessions = readSessions(kSessionCountLimit);
    const bool sessionTokens = sessions.candidate && sessions.candidate->hasTokenData();

    AdapterDiagnostic d;
    d.id = id();
    d.displayName = displayName();
    d.cliInstalled = cli.has_value();
    d.usageSourceFound = configFound || anyFileExists || sessions.sessionCount > 0;
    d.tokenDataFound = tokenCountFound || sessionTokens;
    settleDiagnostic(
        d,
        {
            {tokenCountFound, tracking::withoutQuota, "OTel token data ready",
             "Copilot OTel exposes token usage; remaining premium requests are account-level "
             "and not available from this local file."},
            {sessionTokens, tracking::withoutQuota, "Session token data ready",
             "Copilot writes each session's tokens and premium requests to its session-state "
             "folder when the session ends; remaining premium requests are account-level and "
             "not available locally."},
            {sessions.sessionCount > 0 && !sessions.anyShutdown, tracking::noUsageData,
             "Sessions found; none has ended yet",
             "Copilot writes a session's usage to its events.jsonl only when the session ends "
             "(/exit or Ctrl+D; /new does not write it)."},
            {anyFileExists, tracking::parserNeedsSample,
             "OTel file found; token metrics not recognized",
             "Korvo found a Copilot OTel file, but no gen_ai.client.token.usage metrics."},
            {configFound, tracking::noUsageData, "Config found; OTel file export not configured",
             "Set COPILOT_OTEL_FILE_EXPORTER_PATH to a local JSONL file to track token usage."},
            {d.cliInstalled, tracking::cliOnly, "CLI installed; OTel not configured",
             "Copilot CLI is installed, but Korvo did not find an OTel file exporter path."},
        },
        "No local Copilot CLI source found");

    d.checkedPaths.push_back(cli ? "✓ command copilot: " + cli->string()
                                 : "• command copilot/gh-copilot: not found");
    d.checkedPaths.push_back(displayPath(config_, home_) +
                             (configFound ? " - found" : " - missing"));
    d.checkedPaths.insert(d.checkedPaths.end(), candidateLines.begin(), candidateLines.end());
    if (sessions.sessionCount > 0) {
        d.checkedPaths.push_back(displayPath(sessionState_, home_) + " - found, " +
                                 std::to_string(sessions.sessionCount) + " sessions");
    }
    d.warnings = {"Set COPILOT_OTEL_FILE_EXPORTER_PATH to enable local token metrics",
                  "Keep OTEL_INSTRUMENTATION_GENAI_CAPTURE_MESSAGE_CONTENT unset or false",
                  "Korvo parses token metrics only and never reads GitHub tokens"};
    return d;
}

} // namespace korvo

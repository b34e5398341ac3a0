#include "sources/adapters/GitHubCopilotCliAdapter.h"

#include "sources/fields/ProviderUsageBuilder.h"
#include "sources/io/FileReaders.h"
#include "sources/otel/OTelTokenTotal.h"
#include "sources/otel/TelemetryDocuments.h"

#include <array>
#include <set>
#include <simdjson.h>
#include <string_view>
#include <system_error>

namespace korvo {
namespace {

constexpr std::array<std::string_view, 1> kMetricNames{"gen_ai.client.token.usage"};
constexpr std::string_view kWindowLabel = "local OTel";
constexpr std::string_view kEnvironmentVariable = "COPILOT_OTEL_FILE_EXPORTER_PATH";
constexpr std::size_t kMaxDocuments = 2'000;

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
      m_config(m_home / ".copilot"), m_environment(std::move(environment)),
      m_explicitOTelFile(std::move(explicitOTelFile)) {
    if (m_environment) {
        if (const auto configured = m_environment("COPILOT_HOME")) {
            if (const std::string folder = trimmed(*configured); !folder.empty()) {
                m_config = folder;
            }
        }
    }
}

std::vector<GitHubCopilotCliAdapter::ExporterCandidate>
GitHubCopilotCliAdapter::exporterCandidates() const {
    std::vector<ExporterCandidate> all;
    if (m_explicitOTelFile) {
        all.push_back({*m_explicitOTelFile, "explicit"});
    }
    if (m_environment) {
        if (auto value = m_environment(kEnvironmentVariable)) {
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
    all.push_back({m_home / ".korvo/copilot-otel.jsonl", "~/.korvo/copilot-otel.jsonl"});
    all.push_back(
        {m_home / ".config/github-copilot/otel.jsonl", "~/.config/github-copilot/otel.jsonl"});

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
    return readingOf(readExporterFiles());
}

AdapterDiagnostic GitHubCopilotCliAdapter::inspect() const {
    auto cli = findExecutable("copilot", m_searchPaths);
    if (!cli) {
        cli = findExecutable("gh-copilot", m_searchPaths);
    }
    const bool configFound = isDirectory(m_config);
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
        candidateLines.push_back(displayPath(candidate.file, m_home) +
                                 (exists ? " - found, " : " - missing, ") + candidate.label);
    }

    AdapterDiagnostic d;
    d.id = id();
    d.displayName = displayName();
    d.cliInstalled = cli.has_value();
    d.usageSourceFound = configFound || anyFileExists;
    d.tokenDataFound = tokenCountFound;
    settleDiagnostic(
        d,
        {
            {d.tokenDataFound, tracking::withoutQuota, "OTel token data ready",
             "Copilot OTel exposes token usage; remaining premium requests are account-level "
             "and not available from this local file."},
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
    d.checkedPaths.push_back(displayPath(m_config, m_home) +
                             (configFound ? " - found" : " - missing"));
    d.checkedPaths.insert(d.checkedPaths.end(), candidateLines.begin(), candidateLines.end());
    d.warnings = {"Set COPILOT_OTEL_FILE_EXPORTER_PATH to enable local token metrics",
                  "Keep OTEL_INSTRUMENTATION_GENAI_CAPTURE_MESSAGE_CONTENT unset or false",
                  "Korvo parses token metrics only and never reads GitHub tokens"};
    return d;
}

} // namespace korvo

#include "sources/GeminiCliAdapter.h"

#include "sources/DiagnosticLines.h"
#include "sources/FileReaders.h"
#include "sources/OTelTokenTotal.h"
#include "sources/ProviderUsageBuilder.h"
#include "sources/TelemetryDocuments.h"

#include <array>
#include <simdjson.h>
#include <string_view>
#include <system_error>

namespace korvo {
namespace {

constexpr std::array<std::string_view, 2> kMetricNames{"gemini_cli.token.usage",
                                                       "gen_ai.client.token.usage"};
constexpr std::string_view kWindowLabel = "local telemetry";
constexpr std::size_t kSettingsLimit = 1'048'576;
constexpr std::size_t kMaxDocuments = 2'000;
constexpr std::string_view kPromptLoggingWarning =
    "Gemini telemetry logPrompts is true; set it to false before using Korvo telemetry parsing.";

bool isFileNotDirectory(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

// Whether the telemetry holds a token count; the first one found is enough.
bool telemetryHasTokenCounts(const std::filesystem::path& telemetry) {
    try {
        simdjson::dom::parser parser;
        return hasTelemetryTokenCounts(telemetry, kMetricNames, kMaxDocuments, parser);
    } catch (...) {
        return false;
    }
}

std::string foundOrMissing(const std::filesystem::path& path, const std::filesystem::path& home,
                           bool found) {
    return displayPath(path, home) + (found ? " - found" : " - missing");
}

} // namespace

GeminiCliAdapter::GeminiCliAdapter(std::filesystem::path home,
                                   std::vector<std::filesystem::path> searchPaths, Clock clock)
    : m_home(std::move(home)), m_settings(m_home / ".gemini/settings.json"),
      m_telemetry(m_home / ".gemini/telemetry.log"), m_searchPaths(std::move(searchPaths)),
      m_clock(std::move(clock)) {}

std::string GeminiCliAdapter::id() const {
    return "gemini-cli";
}

std::string GeminiCliAdapter::displayName() const {
    return "Gemini CLI";
}

bool GeminiCliAdapter::promptLoggingEnabled() const try {
    const auto bytes = readSmallFile(m_settings, kSettingsLimit);
    if (!bytes) {
        return false;
    }
    simdjson::dom::parser parser;
    simdjson::dom::element document;
    if (parser.parse(*bytes).get(document) != simdjson::SUCCESS) {
        return false;
    }
    bool logPrompts = false;
    if (document["telemetry"]["logPrompts"].get_bool().get(logPrompts) != simdjson::SUCCESS) {
        return false;
    }
    return logPrompts;
} catch (...) {
    // Out of memory: when in doubt, the telemetry file stays unread.
    return true;
}

std::optional<std::string> GeminiCliAdapter::promptLoggingWarning() const {
    if (!promptLoggingEnabled()) {
        return std::nullopt;
    }
    return std::string(kPromptLoggingWarning);
}

std::optional<SanitizedUsageCandidate> GeminiCliAdapter::readTelemetry() const try {
    if (!isFileNotDirectory(m_telemetry)) {
        return std::nullopt;
    }
    OTelTokenTotal total{std::string(kWindowLabel)};
    simdjson::dom::parser parser;
    readTelemetryTokens(m_telemetry, kMetricNames, kMaxDocuments, parser, total);
    return total.total();
} catch (...) {
    return std::nullopt;
}

std::optional<ProviderUsage> GeminiCliAdapter::readUsage() const {
    if (promptLoggingEnabled()) {
        return std::nullopt;
    }
    const auto candidate = readTelemetry();
    if (!candidate) {
        return std::nullopt;
    }
    return makeProviderUsage(id(), displayName(), SourceType::localCli, Confidence::cliReported,
                             *candidate, m_clock());
}

AdapterDiagnostic GeminiCliAdapter::diagnose() const {
    const auto cli = findExecutable("gemini", m_searchPaths);
    const bool settingsFound = isFileNotDirectory(m_settings);
    const bool telemetryFound = isFileNotDirectory(m_telemetry);
    const bool logPrompts = promptLoggingEnabled();

    AdapterDiagnostic d;
    d.id = id();
    d.displayName = displayName();
    d.cliInstalled = cli.has_value();
    d.usageSourceFound = settingsFound || telemetryFound;
    d.tokenDataFound = !logPrompts && telemetryHasTokenCounts(m_telemetry);
    d.limitDataFound = false;
    d.canUploadProvider = d.tokenDataFound && !logPrompts;
    d.isAvailable = d.cliInstalled || d.usageSourceFound;

    if (logPrompts) {
        d.trackingStatus = "Needs settings change";
        d.whyNoQuota = "Set Gemini telemetry logPrompts=false before Korvo reads local telemetry "
                       "token metrics.";
        d.summary = "Telemetry prompt logging is enabled; collection paused for privacy";
    } else if (d.tokenDataFound) {
        d.trackingStatus = "Tracked without quota";
        d.whyNoQuota = "Gemini telemetry exposes token usage; subscription/API remaining quota "
                       "is not exposed as a stable local snapshot.";
        d.summary = "Local telemetry token data ready";
    } else if (telemetryFound) {
        d.trackingStatus = "Source found, parser needs sample";
        d.whyNoQuota = "Korvo found Gemini telemetry, but no gemini_cli.token.usage or "
                       "gen_ai.client.token.usage metrics.";
        d.summary = "Telemetry file found; token metrics not recognized";
    } else if (settingsFound) {
        d.trackingStatus = "Source found, no usage data";
        d.whyNoQuota =
            "Enable Gemini CLI local telemetry with prompt logging disabled to track token usage.";
        d.summary = "Settings found; local telemetry not enabled";
    } else if (d.cliInstalled) {
        d.trackingStatus = "CLI detected, no local data";
        d.whyNoQuota = "Gemini CLI is installed, but Korvo did not find ~/.gemini/telemetry.log.";
        d.summary = "CLI installed; telemetry not configured";
    } else {
        d.trackingStatus = "Not found";
        d.summary = "No local Gemini CLI source found";
    }

    d.checkedPaths = {commandCheckLine("gemini", cli),
                      foundOrMissing(m_settings, m_home, settingsFound),
                      foundOrMissing(m_telemetry, m_home, telemetryFound)};
    d.warnings = {"Gemini telemetry should be configured with logPrompts=false before parsing",
                  "Detailed traces may include prompts or tool output; Korvo parses token "
                  "metrics only"};
    if (logPrompts) {
        d.warnings.emplace_back(kPromptLoggingWarning);
    }
    d.warnings.push_back("Only sanitized token fields are collected");
    return d;
}

} // namespace korvo

#include "sources/adapters/GeminiCliAdapter.h"

#include "sources/adapters/DiagnosticLines.h"
#include "sources/fields/ProviderUsageBuilder.h"
#include "sources/fields/ValueParsers.h"
#include "sources/io/FileReaders.h"
#include "sources/io/JsonWithComments.h"
#include "sources/otel/OTelTokenTotal.h"
#include "sources/otel/TelemetryDocuments.h"

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
    simdjson::dom::parser parser;
    return hasTelemetryTokenCounts(telemetry, kMetricNames, kMaxDocuments, parser);
}

// JavaScript truth of a JSON value, as the CLI tests its settings.
bool isTruthy(simdjson::dom::element value) {
    switch (value.type()) {
    case simdjson::dom::element_type::NULL_VALUE:
        return false;
    case simdjson::dom::element_type::BOOL:
        return value.get_bool().value_unsafe();
    case simdjson::dom::element_type::STRING:
        return !value.get_string().value_unsafe().empty();
    case simdjson::dom::element_type::INT64:
    case simdjson::dom::element_type::UINT64:
    case simdjson::dom::element_type::DOUBLE: {
        double number = 0;
        return value.get_double().get(number) == simdjson::SUCCESS && number != 0;
    }
    default:
        return true; // objects and arrays
    }
}

std::string foundOrMissing(const std::filesystem::path& path, const std::filesystem::path& home,
                           bool found) {
    return displayPath(path, home) + (found ? " - found" : " - missing");
}

} // namespace

GeminiCliAdapter::GeminiCliAdapter(std::filesystem::path home,
                                   std::vector<std::filesystem::path> searchPaths, Clock clock)
    : LocalToolAdapter("gemini-cli", "Gemini CLI", std::move(home), std::move(searchPaths),
                       std::move(clock)),
      m_settings(m_home / ".gemini/settings.json"), m_telemetry(m_home / ".gemini/telemetry.log") {}

GeminiCliAdapter::TelemetrySettings GeminiCliAdapter::telemetrySettings() const {
    TelemetrySettings settings;
    settings.found = isFileNotDirectory(m_settings);
    if (!settings.found) {
        return settings;
    }
    const auto bytes = readSmallFile(m_settings, kSettingsLimit);
    if (!bytes) {
        settings.error =
            SourceError{SourceError::Kind::unreadable, displayPath(m_settings, m_home)};
        return settings;
    }
    // The CLI strips comments before it parses its settings.
    const simdjson::padded_string text(withoutCommentsAndTrailingCommas(*bytes));
    simdjson::dom::parser parser;
    simdjson::dom::object top;
    if (parser.parse(text).get(top) != simdjson::SUCCESS) {
        settings.error = SourceError{SourceError::Kind::notJson, displayPath(m_settings, m_home)};
        return settings;
    }
    settings.readable = true;
    simdjson::dom::object telemetry;
    if (top["telemetry"].get(telemetry) != simdjson::SUCCESS) {
        return settings;
    }
    simdjson::dom::element value;
    if (telemetry["enabled"].get(value) == simdjson::SUCCESS) {
        settings.enabled = isTruthy(value);
    }
    if (telemetry["logPrompts"].get(value) == simdjson::SUCCESS && !value.is_null()) {
        settings.logPrompts = isTruthy(value);
    }
    if (telemetry["outfile"].get(value) == simdjson::SUCCESS) {
        settings.outfile = parseText(value);
    }
    return settings;
}

bool GeminiCliAdapter::promptLoggingEnabled(const TelemetrySettings& settings) {
    return settings.readable && settings.logPrompts.value_or(settings.enabled);
}

bool GeminiCliAdapter::promptLoggingEnabled() const {
    return promptLoggingEnabled(telemetrySettings());
}

std::optional<std::string> GeminiCliAdapter::promptLoggingWarning() const {
    if (!promptLoggingEnabled()) {
        return std::nullopt;
    }
    return std::string(kPromptLoggingWarning);
}

std::filesystem::path GeminiCliAdapter::telemetryPath(const TelemetrySettings& settings) const {
    if (settings.outfile) {
        const std::string& outfile = *settings.outfile;
        if (outfile.starts_with('/')) {
            return outfile;
        }
        if (outfile.starts_with("~/")) {
            return m_home / outfile.substr(2);
        }
    }
    return m_telemetry;
}

std::optional<SanitizedUsageCandidate>
GeminiCliAdapter::readTelemetryFile(const std::filesystem::path& telemetry) const {
    if (!isFileNotDirectory(telemetry)) {
        return std::nullopt;
    }
    OTelTokenTotal total{std::string(kWindowLabel), OTelTokenTotal::Metrics::firstWhenPresent};
    simdjson::dom::parser parser;
    readTelemetryTokens(telemetry, kMetricNames, kMaxDocuments, parser, total);
    return total.total();
}

UsageReading GeminiCliAdapter::read() const {
    const TelemetrySettings settings = telemetrySettings();
    if (mayHoldPrompts(settings)) {
        return UsageReading{std::nullopt, settings.error};
    }
    return readingOf(readTelemetryFile(telemetryPath(settings)), settings.error);
}

AdapterDiagnostic GeminiCliAdapter::inspect() const {
    const auto cli = findExecutable("gemini", m_searchPaths);
    const TelemetrySettings settings = telemetrySettings();
    const std::filesystem::path telemetry = telemetryPath(settings);
    const bool settingsFound = settings.found;
    const bool telemetryFound = isFileNotDirectory(telemetry);
    const bool logPrompts = promptLoggingEnabled(settings);
    const bool unreadable = settings.found && !settings.readable;
    const bool relativeOutfile = settings.outfile && !settings.outfile->starts_with('/') &&
                                 !settings.outfile->starts_with("~/");

    AdapterDiagnostic d;
    d.id = id();
    d.displayName = displayName();
    d.cliInstalled = cli.has_value();
    d.usageSourceFound = settingsFound || telemetryFound;
    d.tokenDataFound = !mayHoldPrompts(settings) && telemetryHasTokenCounts(telemetry);
    settleDiagnostic(
        d,
        {
            {logPrompts, tracking::needsSettingsChange,
             "Telemetry prompt logging is enabled; collection paused for privacy",
             "Set Gemini telemetry logPrompts=false before Korvo reads local telemetry token "
             "metrics."},
            {unreadable, tracking::needsSettingsChange,
             "Settings unreadable; collection paused for privacy",
             "Korvo could not read " + displayPath(m_settings, m_home) +
                 " as JSON, so it cannot tell whether Gemini telemetry logs prompts; the "
                 "telemetry file is left unread."},
            {d.tokenDataFound, tracking::withoutQuota, "Local telemetry token data ready",
             "Gemini telemetry exposes token usage; subscription/API remaining quota is not "
             "exposed as a stable local snapshot."},
            {relativeOutfile, tracking::needsSettingsChange,
             "Telemetry outfile is relative; Korvo cannot locate it",
             "Gemini telemetry.outfile \"" + settings.outfile.value_or(std::string()) +
                 "\" is relative to the folder Gemini starts in; make it absolute (or start it "
                 "with ~/) so Korvo can read it."},
            {telemetryFound, tracking::parserNeedsSample,
             "Telemetry file found; token metrics not recognized",
             "Korvo found Gemini telemetry, but no gemini_cli.token.usage or "
             "gen_ai.client.token.usage metrics."},
            {settingsFound, tracking::noUsageData, "Settings found; local telemetry not enabled",
             "Enable Gemini CLI local telemetry with prompt logging disabled to track token "
             "usage."},
            {d.cliInstalled, tracking::cliOnly, "CLI installed; telemetry not configured",
             "Gemini CLI is installed, but Korvo did not find " + displayPath(telemetry, m_home) +
                 "."},
        },
        "No local Gemini CLI source found");

    d.checkedPaths = {commandCheckLine("gemini", cli),
                      foundOrMissing(m_settings, m_home, settingsFound),
                      foundOrMissing(telemetry, m_home, telemetryFound)};
    if (relativeOutfile) {
        d.checkedPaths.push_back("telemetry.outfile " + *settings.outfile +
                                 " - relative path, not resolved");
    }
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

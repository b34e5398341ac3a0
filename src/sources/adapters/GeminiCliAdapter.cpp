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
// The attributes in which the CLI logs prompt, request or response text (user prompts, API
// requests and responses, tool arguments, hook input and output, and the GenAI semantic records
// and spans); with prompt logging off the same records carry lengths only.
constexpr std::array<std::string_view, 9> kTextKeys{"prompt",
                                                    "request_text",
                                                    "response_text",
                                                    "gen_ai.input.messages",
                                                    "gen_ai.output.messages",
                                                    "function_args",
                                                    "user_prompt",
                                                    "hook_input",
                                                    "hook_output"};
#if defined(__APPLE__)
constexpr std::string_view kSystemSettings = "/Library/Application Support/GeminiCli/settings.json";
#else
constexpr std::string_view kSystemSettings = "/etc/gemini-cli/settings.json";
#endif

// One telemetry setting as the files merged so far give it: a later file's value, null
// included, replaces an earlier one.
struct Setting {
    bool present = false;
    bool null = false;
    bool truth = false;
    std::optional<std::string> text;
};

struct MergedTelemetry {
    Setting enabled;
    Setting logPrompts;
    Setting outfile;
};

// The CLI's reading of a boolean variable: "true" and "1" are true, any other value false.
bool variableTruth(const std::string& value) {
    return value == "true" || value == "1";
}

bool isFileNotDirectory(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
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
                                   std::vector<std::filesystem::path> searchPaths, Clock clock,
                                   const Environment& environment)
    : LocalToolAdapter("gemini-cli", "Gemini CLI", std::move(home), std::move(searchPaths),
                       std::move(clock)) {
    const auto variable = [&](std::string_view name) -> std::optional<std::string> {
        return environment ? environment(name) : std::nullopt;
    };
    const auto path = [&](std::string_view name) -> std::optional<std::filesystem::path> {
        auto value = variable(name);
        return value && !value->empty() ? std::optional<std::filesystem::path>(*value)
                                        : std::nullopt;
    };
    // GEMINI_CLI_HOME stands for the home directory in everything the CLI keeps there.
    const std::filesystem::path geminiHome = path("GEMINI_CLI_HOME").value_or(home_);
    settings_ = geminiHome / ".gemini/settings.json";
    telemetry_ = geminiHome / ".gemini/telemetry.log";
    systemSettings_ = path("GEMINI_CLI_SYSTEM_SETTINGS_PATH")
                          .value_or(std::filesystem::path(std::string(kSystemSettings)));
    systemDefaults_ = path("GEMINI_CLI_SYSTEM_DEFAULTS_PATH")
                          .value_or(systemSettings_.parent_path() / "system-defaults.json");
    enabledVariable_ = variable("GEMINI_TELEMETRY_ENABLED");
    logPromptsVariable_ = variable("GEMINI_TELEMETRY_LOG_PROMPTS");
    outfileVariable_ = variable("GEMINI_TELEMETRY_OUTFILE");
}

namespace {

// Merges the telemetry settings of one file into `merged`. A file that is found but cannot be
// read sets `error` (unless an earlier file did) and answers false.
bool mergeSettingsFile(const std::filesystem::path& file, const std::filesystem::path& home,
                       MergedTelemetry& merged, std::optional<SourceError>& error) {
    const auto bytes = readSmallFile(file, kSettingsLimit);
    if (!bytes) {
        if (!error) {
            error = SourceError{SourceError::Kind::unreadable, displayPath(file, home)};
        }
        return false;
    }
    // The CLI strips comments before it parses its settings.
    const simdjson::padded_string text(withoutCommentsAndTrailingCommas(*bytes));
    simdjson::dom::parser parser;
    simdjson::dom::object top;
    if (parser.parse(text).get(top) != simdjson::SUCCESS) {
        if (!error) {
            error = SourceError{SourceError::Kind::notJson, displayPath(file, home)};
        }
        return false;
    }
    simdjson::dom::element telemetry;
    if (top["telemetry"].get(telemetry) != simdjson::SUCCESS) {
        return true;
    }
    simdjson::dom::object members;
    if (telemetry.get(members) != simdjson::SUCCESS) {
        merged = MergedTelemetry{}; // a value that is no object replaces the whole section
        return true;
    }
    const auto take = [&](std::string_view key, Setting& setting) {
        simdjson::dom::element value;
        if (members[key].get(value) != simdjson::SUCCESS) {
            return;
        }
        setting = Setting{true, value.is_null(), isTruthy(value), parseText(value)};
    };
    take("enabled", merged.enabled);
    take("logPrompts", merged.logPrompts);
    take("outfile", merged.outfile);
    return true;
}

} // namespace

GeminiCliAdapter::TelemetrySettings GeminiCliAdapter::telemetrySettings() const {
    TelemetrySettings settings;
    settings.found = isFileNotDirectory(settings_);
    settings.systemFound = isFileNotDirectory(systemSettings_);
    settings.readable = true;
    MergedTelemetry merged;
    // Later files win: system defaults, the user's settings, (a project's settings, out of
    // sight), the system settings.
    for (const auto& [file, found] :
         {std::pair{&systemDefaults_, isFileNotDirectory(systemDefaults_)},
          std::pair{&settings_, settings.found},
          std::pair{&systemSettings_, settings.systemFound}}) {
        if (found && !mergeSettingsFile(*file, home_, merged, settings.error)) {
            settings.readable = false;
        }
    }
    // The CLI's environment variables come before its settings.
    settings.enabled = enabledVariable_ ? variableTruth(*enabledVariable_)
                                        : merged.enabled.present && merged.enabled.truth;
    if (logPromptsVariable_) {
        settings.logPrompts = variableTruth(*logPromptsVariable_);
    } else if (merged.logPrompts.present && !merged.logPrompts.null) {
        settings.logPrompts = merged.logPrompts.truth;
    }
    if (outfileVariable_ && !outfileVariable_->empty()) {
        settings.outfile = *outfileVariable_;
    } else if (merged.outfile.present) {
        settings.outfile = merged.outfile.text;
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
            return home_ / outfile.substr(2);
        }
    }
    return telemetry_;
}

std::optional<SanitizedUsageCandidate>
GeminiCliAdapter::readTelemetryFile(const std::filesystem::path& telemetry, bool& heldText) const {
    heldText = false;
    if (!isFileNotDirectory(telemetry)) {
        return std::nullopt;
    }
    OTelTokenTotal total{std::string(kWindowLabel), OTelTokenTotal::Metrics::firstWhenPresent};
    simdjson::dom::parser parser;
    if (!readTelemetryTokens(telemetry, kMetricNames, kMaxDocuments, parser, total, kTextKeys)) {
        heldText = true;
        return std::nullopt;
    }
    return total.total();
}

UsageReading GeminiCliAdapter::read() const {
    const TelemetrySettings settings = telemetrySettings();
    if (mayHoldPrompts(settings)) {
        return UsageReading{std::nullopt, settings.error};
    }
    bool heldText = false;
    return readingOf(readTelemetryFile(telemetryPath(settings), heldText), settings.error);
}

AdapterDiagnostic GeminiCliAdapter::inspect() const {
    const auto cli = findExecutable("gemini", searchPaths_);
    const TelemetrySettings settings = telemetrySettings();
    const std::filesystem::path telemetry = telemetryPath(settings);
    const bool settingsFound = settings.found;
    const bool telemetryFound = isFileNotDirectory(telemetry);
    const bool logPrompts = promptLoggingEnabled(settings);
    const bool unreadable = !settings.readable;
    // The telemetry is looked at only when the settings allow it; a record holding prompt text
    // then pauses collection as well.
    bool heldText = false;
    bool tokenCounts = false;
    if (!mayHoldPrompts(settings) && telemetryFound) {
        simdjson::dom::parser parser;
        tokenCounts = hasTelemetryTokenCounts(telemetry, kMetricNames, kMaxDocuments, parser,
                                              kTextKeys, &heldText);
    }
    const bool relativeOutfile = settings.outfile && !settings.outfile->starts_with('/') &&
                                 !settings.outfile->starts_with("~/");

    AdapterDiagnostic d;
    d.id = id();
    d.displayName = displayName();
    d.cliInstalled = cli.has_value();
    d.usageSourceFound = settingsFound || settings.systemFound || telemetryFound;
    d.tokenDataFound = tokenCounts;
    settleDiagnostic(
        d,
        {
            {logPrompts, tracking::needsSettingsChange,
             "Telemetry prompt logging is enabled; collection paused for privacy",
             "Set Gemini telemetry logPrompts=false before Korvo reads local telemetry token "
             "metrics."},
            {unreadable, tracking::needsSettingsChange,
             "Settings unreadable; collection paused for privacy",
             "Korvo could not read " + (settings.error ? settings.error->path : std::string()) +
                 " as JSON, so it cannot tell whether Gemini telemetry logs prompts; the "
                 "telemetry file is left unread."},
            {heldText, tracking::needsSettingsChange,
             "Telemetry holds prompt text; collection paused for privacy",
             "Korvo found a record holding prompt, request or response text in " +
                 displayPath(telemetry, home_) +
                 " and stopped reading it. Turn Gemini prompt logging off: telemetry.logPrompts "
                 "false in the user, project and system settings, and neither "
                 "--telemetry-log-prompts nor GEMINI_TELEMETRY_LOG_PROMPTS=true; then move the "
                 "old telemetry file away."},
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
             "Gemini CLI is installed, but Korvo did not find " + displayPath(telemetry, home_) +
                 "."},
        },
        "No local Gemini CLI source found");

    d.checkedPaths = {commandCheckLine("gemini", cli),
                      foundOrMissing(settings_, home_, settingsFound),
                      foundOrMissing(telemetry, home_, telemetryFound)};
    if (settings.systemFound) {
        d.checkedPaths.push_back(displayPath(systemSettings_, home_) + " - found, system settings");
    }
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

#pragma once

#include "model/Clock.h"
#include "sources/adapters/LocalToolAdapter.h"
#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/io/Environment.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// Reads the token-usage metrics that the Gemini CLI writes to its local telemetry file (the
// resolved telemetry.outfile when it names an absolute or "~/" path, else
// <gemini home>/.gemini/telemetry.log), unless prompts may be logged there. The settings are
// resolved as the CLI resolves them, as far as the connector can see them: the system defaults,
// the user's settings, the system settings, then the GEMINI_TELEMETRY_* variables of the
// connector's own environment. A project's settings and the CLI's command line and environment
// are out of sight, so the file itself is checked too: a record holding prompt, request or
// response text stops the read before any number is taken. Reports token counts only: no quota
// is exposed locally.
class GeminiCliAdapter final : public LocalToolAdapter {
public:
    // What the settings files and the environment say about telemetry, read as the CLI reads
    // them (comments and trailing commas allowed).
    struct TelemetrySettings {
        bool found = false;    // the user's settings.json exists and is not a directory
        bool readable = false; // every settings file found holds a JSON object
        bool enabled = false;  // telemetry.enabled holds a true value
        // telemetry.logPrompts by its truth (false, 0 and "" are false); absent or null when the
        // key is, and the CLI then logs prompts.
        std::optional<bool> logPrompts;
        std::optional<std::string> outfile; // telemetry.outfile, trimmed, when a non-empty text
        std::optional<SourceError> error;   // why a settings file that was found is not readable
        bool systemFound = false;           // the system settings file exists
    };

    GeminiCliAdapter(std::filesystem::path home, std::vector<std::filesystem::path> searchPaths,
                     Clock clock = systemClock(),
                     const Environment& environment = processEnvironment());

    TelemetrySettings telemetrySettings() const;
    // True when the settings enable prompt logging: logPrompts set to a true value, or left to
    // its default while telemetry is enabled.
    bool promptLoggingEnabled() const;
    std::optional<std::string> promptLoggingWarning() const;
    // The telemetry file the settings point at (an absolute or "~/" outfile), else the default.
    std::filesystem::path telemetryPath(const TelemetrySettings& settings) const;

private:
    AdapterDiagnostic inspect() const override;
    UsageReading read() const override;
    static bool promptLoggingEnabled(const TelemetrySettings& settings);
    // Prompt logging on, or a settings file that cannot be read: the telemetry is left unread.
    static bool mayHoldPrompts(const TelemetrySettings& settings) {
        return promptLoggingEnabled(settings) || !settings.readable;
    }
    // The telemetry's token total; absent when the file gives none. `heldText` tells that the
    // read stopped at a record holding prompt, request or response text.
    std::optional<SanitizedUsageCandidate> readTelemetryFile(const std::filesystem::path& telemetry,
                                                             bool& heldText) const;

    std::filesystem::path settings_;       // the user's
    std::filesystem::path systemSettings_; // overrides the user's and the projects'
    std::filesystem::path systemDefaults_; // under the user's
    std::filesystem::path telemetry_;
    // The GEMINI_TELEMETRY_* variables of the connector's environment that were set.
    std::optional<std::string> enabledVariable_;
    std::optional<std::string> logPromptsVariable_;
    std::optional<std::string> outfileVariable_;
};

} // namespace korvo

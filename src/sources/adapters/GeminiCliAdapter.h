#pragma once

#include "model/Clock.h"
#include "sources/adapters/LocalToolAdapter.h"
#include "sources/fields/SanitizedUsageCandidate.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// Reads the token-usage metrics that the Gemini CLI writes to its local telemetry file (the
// settings' telemetry.outfile when it names an absolute or "~/" path, else
// ~/.gemini/telemetry.log), unless prompts may be logged there: the file then may hold prompt text
// and is left unread. Reports token counts only: no quota is exposed locally.
class GeminiCliAdapter final : public LocalToolAdapter {
public:
    // What the settings file says about telemetry, read as the CLI reads it (comments and
    // trailing commas allowed).
    struct TelemetrySettings {
        bool found = false;    // settings.json exists and is not a directory
        bool readable = false; // ... and holds a JSON object (after comments are stripped)
        bool enabled = false;  // telemetry.enabled holds a true value
        // telemetry.logPrompts by its truth (false, 0 and "" are false); absent or null when the
        // key is, and the CLI then logs prompts.
        std::optional<bool> logPrompts;
        std::optional<std::string> outfile; // telemetry.outfile, trimmed, when a non-empty text
        std::optional<SourceError> error;   // why a settings file that was found is not readable
    };

    GeminiCliAdapter(std::filesystem::path home, std::vector<std::filesystem::path> searchPaths,
                     Clock clock = systemClock());

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
        return promptLoggingEnabled(settings) || (settings.found && !settings.readable);
    }
    std::optional<SanitizedUsageCandidate>
    readTelemetryFile(const std::filesystem::path& telemetry) const;

    std::filesystem::path m_settings;
    std::filesystem::path m_telemetry;
};

} // namespace korvo

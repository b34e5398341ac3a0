#pragma once

#include "model/Clock.h"
#include "sources/SanitizedUsageCandidate.h"
#include "sources/UsageAdapter.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// Reads the token-usage metrics that the Gemini CLI writes to its local telemetry file (the
// settings' telemetry.outfile when it names an absolute or "~/" path, else
// ~/.gemini/telemetry.log), unless prompts may be logged there: the file then may hold prompt text
// and is left unread. Reports token counts only: no quota is exposed locally.
class GeminiCliAdapter final : public UsageAdapter {
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
    };

    GeminiCliAdapter(std::filesystem::path home, std::vector<std::filesystem::path> searchPaths,
                     Clock clock = systemClock());

    std::string id() const override;
    std::string displayName() const override;
    AdapterDiagnostic diagnose() const override;
    std::optional<ProviderUsage> readUsage() const override;

    TelemetrySettings telemetrySettings() const;
    // True when the settings enable prompt logging: logPrompts set to a true value, or left to
    // its default while telemetry is enabled.
    bool promptLoggingEnabled() const;
    std::optional<std::string> promptLoggingWarning() const;
    // The telemetry file the settings point at (an absolute or "~/" outfile), else the default.
    std::filesystem::path telemetryPath(const TelemetrySettings& settings) const;
    // The summed token metrics of the telemetry file's tail, or nothing. Nothing either when
    // the file may hold prompts: prompt logging on, or settings present but unreadable.
    std::optional<SanitizedUsageCandidate> readTelemetry() const;

private:
    static bool promptLoggingEnabled(const TelemetrySettings& settings);
    // Prompt logging on, or a settings file that cannot be read: the telemetry is left unread.
    static bool mayHoldPrompts(const TelemetrySettings& settings) {
        return promptLoggingEnabled(settings) || (settings.found && !settings.readable);
    }
    std::optional<SanitizedUsageCandidate>
    readTelemetryFile(const std::filesystem::path& telemetry) const;

    std::filesystem::path m_home;
    std::filesystem::path m_settings;
    std::filesystem::path m_telemetry;
    std::vector<std::filesystem::path> m_searchPaths;
    Clock m_clock;
};

} // namespace korvo

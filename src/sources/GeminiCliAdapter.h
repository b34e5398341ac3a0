#pragma once

#include "model/Clock.h"
#include "sources/SanitizedUsageCandidate.h"
#include "sources/UsageAdapter.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// Reads the token-usage metrics that the Gemini CLI writes to its local telemetry file, unless
// its settings turn on prompt logging (the file may then hold prompt text and is left unread).
// Reports token counts only: no quota is exposed locally.
class GeminiCliAdapter final : public UsageAdapter {
public:
    GeminiCliAdapter(std::filesystem::path home, std::vector<std::filesystem::path> searchPaths,
                     Clock clock = systemClock());

    std::string id() const override;
    std::string displayName() const override;
    AdapterDiagnostic diagnose() const override;
    std::optional<ProviderUsage> readUsage() const override;

    // True only when settings.json holds telemetry.logPrompts as the JSON boolean true.
    bool promptLoggingEnabled() const;
    std::optional<std::string> promptLoggingWarning() const;
    // The summed token metrics of the telemetry file's tail, or nothing.
    std::optional<SanitizedUsageCandidate> readTelemetry() const;

private:
    std::filesystem::path m_home;
    std::filesystem::path m_settings;
    std::filesystem::path m_telemetry;
    std::vector<std::filesystem::path> m_searchPaths;
    Clock m_clock;
};

} // namespace korvo

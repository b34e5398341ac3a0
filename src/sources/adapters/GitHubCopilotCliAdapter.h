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

// Reads the token-usage metrics that the GitHub Copilot CLI exports to a local OpenTelemetry
// file: the file named by COPILOT_OTEL_FILE_EXPORTER_PATH and two default places. Reports token
// counts only; remaining premium requests are an account figure no local file holds. The CLI's
// configuration folder, probed for presence only, is $COPILOT_HOME when set, else ~/.copilot.
class GitHubCopilotCliAdapter final : public LocalToolAdapter {
public:
    // An exporter file to probe and the label shown beside it.
    struct ExporterCandidate {
        std::filesystem::path file;
        std::string label;
        friend bool operator==(const ExporterCandidate&, const ExporterCandidate&) = default;
    };

    GitHubCopilotCliAdapter(std::filesystem::path home,
                            std::vector<std::filesystem::path> searchPaths,
                            Environment environment = processEnvironment(),
                            std::optional<std::filesystem::path> explicitOTelFile = std::nullopt,
                            Clock clock = systemClock());

    // The explicit file, the environment's file, then the two defaults; a path seen before
    // (after resolving "." and "..") is dropped, so the first label wins.
    std::vector<ExporterCandidate> exporterCandidates() const;
    // The token metrics of every existing candidate file, added up; nothing when none.
    std::optional<SanitizedUsageCandidate> readExporterFiles() const;

private:
    AdapterDiagnostic inspect() const override;
    UsageReading read() const override;

    std::filesystem::path m_config;
    Environment m_environment;
    std::optional<std::filesystem::path> m_explicitOTelFile;
};

} // namespace korvo

#pragma once

#include "model/Clock.h"
#include "sources/adapters/CopilotSessions.h"
#include "sources/adapters/LocalToolAdapter.h"
#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/io/Environment.h"
#include "sources/io/SurveyCache.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// Reads the token-usage metrics that the GitHub Copilot CLI exports to a local OpenTelemetry
// file (the file named by COPILOT_OTEL_FILE_EXPORTER_PATH and two default places) and, with no
// setting at all, the figures the CLI itself appends to each session's
// <config>/session-state/<id>/events.jsonl when the session ends: the newest session's tokens and
// the premium requests (or AI credits) used this calendar month. The exporter's tokens win when
// it has any, as it counts every request as it is made, running sessions included; the month's
// premium requests, which no exporter file holds, come from the sessions either way. Remaining
// premium requests are an account figure no local file holds. The CLI's configuration folder is
// $COPILOT_HOME when set, else ~/.copilot.
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

    // What the session-state folder gives: the tokens of the newest session that ended at least
    // once, and the premium requests or AI credits of this calendar month (UTC, as GitHub counts
    // them) in the remaining text.
    struct SessionUsage {
        std::size_t sessionCount = 0; // events.jsonl files, counted up to a limit
        bool anyShutdown = false;     // a session has ended at least once
        std::optional<SanitizedUsageCandidate> candidate;
    };
    SessionUsage readSessions(std::size_t countLimit) const;

private:
    AdapterDiagnostic inspect() const override;
    UsageReading read() const override;

    std::filesystem::path config_;
    std::filesystem::path sessionState_;
    Environment environment_;
    std::optional<std::filesystem::path> explicitOTelFile_;
    std::shared_ptr<SurveyCache> sessionsSurvey_;
    std::shared_ptr<CopilotSessions> sessions_;
};

} // namespace korvo

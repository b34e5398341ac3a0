#pragma once

#include "model/Clock.h"
#include "sources/adapters/LocalToolAdapter.h"
#include "sources/adapters/TranscriptTotals.h"
#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/io/Environment.h"
#include "sources/io/SurveyCache.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace korvo {

// Claude Code: limit percentages from the status-line bridge file that a hook of the user's
// configuration writes, then the tool's usage-status file, then the token totals of the newest
// project conversation: its main transcript and the transcripts of the subagents it spawned. Only
// sanitized fields leave this class. Copies share one TranscriptTotals, which keeps what was read
// of each transcript between calls, and one survey of the projects folder.
class ClaudeCodeAdapter final : public LocalToolAdapter {
public:
    /// The tool's own folder is $CLAUDE_CONFIG_DIR when set and non-empty, else ~/.claude; the
    /// bridge file always lives under the home directory.
    ClaudeCodeAdapter(std::filesystem::path home, std::vector<std::filesystem::path> searchPaths,
                      Clock clock = systemClock(),
                      const Environment& environment = processEnvironment());

    const std::filesystem::path& statusLineBridgePath() const { return statusLineBridge_; }
    const std::filesystem::path& usageStatusPath() const { return usageStatus_; }
    const std::filesystem::path& projectsPath() const { return projects_; }

private:
    struct Probe;
    Probe probe(bool forDiagnostic) const;
    // The token totals of one conversation: its main transcript and its subagents' transcripts
    // below the folder `subagents`, added up.
    std::optional<SanitizedUsageCandidate>
    conversationTotals(const std::filesystem::path& main,
                       const std::filesystem::path& subagents) const;
    AdapterDiagnostic inspect() const override;
    UsageReading read() const override;

    std::filesystem::path statusLineBridge_;
    std::filesystem::path usageStatus_;
    std::filesystem::path projects_;
    std::shared_ptr<TranscriptTotals> transcripts_;
    std::shared_ptr<SurveyCache> projectsSurvey_;
};

} // namespace korvo

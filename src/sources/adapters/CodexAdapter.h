#pragma once

#include "model/Clock.h"
#include "sources/adapters/CodexThreads.h"
#include "sources/adapters/LocalToolAdapter.h"
#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/io/Environment.h"
#include "sources/io/LogScan.h"
#include "sources/io/SurveyCache.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <simdjson.h>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// Codex CLI: both quota windows from the newest token-count event of the newest rollouts, kept
// or archived (the windows are the account's, whichever thread wrote them), and the token counts
// of the newest conversation: its main thread and the subagent threads it spawned, each a rollout
// of its own. The state database is only checked for presence; the credential file is never
// opened.
class CodexAdapter final : public LocalToolAdapter {
public:
    /// The tool's folder is $CODEX_HOME when set and non-empty, else ~/.codex.
    CodexAdapter(std::filesystem::path home, std::vector<std::filesystem::path> searchPaths,
                 Clock clock = systemClock(),
                 const Environment& environment = processEnvironment());

    const std::filesystem::path& sessionsPath() const { return sessions_; }
    const std::filesystem::path& archivedSessionsPath() const { return archived_; }
    const std::filesystem::path& statePath() const { return state_; }

    /// The candidate of one session log line read at `now`; `paddedLine` must be followed by
    /// kParsePadding readable bytes. Only the account's own quota counts: rate limits of another
    /// bucket (a model-specific one, or the empty "premium" marker) leave the quota fields unset.
    /// A window whose reset time lies before `now` counts as reset: 0 % used, no reset time.
    static std::optional<SanitizedUsageCandidate>
    sessionLineCandidate(simdjson::dom::parser& parser, std::string_view paddedLine, Instant now);

    /// Label of a window that only gives its length: "5h", "7d", "90m".
    static std::optional<std::string> windowLabelFromMinutes(double minutes);

private:
    AdapterDiagnostic inspect() const override;
    UsageReading read() const override;
    static LogLineOutcome readSessionLine(simdjson::dom::parser& parser,
                                          std::string_view paddedLine, Instant now);
    std::optional<SanitizedUsageCandidate>
    sessionCandidate(const std::vector<std::filesystem::path>& files, Instant now) const;
    // The newest rollouts of both folders, newest first, and how many each folder holds (counted
    // up to `countLimit`).
    struct Rollouts {
        std::vector<std::filesystem::path> recent;
        std::size_t sessionCount = 0;
        std::size_t archivedCount = 0;
    };
    Rollouts rollouts(std::size_t countLimit, std::size_t recentLimit) const;

    std::filesystem::path sessions_;
    std::filesystem::path archived_;
    std::filesystem::path state_;
    std::shared_ptr<SurveyCache> sessionsSurvey_;
    std::shared_ptr<SurveyCache> archivedSurvey_;
    std::shared_ptr<CodexThreads> threads_;
};

} // namespace korvo

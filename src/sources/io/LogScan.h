#pragma once

// The scan that the log-reading adapters share: the tails of the newest log files, one parsed
// line at a time, keeping the newest dated quota sample and the newest dated token sample.

#include "model/Instant.h"
#include "sources/fields/SanitizedUsageCandidate.h"

#include <filesystem>
#include <optional>
#include <simdjson.h>
#include <string_view>
#include <vector>

namespace korvo {

/// What one log line gave.
struct LogLineOutcome {
    std::optional<SanitizedUsageCandidate> candidate;
    /// The line is not valid UTF-8; the whole file then counts as unreadable text.
    bool invalidText = false;
};

/// Reads one line at the collection time `now`. A reader takes useful fields only from keys that
/// keyCanMakeUseful accepts once normalized, so that lines without such a key can be passed over
/// unparsed.
using LogLineReader = LogLineOutcome (*)(simdjson::dom::parser& parser, std::string_view paddedLine,
                                         Instant now);

/// The newest quota sample and the newest token sample of some log lines, each chosen by
/// preferNewer: the quota fields (percentages, reset time, window label, remaining text, status)
/// of the newest line that has any, and the token fields (token counts, cost) of the newest line
/// that has any, each with its line's observation time.
struct LogSamples {
    std::optional<SanitizedUsageCandidate> limits;
    std::optional<SanitizedUsageCandidate> tokens;
    /// The lines passed over unparsed were not checked to be text yet (see logTailIsText).
    bool unchecked = false;

    bool operator==(const LogSamples&) const = default;

    /// Takes the quota and the token fields of one line's candidate.
    void add(const SanitizedUsageCandidate& line);
    /// Takes the samples of lines read after these.
    void add(const LogSamples& later);
    /// Both in one candidate, observed at the later of the two times; absent when neither is.
    std::optional<SanitizedUsageCandidate> merged() const;
};

/// The samples of the last `maxLines` lines of each file, one entry per file in the order given.
/// A file with a line that is not UTF-8 gives none, as if its tail had not been readable. The
/// lines passed over unparsed are checked only in a file that changes the newest samples of the
/// files before it; in another they are left unchecked (`unchecked` set), so that a caller checks
/// only the files whose samples it uses, with logTailIsText.
std::vector<LogSamples> newestLogSamples(const std::vector<std::filesystem::path>& files,
                                         std::size_t maxLines, simdjson::dom::parser& parser,
                                         LogLineReader readLine, Instant now);

/// Whether the last `maxLines` lines of `file` are valid UTF-8 (false when unreadable).
bool logTailIsText(const std::filesystem::path& file, std::size_t maxLines);

/// Over the last `maxLines` lines of each file, in file order: the quota fields (percentages,
/// reset time, window label, remaining text, status) of the newest line that has any, and the
/// token fields (token counts, cost) of the newest line that has any, each chosen by preferNewer,
/// so that a line with tokens but no quota never hides the last quota seen. The observation time
/// is the later of the two. A file holding invalid UTF-8 contributes nothing, as if its tail had
/// not been readable.
std::optional<SanitizedUsageCandidate>
newestLogCandidate(const std::vector<std::filesystem::path>& files, std::size_t maxLines,
                   simdjson::dom::parser& parser, LogLineReader readLine, Instant now);

/// Parses one padded line into `document`; an outcome with `invalidText` set when the bytes are
/// not UTF-8. Returns false when the line gives nothing.
bool parseLogLine(simdjson::dom::parser& parser, std::string_view paddedLine,
                  simdjson::dom::element& document, LogLineOutcome& outcome);

} // namespace korvo

#pragma once

// The usage figures that the GitHub Copilot CLI appends to a session's events.jsonl when the
// session ends, kept between collections so that a file that grows is read only where it grew.

#include "model/Instant.h"
#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/io/ReadPoint.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <simdjson.h>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

/// Each session.shutdown event covers the segment of the session since it was started or resumed;
/// the events of one file add up. The schema is not documented: every field is optional.
struct CopilotShutdown {
    std::optional<Instant> at;
    SanitizedUsageCandidate tokens; // input without the cache, output, cached input
    std::optional<double> premiumRequests;
    std::optional<double> nanoAiu; // the AI credits of newer builds, in billionths

    bool operator==(const CopilotShutdown&) const = default;
};

/// Safe to use from several threads; calls are serialised.
class CopilotSessions {
public:
    explicit CopilotSessions(std::uintmax_t readLimit = kReadLimit) : readLimit_(readLimit) {}

    /// The shutdown events of `file` now, in file order; empty when it has none or cannot be
    /// read. A file longer than the read limit on its first read (or grown by more since) gives
    /// the events of its last `readLimit` bytes only. A file replaced, shrunk or rewritten before
    /// the point read is read again from its start.
    std::vector<CopilotShutdown> read(const std::filesystem::path& file);

    /// The shutdown event of one line, when it is one; `paddedLine` must be followed by
    /// kParsePadding readable bytes.
    static std::optional<CopilotShutdown> shutdownOfLine(simdjson::dom::parser& parser,
                                                         std::string_view paddedLine);

    static constexpr std::uintmax_t kReadLimit = 16ull * 1024 * 1024;
    static constexpr std::size_t kChunkBytes = 128 * 1024;
    static constexpr std::size_t kKeptFiles = 128;

private:
    struct FileState {
        ReadPoint point;
        std::uint64_t lastUse = 0;
        std::vector<CopilotShutdown> shutdowns;
    };
    // Adds the shutdown events of the range's complete lines; the offset after the last one.
    std::uintmax_t readLines(int fd, FileState& state, const AppendedRange& range);

    std::uintmax_t readLimit_;
    std::mutex mutex_;
    simdjson::dom::parser parser_;
    std::uint64_t uses_ = 0;
    std::map<std::filesystem::path, FileState> files_;
};

} // namespace korvo

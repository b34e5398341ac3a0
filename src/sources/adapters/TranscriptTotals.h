#pragma once

// The token totals of Claude Code conversation transcripts, kept between collections so that a
// transcript that grows is read only where it grew.

#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/io/ReadPoint.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <simdjson.h>
#include <string>
#include <string_view>
#include <unordered_map>

namespace korvo {

/// Largest part of a transcript read in one call: a file that is longer on its first read (or has
/// grown by more since the last one) is summed over its last this many bytes only, from the first
/// line that starts within them.
inline constexpr std::uintmax_t kTranscriptReadLimit = 32ull * 1024 * 1024;

// A transcript holds one line per content block of each API message; the lines of one message
// share `message.id` and repeat its `usage`, so each message counts once, with the usage of its
// last line. Lines that Claude Code adds after an API error (model "<synthetic>", or
// isApiErrorMessage true) count for nothing. Of each file the object remembers its identity
// (device and inode), how far it was read, a few bytes before that point and the running totals;
// a later call reads only complete lines appended since, and starts over when the file was
// replaced, shrank or was rewritten before that point. A file with bytes that are not UTF-8 gives
// nothing. Safe to use from several threads; calls are serialised.
class TranscriptTotals {
public:
    explicit TranscriptTotals(std::uintmax_t readLimit = kTranscriptReadLimit)
        : readLimit_(readLimit) {}

    /// The totals of `file` now: input, output and cached input tokens (cache creation and cache
    /// reads) summed over its API messages, cost when lines carry one, and the time of the newest
    /// counted line. A transcript without API messages gives the newest dated candidate of its
    /// other lines, found by the generic extraction. Absent when the file gives nothing. Running
    /// out of memory forgets the file and rethrows std::bad_alloc.
    std::optional<SanitizedUsageCandidate> read(const std::filesystem::path& file);

    /// Bytes read at a time; a longer line is read whole.
    static constexpr std::size_t kChunkBytes = 128 * 1024;
    /// Files whose state is kept at most; the least recently read is dropped beyond that.
    static constexpr std::size_t kKeptFiles = 128;
    /// Message ids remembered per file; the oldest is forgotten beyond that (a message's lines
    /// follow one another, so only a very old one could come back).
    static constexpr std::size_t kKeptMessages = 65'536;

private:
    struct Usage {
        double input = 0;
        double output = 0;
        double cached = 0;
        double cost = 0;
    };
    struct FileState {
        ReadPoint point;
        std::uint64_t lastUse = 0;                         // for dropping the least recently read
        bool invalidText = false;                          // bytes that are not UTF-8 were met
        std::unordered_map<std::uint64_t, Usage> messages; // by hashed message id
        std::deque<std::uint64_t> messageOrder;            // ids in first-seen order
        std::uint64_t anonymous = 0; // lines with usage but no id, each its own message
        Usage sum;
        bool anyMessage = false;
        bool anyCost = false;
        std::optional<Instant> newest;                  // time of the newest counted line
        std::optional<SanitizedUsageCandidate> generic; // newest other candidate
    };

    // Consumes the lines of the range (the first one only from its line break when the range
    // starts inside it); the offset up to which it consumed them.
    std::uintmax_t readLines(int fd, FileState& state, const AppendedRange& range);
    void consume(FileState& state, std::string_view line);
    void forgetOldest(FileState& state);
    static std::optional<SanitizedUsageCandidate> result(const FileState& state);

    std::uintmax_t readLimit_;
    std::mutex mutex_;
    simdjson::dom::parser parser_;
    std::uint64_t uses_ = 0;
    std::map<std::filesystem::path, FileState> files_;
};

} // namespace korvo

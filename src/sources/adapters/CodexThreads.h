#pragma once

// Which thread a Codex rollout file records, and which thread spawned it, kept between
// collections: a rollout's first line never changes once written.

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

/// What a rollout's first line (its session_meta record) says about the thread.
struct CodexThread {
    std::string id;        // empty when the rollout names none
    std::string parentId;  // the thread that spawned this one; empty for a main thread
    bool subagent = false; // a subagent's thread: spawned, review, compaction and the like

    bool operator==(const CodexThread&) const = default;
};

/// Safe to use from several threads; calls are serialised.
class CodexThreads {
public:
    /// The thread of `rollout`; a default value when its first line is not a session_meta record
    /// (older rollouts, or a line longer than `lineLimit`).
    CodexThread identify(const std::filesystem::path& rollout, std::uintmax_t lineLimit);

    /// The rollout of thread `id` below one of `roots`: Codex names each rollout
    /// "rollout-<time>-<thread id>.jsonl". At most `entryLimit` folder entries are looked at.
    std::optional<std::filesystem::path>
    findRollout(std::string_view id, const std::vector<std::filesystem::path>& roots,
                std::size_t entryLimit);

    /// Entries kept of each kind; the whole memory is dropped beyond that.
    static constexpr std::size_t kKept = 256;

private:
    struct Known {
        std::uintmax_t device = 0;
        std::uintmax_t inode = 0;
        CodexThread thread;
    };

    std::mutex mutex_;
    simdjson::dom::parser parser_;
    std::map<std::filesystem::path, Known> known_;
    std::map<std::string, std::filesystem::path, std::less<>> rollouts_;
};

} // namespace korvo

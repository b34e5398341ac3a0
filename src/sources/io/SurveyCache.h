#pragma once

// A log folder's survey kept between calls. A call walks the tree as surveyFiles does, unless the
// previous call came less than kWholeWalkInterval before (a program that collects again and
// again): then the tree's folders are watched for changes (inotify, on Linux), and later calls
// re-read only the folders in which a file was written, touched, added, removed or renamed since
// the call before; any other change (a folder added or removed, the watch queue overflowing, the
// folder itself replaced) walks the tree whole again. The watch is drained at the start of a call
// and never waited on, so a quiet tree wakes nobody. The answer is always the one a whole walk
// would give: the newest files are taken from each folder's own newest, which a later write can
// only change by touching that folder.

#include "model/Clock.h"
#include "sources/io/FileReaders.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace korvo {

class WatchedTree;

class SurveyCache {
public:
    explicit SurveyCache(Clock clock = systemClock());
    ~SurveyCache();
    SurveyCache(const SurveyCache&) = delete;
    SurveyCache& operator=(const SurveyCache&) = delete;

    /// What surveyFiles(directory, selection, countLimit, recentLimit) answers now. Safe to call
    /// from several threads; calls are serialised.
    FileSurvey survey(const std::filesystem::path& directory, const FileSelection& selection,
                      std::size_t countLimit, std::size_t recentLimit);

    /// The tree is walked whole at least this often, so that a change the system does not report
    /// (a file on a network file system, or one written through a memory mapping) shows within
    /// this time. A tree that cannot be watched is tried again after the same time.
    static constexpr std::chrono::minutes kWholeWalkInterval{10};
    /// Folders watched at most; a larger tree is walked whole on every call.
    static constexpr std::size_t kMaxWatchedFolders = 4096;

    /// Whether the tree is being watched now (for tests and measurements).
    bool watching() const;

private:
    mutable std::mutex mutex_;
    Clock clock_;
    std::optional<Instant> lastSurvey_;
    std::optional<Instant> failedAt_; // when the tree could last not be watched
    std::unique_ptr<WatchedTree> tree_;
};

} // namespace korvo

#include "sources/io/SurveyCache.h"

#include "sources/io/FileDescriptor.h"
#include "sources/io/FolderListing.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#if defined(__linux__)
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#endif

namespace korvo {

#if defined(__linux__)

namespace {

// File systems on which a change made on this machine is always reported to a watch. A network
// file system is not among them: a change made on another machine is never reported.
bool reportsEveryChange(int fd) {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(info.f_type)) {
    case EXT4_SUPER_MAGIC: // also ext2 and ext3
    case BTRFS_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case 0x2fc12fc1UL: // zfs
    case 0xca451a4eUL: // bcachefs
        return true;
    default:
        return false;
    }
}

// What a watch on a folder reports: its files written, touched, added, removed or renamed, and the
// folder itself removed or renamed.
constexpr std::uint32_t kWatchedEvents = IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                         IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                         IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
// Events after which the folders' list is no longer known: the tree is walked whole again.
constexpr std::uint32_t kTreeChanged =
    IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_ISDIR;

struct Recent {
    std::string name;
    FileTime time;
    std::size_t order; // place in the folder's listing
};

struct Folder {
    std::size_t parent = 0;
    std::string name; // empty for the root
    std::string path; // written as the walk writes it
    int depth = 0;
    std::size_t fileCount = 0;
    std::vector<Recent> recent;        // the folder's newest files, newest first
    std::vector<std::string> children; // subfolders listed, in order
    bool changed = false;
};

} // namespace

// The tree as last read: folders in the order the walk meets them (a folder before its
// subfolders, subfolders in listing order), each with its file count and its own newest files.
class WatchedTree {
public:
    WatchedTree(std::string root, const FileSelection& wanted, std::size_t keep, Instant now)
        : root_(std::move(root)), wanted_(wanted), keep_(keep), walkedAt_(now) {}

    const std::string& root() const { return root_; }
    const FileSelection& wanted() const { return wanted_; }
    std::size_t keep() const { return keep_; }
    Instant walkedAt() const { return walkedAt_; }

    // Walks the whole tree, watching each folder before listing it so that no change made while
    // walking goes unreported. Returns whether every folder is watched; the survey it gives is
    // whole either way.
    bool walkWatched() {
        const FileDescriptor rootFd(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!rootFd.valid()) {
            return false;
        }
        struct stat info {};
        if (::fstat(rootFd.get(), &info) != 0) {
            return false;
        }
        rootDevice_ = info.st_dev;
        rootInode_ = info.st_ino;
        watchable_ = reportsEveryChange(rootFd.get());
        if (watchable_) {
            notify_ = std::make_unique<FileDescriptor>(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
            watchable_ = notify_->valid();
        }
        Folder root;
        root.path = root_;
        folders_.push_back(std::move(root));
        walk(rootFd.get(), 0);
        if (!watchable_) {
            notify_.reset();
        }
        return watchable_;
    }

    // Brings the tree up to date with the changes reported since the last call. False when it
    // must be walked whole again instead.
    bool update() {
        struct stat info {};
        // The root may be a link: one pointed elsewhere is a different tree.
        if (::stat(root_.c_str(), &info) != 0 || info.st_dev != rootDevice_ ||
            info.st_ino != rootInode_) {
            return false;
        }
        if (!readEvents()) {
            return false;
        }
        for (std::size_t index = 0; index < folders_.size(); ++index) {
            if (!folders_[index].changed) {
                continue;
            }
            folders_[index].changed = false;
            const FileDescriptor fd(openFolder(index));
            if (!fd.valid()) {
                return false;
            }
            const std::vector<std::string> children = folders_[index].children;
            list(fd.get(), index);
            // Subfolders come and go with a reported event; a difference means one was missed.
            if (folders_[index].children != children) {
                return false;
            }
        }
        return true;
    }

    FileSurvey answer(std::size_t countLimit, std::size_t recentLimit) const {
        struct Candidate {
            const Recent* file;
            std::size_t folder;
        };
        std::vector<Candidate> candidates;
        std::size_t total = 0;
        for (std::size_t index = 0; index < folders_.size(); ++index) {
            total += folders_[index].fileCount;
            for (const Recent& file : folders_[index].recent) {
                candidates.push_back({&file, index});
            }
        }
        // Ties keep the walk's order: a folder's files before those of folders met after it.
        const auto newer = [](const Candidate& a, const Candidate& b) {
            if (a.file->time != b.file->time) {
                return a.file->time > b.file->time;
            }
            if (a.folder != b.folder) {
                return a.folder < b.folder;
            }
            return a.file->order < b.file->order;
        };
        const std::size_t count = std::min(recentLimit, candidates.size());
        std::partial_sort(candidates.begin(),
                          candidates.begin() + static_cast<std::ptrdiff_t>(count), candidates.end(),
                          newer);
        FileSurvey survey;
        survey.count = std::min(total, std::max<std::size_t>(countLimit, 1));
        survey.recent.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            std::string path = folders_[candidates[i].folder].path;
            appendPathName(path, candidates[i].file->name, 0, candidates[i].file->name.size());
            survey.recent.emplace_back(std::move(path));
        }
        return survey;
    }

private:
    void walk(int fd, std::size_t index) {
        if (watchable_ && !watch(index)) {
            watchable_ = false;
            notify_.reset();
        }
        list(fd, index);
        const std::vector<std::string> children = folders_[index].children;
        for (const std::string& name : children) {
            const int childFd = openSubfolder(fd, name.c_str());
            if (childFd < 0) {
                continue;
            }
            Folder child;
            child.parent = index;
            child.name = name;
            child.path = folders_[index].path;
            child.depth = folders_[index].depth + 1;
            appendPathName(child.path, name, 0, name.size());
            folders_.push_back(std::move(child));
            walk(childFd, folders_.size() - 1);
            ::close(childFd);
        }
    }

    bool watch(std::size_t index) {
        if (folders_.size() > SurveyCache::kMaxWatchedFolders) {
            return false;
        }
        // The root is followed when it is a link, as the walk follows it; subfolders never are.
        const std::uint32_t follow = index == 0 ? 0 : IN_DONT_FOLLOW;
        const int wd = ::inotify_add_watch(notify_->get(), folders_[index].path.c_str(),
                                           kWatchedEvents | follow);
        if (wd < 0) {
            return false;
        }
        byWatch_[wd].push_back(index);
        return true;
    }

    // Reads the folder's files and subfolders afresh, keeping its newest `keep_` files.
    void list(int fd, std::size_t index) {
        Folder& folder = folders_[index];
        folder.fileCount = 0;
        folder.recent.clear();
        folder.children.clear();
        std::size_t order = 0;
        listFolder(
            fd, buffer_, wanted_,
            [&](const char* name) {
                if (folder.depth < kMaxWalkDepth) {
                    folder.children.emplace_back(name);
                }
                return true;
            },
            [&](const char* name, const struct stat* known) {
                ++folder.fileCount;
                const FileTime time = modificationTime(fd, name, known);
                const std::size_t place = order++;
                // A later file ranks after earlier ones of the same time.
                if (folder.recent.size() == keep_ && !(time > folder.recent.back().time)) {
                    return true;
                }
                const auto at = std::find_if(folder.recent.begin(), folder.recent.end(),
                                             [&](const Recent& r) { return time > r.time; });
                folder.recent.insert(at, {name, time, place});
                if (folder.recent.size() > keep_) {
                    folder.recent.pop_back();
                }
                return true;
            });
    }

    // Opens the folder the way the walk reached it: from the root, one subfolder at a time,
    // never through a link.
    int openFolder(std::size_t index) const {
        std::vector<const std::string*> route;
        for (std::size_t at = index; at != 0; at = folders_[at].parent) {
            route.push_back(&folders_[at].name);
        }
        int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (auto name = route.rbegin(); name != route.rend() && fd >= 0; ++name) {
            const int next = openSubfolder(fd, (*name)->c_str());
            ::close(fd);
            fd = next;
        }
        return fd;
    }

    // Marks the folders in which something changed. False when the tree itself changed.
    bool readEvents() {
        alignas(inotify_event) char buffer[16 * 1024];
        for (;;) {
            const ssize_t got = ::read(notify_->get(), buffer, sizeof buffer);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            if (got == 0) {
                return true;
            }
            for (ssize_t offset = 0; offset < got;) {
                inotify_event event;
                std::memcpy(&event, buffer + offset, sizeof event);
                offset += static_cast<ssize_t>(sizeof event + event.len);
                if ((event.mask & kTreeChanged) != 0) {
                    return false;
                }
                const auto folders = byWatch_.find(event.wd);
                if (folders == byWatch_.end()) {
                    return false;
                }
                for (const std::size_t index : folders->second) {
                    folders_[index].changed = true;
                }
            }
        }
    }

    const std::string root_;
    const FileSelection wanted_;
    const std::size_t keep_;
    const Instant walkedAt_;
    dev_t rootDevice_ = 0;
    ino_t rootInode_ = 0;
    bool watchable_ = false;
    std::unique_ptr<FileDescriptor> notify_;
    std::vector<Folder> folders_;
    std::unordered_map<int, std::vector<std::size_t>> byWatch_;
    std::vector<char> buffer_;
};

#else

// Other systems walk the tree on every call.
class WatchedTree {};

#endif

SurveyCache::SurveyCache(Clock clock) : clock_(std::move(clock)) {}

SurveyCache::~SurveyCache() = default;

bool SurveyCache::watching() const {
    const std::lock_guard lock(mutex_);
    return tree_ != nullptr;
}

FileSurvey SurveyCache::survey(const std::filesystem::path& directory,
                               const FileSelection& selection, std::size_t countLimit,
                               std::size_t recentLimit) {
    const std::lock_guard lock(mutex_);
#if defined(__linux__)
    const Instant now = clock_();
    // Whether `since` lies less than kWholeWalkInterval before now; a clock set back makes it not.
    const auto recent = [&](std::optional<Instant> since) {
        return since && now >= *since && now - *since < kWholeWalkInterval;
    };
    if (tree_ && (tree_->root() != directory.native() || tree_->wanted() != selection ||
                  tree_->keep() < recentLimit || !recent(tree_->walkedAt()) || !tree_->update())) {
        tree_.reset();
    }
    const bool surveyedRecently = recent(lastSurvey_);
    lastSurvey_ = now;
    if (tree_) {
        return tree_->answer(countLimit, recentLimit);
    }
    // Only a tree surveyed again within the interval is watched: a one-off command sets nothing
    // up, nor do surveys hours apart (diagnostics at start and after a wake), nor a count alone.
    if (!surveyedRecently || recentLimit == 0 || recent(failedAt_)) {
        return surveyFiles(directory, selection, countLimit, recentLimit);
    }
    auto tree = std::make_unique<WatchedTree>(directory.native(), selection, recentLimit, now);
    const bool watched = tree->walkWatched();
    FileSurvey survey = tree->answer(countLimit, recentLimit);
    if (watched) {
        failedAt_.reset();
        tree_ = std::move(tree);
    } else {
        failedAt_ = now;
    }
    return survey;
#else
    (void)clock_;
    (void)lastSurvey_;
    (void)failedAt_;
    return surveyFiles(directory, selection, countLimit, recentLimit);
#endif
}

} // namespace korvo

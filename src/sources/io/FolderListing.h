#pragma once

// One folder of a log-folder walk, read the way every walk reads it: the entries in the order the
// system lists them, sorted into subfolders (never links) and regular files with a wanted
// extension. The one-off walk and the watched survey both list folders through here, so that
// they see a tree the same way.

#include "sources/io/FileSelection.h"

#include <cerrno>
#include <cstddef>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvo {

/// Deeper folders than this are not walked; the tools' own trees are a few levels deep.
inline constexpr int kMaxWalkDepth = 64;

/// A file's modification time. A file whose time cannot be read sorts as the oldest.
struct FileTime {
    long long seconds = std::numeric_limits<long long>::min();
    long nanoseconds = 0;

    friend auto operator<=>(const FileTime&, const FileTime&) = default;
};

/// True when `name` has an extension (not a leading dot alone) whose lower-cased form is in
/// `wanted`.
bool hasWantedExtension(std::string_view name, const std::set<std::string, std::less<>>& wanted);

/// The modification time of `name` in the open directory `dirFd`, from `known` when the walk
/// already read the file's metadata.
FileTime modificationTime(int dirFd, const char* name, const struct stat* known);

/// Opens the subfolder `name` of the open directory `dirFd`, never through a link, so that a link
/// swapped in cannot lead out of the tree; -1 when it cannot.
inline int openSubfolder(int dirFd, const char* name) {
    return ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Calls `visit(name, type)` for every entry of the open directory `fd` but "." and "..", in the
// order the system lists them, until it returns false; `type` is a DT_* value, DT_UNKNOWN when
// the file system does not tell. The descriptor stays open and owned by the caller.
template <typename Visit> void forEachEntry(int fd, std::vector<char>& buffer, Visit&& visit) {
    const auto isDotOrDotDot = [](const char* name) {
        return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
    };
#if defined(__linux__)
    // Read straight from the descriptor: no stream object, no change of its flags.
    constexpr std::size_t kEntryBufferBytes = 64 * 1024;
    buffer.resize(kEntryBufferBytes);
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        for (ssize_t offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            if (!isDotOrDotDot(entry->d_name) &&
                !visit(static_cast<const char*>(entry->d_name), entry->d_type)) {
                return;
            }
        }
    }
#else
    (void)buffer;
    const int own = ::dup(fd);
    DIR* dir = own >= 0 ? ::fdopendir(own) : nullptr;
    if (dir == nullptr) {
        if (own >= 0) {
            ::close(own);
        }
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (!isDotOrDotDot(entry->d_name) &&
            !visit(static_cast<const char*>(entry->d_name), entry->d_type)) {
            break;
        }
    }
    ::closedir(dir);
#endif
}

// Lists the open directory `fd`: `onFolder(name)` for each subfolder, `onFile(name, known)` for
// each regular file that `wanted` takes (`known` is its metadata when the listing had to read
// it, else null), in the order the system lists them, until either returns false. Returns false
// when stopped.
template <typename OnFolder, typename OnFile>
bool listFolder(int fd, std::vector<char>& buffer, const FileSelection& wanted, OnFolder&& onFolder,
                OnFile&& onFile) {
    bool keepGoing = true;
    forEachEntry(fd, buffer, [&](const char* name, unsigned char type) {
        struct stat info {};
        const struct stat* known = nullptr;
        if (type == DT_UNKNOWN) {
            if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                return true;
            }
            known = &info;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR) {
            keepGoing = onFolder(name);
        } else if (type == DT_REG && wanted.takes(name)) {
            keepGoing = onFile(name, known);
        }
        return keepGoing;
    });
    return keepGoing;
}

/// `path` followed by "/" and the `size` bytes of `names` from `offset`; no second "/" when
/// `path` already ends with one.
inline void appendPathName(std::string& path, const std::string& names, std::size_t offset,
                           std::size_t size) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path.append(names, offset, size);
}

} // namespace korvo

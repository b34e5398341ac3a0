#include "sources/io/FileReaders.h"

#include "sources/io/FileDescriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {

static_assert(kParsePadding >= simdjson::SIMDJSON_PADDING,
              "buffers must satisfy the parser's padding");

namespace {

// O_NONBLOCK keeps a FIFO planted where a file is expected from blocking the open.
int openForReading(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// Reads up to `length` bytes from `offset`; returns how many were read, or -1 on an error.
long long readAt(int fd, char* buffer, std::size_t length, off_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(fd, buffer + done, length - done, offset + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

std::unique_ptr<char[]> paddedBuffer(std::size_t size) {
    std::unique_ptr<char[]> buffer(new char[size + kParsePadding]);
    std::memset(buffer.get() + size, 0, kParsePadding);
    return buffer;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool hasWantedExtension(std::string_view name, const std::set<std::string, std::less<>>& wanted) {
    const std::size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return false;
    }
    const std::string_view extension = name.substr(dot + 1);
    std::array<char, 16> lower;
    if (extension.size() > lower.size()) {
        std::string longer(extension);
        std::transform(longer.begin(), longer.end(), longer.begin(), asciiLower);
        return wanted.find(longer) != wanted.end();
    }
    std::transform(extension.begin(), extension.end(), lower.begin(), asciiLower);
    return wanted.find(std::string_view(lower.data(), extension.size())) != wanted.end();
}

// Deeper trees than this are not walked; the tools' own trees are a few levels deep.
constexpr int kMaxWalkDepth = 64;
// Directory entries are read this many bytes at a time.
constexpr std::size_t kEntryBufferBytes = 64 * 1024;

// Calls `visit(name, type)` for every entry of the open directory `fd` but "." and "..", in the
// order the system lists them, until it returns false; `type` is a DT_* value, DT_UNKNOWN when
// the file system does not tell. The descriptor stays open and owned by the caller.
template <typename Visit> void forEachEntry(int fd, std::vector<char>& buffer, Visit&& visit) {
    const auto isDotOrDotDot = [](const char* name) {
        return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
    };
#if defined(__linux__)
    // Read straight from the descriptor: no stream object, no change of its flags.
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

// One walk of a folder tree, depth first (a folder's files before its subfolders), links never
// followed. Folder and file names are kept once each; whole paths are made only for the files
// returned.
class TreeWalk {
public:
    TreeWalk(const std::set<std::string, std::less<>>& wanted, std::size_t countCap, bool wantTimes)
        : m_wanted(wanted), m_countCap(countCap), m_wantTimes(wantTimes) {}

    // Walks `root`, which may itself be a link to a directory.
    void run(const std::string& root) {
        const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        m_root = root;
        m_folders.push_back({0, 0, 0});
        walk(fd, 0, 0);
        ::close(fd);
    }

    std::size_t count() const { return m_count; }

    // Up to `limit` of the files found, newest first; equal times keep the walk's order.
    std::vector<std::filesystem::path> newest(std::size_t limit) {
        const std::size_t count = std::min(limit, m_found.size());
        const auto newer = [](const Found& a, const Found& b) {
            if (a.seconds != b.seconds) {
                return a.seconds > b.seconds;
            }
            if (a.nanoseconds != b.nanoseconds) {
                return a.nanoseconds > b.nanoseconds;
            }
            return a.index < b.index;
        };
        std::partial_sort(m_found.begin(), m_found.begin() + static_cast<std::ptrdiff_t>(count),
                          m_found.end(), newer);
        std::vector<std::filesystem::path> paths;
        paths.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            std::string path = folderPath(m_found[i].folder);
            appendName(path, m_found[i].nameOffset, m_found[i].nameSize);
            paths.emplace_back(std::move(path));
        }
        return paths;
    }

private:
    struct Folder {
        std::size_t parent;
        std::size_t nameOffset;
        std::size_t nameSize;
    };
    struct Found {
        long long seconds;
        long nanoseconds;
        std::size_t index; // order of discovery
        std::size_t folder;
        std::size_t nameOffset;
        std::size_t nameSize;
    };

    // Keeps `name` with its terminating zero; returns its offset.
    std::size_t keepName(const char* name, std::size_t size) {
        const std::size_t offset = m_names.size();
        m_names.append(name, size + 1);
        return offset;
    }

    void appendName(std::string& path, std::size_t offset, std::size_t size) const {
        if (path.empty() || path.back() != '/') {
            path += '/';
        }
        path.append(m_names, offset, size);
    }

    std::string folderPath(std::size_t folder) const {
        if (folder == 0) {
            return m_root;
        }
        const Folder& f = m_folders[folder];
        std::string path = folderPath(f.parent);
        appendName(path, f.nameOffset, f.nameSize);
        return path;
    }

    // A regular file with a wanted extension; `info` is its metadata when already read.
    // Returns false to stop the walk.
    bool onFile(int dirFd, std::size_t folder, const char* name, const struct stat* info) {
        if (m_count < m_countCap) {
            ++m_count;
        }
        if (!m_wantTimes) {
            return m_count < m_countCap;
        }
        // A file whose time cannot be read sorts as the oldest.
        long long seconds = std::numeric_limits<long long>::min();
        long nanoseconds = 0;
        struct stat own {};
        if (info == nullptr && ::fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) == 0) {
            info = &own;
        }
        if (info != nullptr) {
            seconds = static_cast<long long>(info->st_mtim.tv_sec);
            nanoseconds = info->st_mtim.tv_nsec;
        }
        const std::size_t size = std::strlen(name);
        m_found.push_back(
            {seconds, nanoseconds, m_found.size(), folder, keepName(name, size), size});
        return true;
    }

    // Walks the open directory `fd` (left open for the caller to close), the folder `folder`.
    // Subdirectories are opened relative to it and never through a link, so a link swapped in
    // cannot lead elsewhere.
    bool walk(int fd, std::size_t folder, int depth) {
        const std::size_t firstChild = m_folders.size();
        bool keepGoing = true;
        forEachEntry(fd, m_buffer, [&](const char* name, unsigned char type) {
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
                if (depth < kMaxWalkDepth) {
                    const std::size_t size = std::strlen(name);
                    m_folders.push_back({folder, keepName(name, size), size});
                }
            } else if (type == DT_REG && hasWantedExtension(name, m_wanted)) {
                keepGoing = onFile(fd, folder, name, known);
            }
            return keepGoing;
        });
        // The directory stays open while its children are walked: at most kMaxWalkDepth at once.
        const std::size_t endChild = m_folders.size();
        for (std::size_t child = firstChild; child < endChild && keepGoing; ++child) {
            const int childFd = ::openat(fd, m_names.c_str() + m_folders[child].nameOffset,
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (childFd < 0) {
                continue;
            }
            keepGoing = walk(childFd, child, depth + 1);
            ::close(childFd);
        }
        return keepGoing;
    }

    const std::set<std::string, std::less<>>& m_wanted;
    const std::size_t m_countCap;
    const bool m_wantTimes;
    std::string m_root;
    std::size_t m_count = 0;
    std::vector<Folder> m_folders; // the root first
    std::vector<Found> m_found;
    std::string m_names;
    std::vector<char> m_buffer;
};

} // namespace

std::optional<std::filesystem::path>
findExecutable(std::string_view name, const std::vector<std::filesystem::path>& directories) {
    if (name.empty()) {
        return std::nullopt;
    }
    const auto isExecutableFile = [](const std::filesystem::path& candidate) {
        struct stat info {};
        return ::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
               ::access(candidate.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string_view::npos) {
        std::filesystem::path candidate{std::string(name)};
        if (isExecutableFile(candidate)) {
            return candidate;
        }
        return std::nullopt;
    }
    for (const auto& directory : directories) {
        if (directory.empty()) {
            continue;
        }
        std::filesystem::path candidate = directory / std::string(name);
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::string displayPath(const std::filesystem::path& path, const std::filesystem::path& home) {
    const std::string& text = path.native();
    std::string_view prefix = home.native();
    while (prefix.size() > 1 && prefix.back() == '/') {
        prefix.remove_suffix(1);
    }
    // Only a whole leading component run counts: /home/ann is not inside /home/an.
    if (prefix.empty() || prefix == "/" || text.compare(0, prefix.size(), prefix) != 0) {
        return text;
    }
    if (text.size() == prefix.size()) {
        return "~";
    }
    if (text[prefix.size()] != '/') {
        return text;
    }
    return "~" + text.substr(prefix.size());
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path,
                                         std::uintmax_t maxBytes) {
    FileDescriptor fd(openForReading(path));
    if (!fd.valid()) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::uintmax_t>(info.st_size);
    if (size > maxBytes) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size) + kParsePadding);
    bytes.resize(static_cast<std::size_t>(size));
    const long long got = readAt(fd.get(), bytes.data(), bytes.size(), 0);
    if (got < 0) {
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

TailLines readTailLines(const std::filesystem::path& path, std::size_t maxLines, Utf8Check check) {
    TailLines result;
    std::unique_ptr<char[]> storage;
    std::size_t size = 0;
    bool startsInsideFile = false;

    FileDescriptor fd(openForReading(path));
    if (!fd.valid()) {
        std::optional<std::string> whole = readSmallFile(path, kWholeLogFileLimit);
        if (!whole) {
            return result;
        }
        size = whole->size();
        storage = paddedBuffer(size);
        std::memcpy(storage.get(), whole->data(), size);
    } else {
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
            return result;
        }
        const auto length = static_cast<std::uintmax_t>(info.st_size);
        std::uintmax_t start = length >= kTailWindowBytes ? length - kTailWindowBytes : 0;
        // One byte before the window tells whether its first line starts cleanly.
        if (start > 0) {
            --start;
            startsInsideFile = true;
        }
        const auto wanted = static_cast<std::size_t>(length - start);
        storage = paddedBuffer(wanted);
        const long long got = readAt(fd.get(), storage.get(), wanted, static_cast<off_t>(start));
        if (got <= 0) {
            return result;
        }
        size = static_cast<std::size_t>(got);
    }

    const char* begin = storage.get();
    const char* end = begin + size;
    if (startsInsideFile) {
        // The window's first line is a fragment (or, when the byte before the window is a line
        // break, that break itself); skipping it also keeps a character cut by the window's
        // start from invalidating the whole tail.
        const void* newline = std::memchr(begin, '\n', size);
        if (newline == nullptr) {
            return result;
        }
        begin = static_cast<const char*>(newline) + 1;
    }
    if (check == Utf8Check::wholeWindow &&
        !simdjson::validate_utf8(begin, static_cast<std::size_t>(end - begin))) {
        return result;
    }

    std::vector<std::string_view> lines;
    const char* lineEnd = end;
    while (lineEnd > begin && lines.size() < maxLines) {
        const void* previousBreak =
            ::memrchr(begin, '\n', static_cast<std::size_t>(lineEnd - begin));
        const char* cursor =
            previousBreak != nullptr ? static_cast<const char*>(previousBreak) + 1 : begin;
        if (cursor < lineEnd) {
            lines.emplace_back(cursor, static_cast<std::size_t>(lineEnd - cursor));
        }
        lineEnd = cursor > begin ? cursor - 1 : begin;
    }
    std::reverse(lines.begin(), lines.end());

    result.m_storage = std::move(storage);
    result.m_size = size;
    result.m_lines = std::move(lines);
    return result;
}

const std::set<std::string, std::less<>>& jsonlExtension() {
    static const std::set<std::string, std::less<>> extensions{"jsonl"};
    return extensions;
}

bool existsAsNonDirectory(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

FileSurvey surveyFiles(const std::filesystem::path& directory,
                       const std::set<std::string, std::less<>>& extensions, std::size_t countLimit,
                       std::size_t recentLimit) {
    TreeWalk walk(extensions, std::max<std::size_t>(countLimit, 1), recentLimit > 0);
    walk.run(directory.native());
    FileSurvey survey;
    survey.count = walk.count();
    survey.recent = walk.newest(recentLimit);
    return survey;
}

std::vector<std::filesystem::path> recentFiles(const std::filesystem::path& directory,
                                               const std::set<std::string, std::less<>>& extensions,
                                               std::size_t limit) {
    if (limit == 0) {
        return {};
    }
    return surveyFiles(directory, extensions, 1, limit).recent;
}

std::size_t countFiles(const std::filesystem::path& directory,
                       const std::set<std::string, std::less<>>& extensions, std::size_t limit) {
    return surveyFiles(directory, extensions, limit, 0).count;
}

} // namespace korvo

#include "sources/FileReaders.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {

static_assert(kParsePadding >= simdjson::SIMDJSON_PADDING,
              "buffers must satisfy the parser's padding");

namespace {

// Closes a descriptor when the reader leaves, whatever the path out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

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

bool hasWantedExtension(std::string_view name, const std::set<std::string, std::less<>>& wanted) {
    const std::size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return false;
    }
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return wanted.find(extension) != wanted.end();
}

// Deeper trees than this are not walked; the tools' own trees are a few levels deep.
constexpr int kMaxWalkDepth = 64;

// Called during a walk (depth first, links never followed) for every regular file whose
// extension is wanted, with the open directory's descriptor and the entry's name; returns false
// to stop the walk.
using FileVisitor = std::function<bool(int dirFd, const std::string& directory, const char* name)>;

// Walks the open directory `fd` (taking ownership of it), named `directory`. Subdirectories are
// opened relative to it and never through a link, so a link swapped in cannot lead elsewhere.
bool walkDirectory(int fd, const std::string& directory,
                   const std::set<std::string, std::less<>>& wanted, const FileVisitor& onFile,
                   int depth) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return true;
    }
    std::vector<std::string> subdirectories;
    bool keepGoing = true;
    while (keepGoing) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR) {
            if (depth < kMaxWalkDepth) {
                subdirectories.emplace_back(name);
            }
        } else if (type == DT_REG && hasWantedExtension(name, wanted)) {
            keepGoing = onFile(fd, directory, name);
        }
    }
    // The directory stays open while its children are walked: at most kMaxWalkDepth at once.
    for (const std::string& sub : subdirectories) {
        if (!keepGoing) {
            break;
        }
        const int childFd =
            ::openat(fd, sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (childFd < 0) {
            continue;
        }
        std::string child = directory;
        if (child.empty() || child.back() != '/') {
            child += '/';
        }
        child += sub;
        keepGoing = walkDirectory(childFd, child, wanted, onFile, depth + 1);
    }
    ::closedir(dir);
    return keepGoing;
}

// Walks `root`, which may itself be a link to a directory.
bool walkTree(const std::string& root, const std::set<std::string, std::less<>>& wanted,
              const FileVisitor& onFile) {
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    return walkDirectory(fd, root, wanted, onFile, 0);
}

bool isDirectory(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

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

bool existsAsNonDirectory(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

FileSurvey surveyFiles(const std::filesystem::path& directory,
                       const std::set<std::string, std::less<>>& extensions, std::size_t countLimit,
                       std::size_t recentLimit) {
    FileSurvey survey;
    if (!isDirectory(directory)) {
        return survey;
    }
    const std::size_t countCap = std::max<std::size_t>(countLimit, 1);
    struct Found {
        std::string path;
        long long seconds;
        long nanoseconds;
    };
    std::vector<Found> found;
    walkTree(directory.native(), extensions,
             [&](int dirFd, const std::string& parent, const char* name) {
                 if (survey.count < countCap) {
                     ++survey.count;
                 }
                 if (recentLimit == 0) {
                     return survey.count < countCap;
                 }
                 struct stat info {};
                 // A file whose time cannot be read sorts as the oldest.
                 long long seconds = std::numeric_limits<long long>::min();
                 long nanoseconds = 0;
                 if (::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
                     seconds = static_cast<long long>(info.st_mtim.tv_sec);
                     nanoseconds = info.st_mtim.tv_nsec;
                 }
                 std::string full = parent;
                 if (full.empty() || full.back() != '/') {
                     full += '/';
                 }
                 full += name;
                 found.push_back({std::move(full), seconds, nanoseconds});
                 return true;
             });
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.seconds != b.seconds ? a.seconds > b.seconds : a.nanoseconds > b.nanoseconds;
    });
    const std::size_t count = std::min(recentLimit, found.size());
    survey.recent.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        survey.recent.emplace_back(std::move(found[i].path));
    }
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

#include "sources/io/FileReaders.h"

#include "sources/io/FileDescriptor.h"
#include "sources/io/FolderListing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// One walk of a folder tree, depth first (a folder's files before its subfolders), links never
// followed. Folder and file names are kept once each; whole paths are made only for the files
// returned.
class TreeWalk {
public:
    TreeWalk(const FileSelection& wanted, std::size_t countCap, bool wantTimes)
        : wanted_(wanted), countCap_(countCap), wantTimes_(wantTimes) {}

    // Walks `root`, which may itself be a link to a directory.
    void run(const std::string& root) {
        const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        root_ = root;
        folders_.push_back({0, 0, 0});
        walk(fd, 0, 0);
        ::close(fd);
    }

    std::size_t count() const { return count_; }

    // Up to `limit` of the files found, newest first; equal times keep the walk's order.
    std::vector<std::filesystem::path> newest(std::size_t limit) {
        const std::size_t count = std::min(limit, found_.size());
        const auto newer = [](const Found& a, const Found& b) {
            if (a.time != b.time) {
                return a.time > b.time;
            }
            return a.index < b.index;
        };
        std::partial_sort(found_.begin(), found_.begin() + static_cast<std::ptrdiff_t>(count),
                          found_.end(), newer);
        std::vector<std::filesystem::path> paths;
        paths.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            std::string path = folderPath(found_[i].folder);
            appendPathName(path, names_, found_[i].nameOffset, found_[i].nameSize);
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
        FileTime time;
        std::size_t index; // order of discovery
        std::size_t folder;
        std::size_t nameOffset;
        std::size_t nameSize;
    };

    // Keeps `name` with its terminating zero; returns its offset.
    std::size_t keepName(const char* name, std::size_t size) {
        const std::size_t offset = names_.size();
        names_.append(name, size + 1);
        return offset;
    }

    std::string folderPath(std::size_t folder) const {
        if (folder == 0) {
            return root_;
        }
        const Folder& f = folders_[folder];
        std::string path = folderPath(f.parent);
        appendPathName(path, names_, f.nameOffset, f.nameSize);
        return path;
    }

    // A regular file with a wanted extension; `info` is its metadata when already read.
    // Returns false to stop the walk.
    bool onFile(int dirFd, std::size_t folder, const char* name, const struct stat* info) {
        if (count_ < countCap_) {
            ++count_;
        }
        if (!wantTimes_) {
            return count_ < countCap_;
        }
        const FileTime time = modificationTime(dirFd, name, info);
        const std::size_t size = std::strlen(name);
        found_.push_back({time, found_.size(), folder, keepName(name, size), size});
        return true;
    }

    // Walks the open directory `fd` (left open for the caller to close), the folder `folder`.
    // Subdirectories are opened relative to it and never through a link, so a link swapped in
    // cannot lead elsewhere.
    bool walk(int fd, std::size_t folder, int depth) {
        const std::size_t firstChild = folders_.size();
        bool keepGoing = listFolder(
            fd, buffer_, wanted_,
            [&](const char* name) {
                if (depth < kMaxWalkDepth) {
                    const std::size_t size = std::strlen(name);
                    folders_.push_back({folder, keepName(name, size), size});
                }
                return true;
            },
            [&](const char* name, const struct stat* known) {
                return onFile(fd, folder, name, known);
            });
        // The directory stays open while its children are walked: at most kMaxWalkDepth at once.
        const std::size_t endChild = folders_.size();
        for (std::size_t child = firstChild; child < endChild && keepGoing; ++child) {
            const int childFd = openSubfolder(fd, names_.c_str() + folders_[child].nameOffset);
            if (childFd < 0) {
                continue;
            }
            keepGoing = walk(childFd, child, depth + 1);
            ::close(childFd);
        }
        return keepGoing;
    }

    const FileSelection& wanted_;
    const std::size_t countCap_;
    const bool wantTimes_;
    std::string root_;
    std::size_t count_ = 0;
    std::vector<Folder> folders_; // the root first
    std::vector<Found> found_;
    std::string names_;
    std::vector<char> buffer_;
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

std::optional<std::string> readFirstLine(const std::filesystem::path& path,
                                         std::uintmax_t maxBytes) {
    FileDescriptor fd(openForReading(path));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < 0) {
        return std::nullopt;
    }
    const auto size = std::min(static_cast<std::uintmax_t>(info.st_size), maxBytes);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size) + kParsePadding);
    // Most first lines are short: read a little first, the rest only when no break came.
    std::size_t done = 0;
    for (std::size_t step = 16 * 1024; done < size; step *= 4) {
        const auto want = static_cast<std::size_t>(std::min<std::uintmax_t>(step, size - done));
        bytes.resize(done + want);
        const long long got = readAt(fd.get(), bytes.data() + done, want, static_cast<off_t>(done));
        if (got < 0) {
            return std::nullopt;
        }
        const auto* newline = static_cast<const char*>(
            std::memchr(bytes.data() + done, '\n', static_cast<std::size_t>(got)));
        done += static_cast<std::size_t>(got);
        if (newline != nullptr) {
            bytes.resize(static_cast<std::size_t>(newline - bytes.data()));
            return bytes;
        }
        if (static_cast<std::size_t>(got) < want) {
            break;
        }
    }
    bytes.resize(done);
    if (done < static_cast<std::uintmax_t>(info.st_size)) {
        return std::nullopt; // the line runs on past the bound
    }
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

    result.storage_ = std::move(storage);
    result.size_ = size;
    result.lines_ = std::move(lines);
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

FileSurvey surveyFiles(const std::filesystem::path& directory, const FileSelection& selection,
                       std::size_t countLimit, std::size_t recentLimit) {
    TreeWalk walk(selection, std::max<std::size_t>(countLimit, 1), recentLimit > 0);
    walk.run(directory.native());
    FileSurvey survey;
    survey.count = walk.count();
    survey.recent = walk.newest(recentLimit);
    return survey;
}

} // namespace korvo

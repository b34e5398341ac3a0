#pragma once

// How far a file that grows by whole lines (a transcript, a session's events) was read, so that
// the next read takes only the lines appended since.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace korvo {

// The part of a file to read now.
struct AppendedRange {
    std::uintmax_t start = 0;   // the file offset to read from
    std::uintmax_t end = 0;     // the file's size
    bool restarted = false;     // not where the last read stopped: what was kept of it is void
    bool skipFirstLine = false; // the range starts inside a line
};

struct ReadPoint {
    std::uintmax_t device = 0;
    std::uintmax_t inode = 0;
    std::uintmax_t offset = 0; // bytes consumed: complete lines only
    std::string before;        // the last bytes before `offset`

    // Bytes before the read point compared on the next read: a file rewritten in place differs
    // there.
    static constexpr std::size_t kCheckedBytes = 64;

    // Where to read the regular file `fd` (`info` its status) from now: from this point when it
    // is the file read before, not shorter, unchanged just before the point, and grown by at
    // most `readLimit`. Otherwise the point moves to the file's start, or to its last
    // `readLimit` bytes from the first line that starts within them, and the range says it
    // restarted.
    AppendedRange resume(int fd, const struct stat& info, std::uintmax_t readLimit);

    // Moves the point to `to`, remembering the bytes before it.
    void advance(int fd, std::uintmax_t to);
};

// Reads up to `size` bytes at `offset` of `fd`; the count read.
std::size_t readAt(int fd, char* out, std::size_t size, std::uintmax_t offset);

// Drops the least recently read entries of `files` (a map whose values have `lastUse`) beyond
// `kept`.
template <class Files> void forgetLeastRecentlyRead(Files& files, std::size_t kept) {
    while (files.size() > kept) {
        auto oldest = files.begin();
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (it->second.lastUse < oldest->second.lastUse) {
                oldest = it;
            }
        }
        files.erase(oldest);
    }
}

} // namespace korvo

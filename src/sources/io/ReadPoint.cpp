#include "sources/io/ReadPoint.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace korvo {

std::size_t readAt(int fd, char* out, std::size_t size, std::uintmax_t offset) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t count = ::pread(fd, out + got, size - got, static_cast<off_t>(offset + got));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        got += static_cast<std::size_t>(count);
    }
    return got;
}

AppendedRange ReadPoint::resume(int fd, const struct stat& info, std::uintmax_t readLimit) {
    const auto size = static_cast<std::uintmax_t>(info.st_size);
    const auto fileDevice = static_cast<std::uintmax_t>(info.st_dev);
    const auto fileInode = static_cast<std::uintmax_t>(info.st_ino);
    bool same = device == fileDevice && inode == fileInode && offset <= size;
    if (same && !before.empty()) {
        std::string now(before.size(), '\0');
        same =
            readAt(fd, now.data(), now.size(), offset - now.size()) == now.size() && now == before;
    }
    AppendedRange range{same ? offset : 0, size, !same, false};
    if (size - range.start > readLimit) {
        // Too much to read at once: the file's last part only, from its first whole line. A cut
        // read starts inside a line unless a line break comes just before it.
        range.start = size - readLimit;
        range.restarted = true;
        char previous = '\n';
        if (readAt(fd, &previous, 1, range.start - 1) != 1) {
            previous = '\0';
        }
        range.skipFirstLine = previous != '\n';
    }
    if (range.restarted) {
        *this = ReadPoint{fileDevice, fileInode, range.start, {}};
    }
    return range;
}

void ReadPoint::advance(int fd, std::uintmax_t to) {
    offset = to;
    std::string bytes(std::min<std::uintmax_t>(kCheckedBytes, offset), '\0');
    bytes.resize(readAt(fd, bytes.data(), bytes.size(), offset - bytes.size()));
    before = std::move(bytes);
}

} // namespace korvo

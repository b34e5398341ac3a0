#include "sources/io/LineBlocks.h"

#include "sources/io/FileReaders.h"
#include "sources/io/ReadPoint.h"

#include <algorithm>
#include <cstring>

namespace korvo {

LineBlocks::LineBlocks(int fd, std::uintmax_t start, std::uintmax_t end, std::size_t chunkBytes)
    : fd_(fd), end_(end), buffer_(chunkBytes + kParsePadding), position_(start) {}

std::optional<std::string_view> LineBlocks::next() {
    if (handed_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + handed_, held_ - handed_);
        position_ += handed_;
        held_ -= handed_;
        handed_ = 0;
    }
    while (position_ + held_ < end_) {
        if (held_ == buffer_.size() - kParsePadding) {
            buffer_.resize(std::min<std::uintmax_t>(held_ * 2, end_ - position_) + kParsePadding);
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uintmax_t>(
            buffer_.size() - kParsePadding - held_, end_ - position_ - held_));
        const std::size_t got = readAt(fd_, buffer_.data() + held_, want, position_ + held_);
        if (got == 0) {
            break;
        }
        // Only the bytes just read can hold the block's last line break.
        const std::size_t last = std::string_view(buffer_.data() + held_, got).rfind('\n');
        if (last == std::string_view::npos) {
            held_ += got;
            continue; // a line longer than the buffer so far
        }
        handed_ = held_ + last + 1;
        held_ += got;
        return std::string_view(buffer_.data(), handed_);
    }
    return std::nullopt;
}

std::string_view LineBlocks::rest() {
    std::fill_n(buffer_.data() + held_, kParsePadding, '\0');
    return std::string_view(buffer_.data(), held_);
}

} // namespace korvo

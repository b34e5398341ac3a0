#pragma once

// A range of a file read a chunk at a time into one buffer, handed out as blocks of whole lines
// that a parser may read in place.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace korvo {

class LineBlocks {
public:
    // The bytes of `fd` from `start` to `end`, read `chunkBytes` at a time.
    LineBlocks(int fd, std::uintmax_t start, std::uintmax_t end, std::size_t chunkBytes);

    // The complete lines read since the last block, each with its line break and followed by at
    // least kParsePadding readable bytes; nothing at the end of the range or of the file. The
    // unfinished last line moves to the buffer's front to be completed by the next read; a line
    // longer than the buffer grows it.
    std::optional<std::string_view> next();

    // The file offset of the block last handed out; once next() gave nothing, of the bytes after
    // the last whole line.
    std::uintmax_t offset() const { return position_; }

    // Once next() gave nothing: the bytes read after offset(), an unfinished last line, followed
    // by kParsePadding zero bytes.
    std::string_view rest();

private:
    int fd_;
    std::uintmax_t end_;
    std::vector<char> buffer_;
    std::uintmax_t position_; // file offset of buffer_[0]
    std::size_t held_ = 0;    // bytes in the buffer
    std::size_t handed_ = 0;  // bytes of the block last handed out
};

} // namespace korvo

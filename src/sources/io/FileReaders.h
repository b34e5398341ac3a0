#pragma once

// Bounded, read-only access to the files and folders that local tools leave in the home
// directory. Every reader turns a missing path, a wrong file kind, an oversized or unreadable
// file into an absent result or an empty list; nothing throws, nothing is written or locked.

#include "sources/io/FileSelection.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

/// Largest single JSON document read whole (a file of exactly this size is still read).
inline constexpr std::uintmax_t kSmallFileLimit = 1'048'576;
/// Largest log file read whole when it cannot be read from its tail.
inline constexpr std::uintmax_t kWholeLogFileLimit = 2'097'152;
/// How much of a log file's end is read.
inline constexpr std::uintmax_t kTailWindowBytes = 524'288;
/// Readable bytes kept after every buffer so that a JSON parser may read past a line's end.
inline constexpr std::size_t kParsePadding = 64;

/// The executable regular file `name` in the first of `directories` that holds one. A name
/// containing "/" is taken as a path of its own.
std::optional<std::filesystem::path>
findExecutable(std::string_view name, const std::vector<std::filesystem::path>& directories);

/// `path` with the home directory written as "~" when it lies inside it; otherwise the full path.
std::string displayPath(const std::filesystem::path& path, const std::filesystem::path& home);

/// The whole content of a regular file of at most `maxBytes` bytes. The string's capacity leaves
/// kParsePadding spare bytes so that it can be parsed without another copy.
std::optional<std::string> readSmallFile(const std::filesystem::path& path,
                                         std::uintmax_t maxBytes = kSmallFileLimit);

/// The first line of a regular file (without its line break) when it ends within the first
/// `maxBytes` bytes, or the whole file when it is shorter and holds no line break. The string's
/// capacity leaves kParsePadding spare bytes.
std::optional<std::string> readFirstLine(const std::filesystem::path& path,
                                         std::uintmax_t maxBytes);

/// Who checks that the lines of a tail are valid UTF-8.
enum class Utf8Check {
    /// The reader: invalid UTF-8 anywhere in the window gives no lines at all.
    wholeWindow,
    /// The caller's parser, which validates every line it parses anyway (simdjson reports
    /// UTF8_ERROR). A caller that chooses this must drop everything it took from the file when a
    /// line fails that way, so that a file with invalid text still yields nothing.
    leaveToParser,
};

/// Non-empty lines of the end of a log file, in file order. The views point into one buffer that
/// the object owns; each is followed by at least kParsePadding readable bytes.
class TailLines {
public:
    TailLines() = default;

    const std::vector<std::string_view>& lines() const { return lines_; }
    bool empty() const { return lines_.empty(); }
    std::size_t size() const { return lines_.size(); }
    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }
    /// Bytes held, the padding not included.
    std::size_t byteCount() const { return size_; }

private:
    friend TailLines readTailLines(const std::filesystem::path&, std::size_t, Utf8Check);
    std::unique_ptr<char[]> storage_;
    std::size_t size_ = 0;
    std::vector<std::string_view> lines_;
};

/// The last `maxLines` non-empty lines within the last kTailWindowBytes of a file. A line cut by
/// the start of that window is left out. A file that cannot be opened is read whole when it is at
/// most kWholeLogFileLimit bytes. Invalid UTF-8 gives no lines.
TailLines readTailLines(const std::filesystem::path& path, std::size_t maxLines,
                        Utf8Check check = Utf8Check::wholeWindow);

/// The extension set of JSON Lines logs: {"jsonl"}.
const std::set<std::string, std::less<>>& jsonlExtension();

/// True when something other than a directory exists at `path` (links followed).
bool existsAsNonDirectory(const std::filesystem::path& path);

/// What one walk of a log folder finds among the regular files below `directory` (recursively,
/// hidden entries included, directory symlinks never followed) that `selection` takes: how many
/// there are, counting up to `countLimit` (at least 1), and up to `recentLimit` of them, most
/// recently modified first (files modified at the same moment keep the order in which the walk met
/// them). Without `recentLimit` the walk stops once the count is reached. A missing path or a
/// non-directory gives nothing.
struct FileSurvey {
    std::size_t count = 0;
    std::vector<std::filesystem::path> recent;
};
FileSurvey surveyFiles(const std::filesystem::path& directory, const FileSelection& selection,
                       std::size_t countLimit, std::size_t recentLimit);

} // namespace korvo

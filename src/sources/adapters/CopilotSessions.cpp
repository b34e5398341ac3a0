#include "sources/adapters/CopilotSessions.h"

#include "sources/fields/FieldExtraction.h"
#include "sources/io/FileDescriptor.h"
#include "sources/io/FileReaders.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {
namespace {

constexpr std::size_t kCheckedBytes = 64;
constexpr std::string_view kShutdown = "\"session.shutdown\"";

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

std::optional<double> tokenCount(const simdjson::dom::object& details, std::string_view kind) {
    const auto entry = objectMember(details, kind);
    return entry ? numberMember(*entry, {"tokenCount"}) : std::nullopt;
}

} // namespace

std::optional<CopilotShutdown> CopilotSessions::shutdownOfLine(simdjson::dom::parser& parser,
                                                               std::string_view paddedLine) {
    simdjson::dom::object event;
    if (parser.parse(paddedLine.data(), paddedLine.size(), false).get(event) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    std::string_view type;
    if (event["type"].get_string().get(type) != simdjson::SUCCESS || type != "session.shutdown") {
        return std::nullopt;
    }
    CopilotShutdown shutdown;
    shutdown.at = dateMember(event, {"timestamp"});
    const auto data = objectMember(event, "data");
    if (!data) {
        return shutdown;
    }
    shutdown.premiumRequests = numberMember(*data, {"totalPremiumRequests"});
    shutdown.nanoAiu = numberMember(*data, {"totalNanoAiu"});
    SanitizedUsageCandidate& tokens = shutdown.tokens;
    if (const auto models = objectMember(*data, "modelMetrics")) {
        for (const auto [name, value] : *models) {
            static_cast<void>(name);
            simdjson::dom::object model;
            if (value.get(model) != simdjson::SUCCESS) {
                continue;
            }
            const auto usage = objectMember(model, "usage");
            if (!usage) {
                continue;
            }
            // The input count includes what was read from and written to the cache.
            const double input = numberMember(*usage, {"inputTokens"}).value_or(0);
            const double cacheRead = numberMember(*usage, {"cacheReadTokens"}).value_or(0);
            const double cacheWrite = numberMember(*usage, {"cacheWriteTokens"}).value_or(0);
            tokens.inputTokens =
                tokens.inputTokens.value_or(0) + std::max(0.0, input - cacheRead - cacheWrite);
            tokens.outputTokens = tokens.outputTokens.value_or(0) +
                                  numberMember(*usage, {"outputTokens"}).value_or(0);
            if (cacheRead + cacheWrite > 0) {
                tokens.cachedInputTokens =
                    tokens.cachedInputTokens.value_or(0) + cacheRead + cacheWrite;
            }
        }
    } else if (const auto details = objectMember(*data, "tokenDetails")) {
        // Newer builds' totals by kind, the input without the cache.
        tokens.inputTokens = tokenCount(*details, "input");
        tokens.outputTokens = tokenCount(*details, "output");
        const auto read = tokenCount(*details, "cache_read");
        const auto written = tokenCount(*details, "cache_write");
        if (read || written) {
            tokens.cachedInputTokens = read.value_or(0) + written.value_or(0);
        }
    }
    tokens.observedAt = shutdown.at;
    return shutdown;
}

void CopilotSessions::readLines(int fd, FileState& state, std::uintmax_t start, std::uintmax_t size,
                                bool skipFirstLine) {
    std::vector<char> buffer(kChunkBytes + kParsePadding);
    std::uintmax_t position = start; // file offset of buffer[0]
    std::size_t held = 0;
    while (position + held < size) {
        if (held == buffer.size() - kParsePadding) {
            buffer.resize(std::min<std::uintmax_t>(held * 2, size - position) + kParsePadding);
        }
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uintmax_t>(buffer.size() - kParsePadding - held, size - position - held));
        const std::size_t got = readAt(fd, buffer.data() + held, want, position + held);
        if (got == 0) {
            break;
        }
        held += got;
        const char* const begin = buffer.data();
        const char* const end = begin + held;
        const char* cursor = begin;
        while (const auto* newline = static_cast<const char*>(
                   std::memchr(cursor, '\n', static_cast<std::size_t>(end - cursor)))) {
            const std::string_view line(cursor, static_cast<std::size_t>(newline - cursor));
            if (skipFirstLine) {
                skipFirstLine = false;
            } else if (line.find(kShutdown) != std::string_view::npos) {
                // The parser reads up to kParsePadding bytes past the line: the buffer has them.
                if (auto shutdown = shutdownOfLine(parser_, line)) {
                    state.shutdowns.push_back(std::move(*shutdown));
                }
            }
            cursor = newline + 1;
        }
        if (cursor == begin) {
            continue; // a line longer than the buffer so far
        }
        const auto consumed = static_cast<std::size_t>(cursor - begin);
        std::memmove(buffer.data(), cursor, static_cast<std::size_t>(end - cursor));
        position += consumed;
        held -= consumed;
    }
    // The unfinished last line is read again once it is complete.
    state.offset = position;
}

std::vector<CopilotShutdown> CopilotSessions::read(const std::filesystem::path& file) {
    const std::lock_guard lock(mutex_);
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < 0) {
        files_.erase(file);
        return {};
    }
    const auto size = static_cast<std::uintmax_t>(info.st_size);
    FileState& state = files_[file];
    const auto device = static_cast<std::uintmax_t>(info.st_dev);
    const auto inode = static_cast<std::uintmax_t>(info.st_ino);
    bool same = state.device == device && state.inode == inode && state.offset <= size;
    if (same && !state.before.empty()) {
        std::string now(state.before.size(), '\0');
        same = readAt(fd.get(), now.data(), now.size(), state.offset - now.size()) == now.size() &&
               now == state.before;
    }
    std::uintmax_t start = same ? state.offset : 0;
    bool cut = false;
    if (size - start > readLimit_) {
        same = false;
        start = size - readLimit_;
        cut = true;
    }
    if (!same) {
        state = FileState{};
        state.device = device;
        state.inode = inode;
        state.offset = start;
    }
    state.lastUse = ++uses_;
    if (size > start) {
        char previous = '\n';
        if (cut && readAt(fd.get(), &previous, 1, start - 1) != 1) {
            previous = '\0';
        }
        readLines(fd.get(), state, start, size, previous != '\n');
        std::string before(std::min<std::uintmax_t>(kCheckedBytes, state.offset), '\0');
        before.resize(readAt(fd.get(), before.data(), before.size(), state.offset - before.size()));
        state.before = std::move(before);
    }
    std::vector<CopilotShutdown> result = state.shutdowns;
    while (files_.size() > kKeptFiles) {
        auto oldest = files_.begin();
        for (auto it = files_.begin(); it != files_.end(); ++it) {
            if (it->second.lastUse < oldest->second.lastUse) {
                oldest = it;
            }
        }
        files_.erase(oldest);
    }
    return result;
}

} // namespace korvo

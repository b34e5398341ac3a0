#include "sources/adapters/CopilotSessions.h"

#include "sources/fields/FieldExtraction.h"
#include "sources/io/FileDescriptor.h"
#include "sources/io/FileReaders.h"
#include "sources/io/LineBlocks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {
namespace {

constexpr std::string_view kShutdown = "\"session.shutdown\"";

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

std::uintmax_t CopilotSessions::readLines(int fd, FileState& state, const AppendedRange& range) {
    LineBlocks blocks(fd, range.start, range.end, kChunkBytes);
    bool skipFirstLine = range.skipFirstLine;
    while (const std::optional<std::string_view> block = blocks.next()) {
        std::string_view lines = *block;
        for (std::size_t newline; (newline = lines.find('\n')) != std::string_view::npos;
             lines.remove_prefix(newline + 1)) {
            const std::string_view line = lines.substr(0, newline);
            if (skipFirstLine) {
                skipFirstLine = false;
            } else if (line.find(kShutdown) != std::string_view::npos) {
                // The parser reads up to kParsePadding bytes past the line: the block has them.
                if (auto shutdown = shutdownOfLine(parser_, line)) {
                    state.shutdowns.push_back(std::move(*shutdown));
                }
            }
        }
    }
    // The unfinished last line is read again once it is complete.
    return blocks.offset();
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
    FileState& state = files_[file];
    const AppendedRange range = state.point.resume(fd.get(), info, readLimit_);
    if (range.restarted) {
        state.shutdowns.clear();
    }
    state.lastUse = ++uses_;
    if (range.end > range.start) {
        state.point.advance(fd.get(), readLines(fd.get(), state, range));
    }
    std::vector<CopilotShutdown> result = state.shutdowns;
    forgetLeastRecentlyRead(files_, kKeptFiles);
    return result;
}

} // namespace korvo

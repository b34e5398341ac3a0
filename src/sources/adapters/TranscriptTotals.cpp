#include "sources/adapters/TranscriptTotals.h"

#include "sources/fields/FieldExtraction.h"
#include "sources/io/FileDescriptor.h"
#include "sources/io/FileReaders.h"
#include "sources/io/LineBlocks.h"
#include "sources/io/LogLineFilter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <new>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvo {
namespace {

bool isSynthetic(const simdjson::dom::object& line, const simdjson::dom::object& message) {
    bool apiError = false;
    if (line["isApiErrorMessage"].get_bool().get(apiError) == simdjson::SUCCESS && apiError) {
        return true;
    }
    std::string_view model;
    return message["model"].get_string().get(model) == simdjson::SUCCESS && model == "<synthetic>";
}

} // namespace

void TranscriptTotals::forgetOldest(FileState& state) {
    while (state.messageOrder.size() > kKeptMessages) {
        state.messages.erase(state.messageOrder.front());
        state.messageOrder.pop_front();
    }
}

void TranscriptTotals::consume(FileState& state, std::string_view line) {
    // Most lines hold conversation text: an API message line names "usage", and other lines
    // matter only while no API message was found.
    const bool namesUsage = line.find("\"usage\"") != std::string_view::npos;
    if (!namesUsage && (state.anyMessage || !mayHoldUsefulKey(line))) {
        return;
    }
    simdjson::dom::element document;
    if (parser_.parse(line.data(), line.size(), false).get(document) != simdjson::SUCCESS) {
        return;
    }
    simdjson::dom::object object;
    if (document.get(object) != simdjson::SUCCESS) {
        return;
    }
    const auto message = objectMember(object, "message");
    const auto usage = message ? objectMember(*message, "usage") : std::nullopt;
    if (!usage) {
        if (!state.anyMessage) {
            if (const auto candidate = candidateFromDocument(document)) {
                state.generic = preferNewer(state.generic, *candidate);
            }
        }
        return;
    }
    if (isSynthetic(object, *message)) {
        return;
    }
    Usage counted;
    counted.input = numberMember(*usage, {"input_tokens", "inputTokens"}).value_or(0);
    counted.output = numberMember(*usage, {"output_tokens", "outputTokens"}).value_or(0);
    counted.cached =
        numberMember(*usage, {"cache_creation_input_tokens", "cacheCreationInputTokens"})
            .value_or(0) +
        numberMember(*usage, {"cache_read_input_tokens", "cacheReadInputTokens"}).value_or(0);
    const auto cost = numberMember(object, {"costUSD", "costUsd", "cost_usd"});
    counted.cost = cost.value_or(0);
    state.anyCost = state.anyCost || cost.has_value();

    std::uint64_t key = 0;
    std::string_view id;
    if ((*message)["id"].get_string().get(id) == simdjson::SUCCESS && !id.empty()) {
        key = std::hash<std::string_view>{}(id) & ~(1ull << 63);
    } else {
        key = (1ull << 63) | ++state.anonymous;
    }
    const auto [entry, added] = state.messages.try_emplace(key, counted);
    if (added) {
        state.messageOrder.push_back(key);
        forgetOldest(state);
    } else {
        // A later line of the same message: its usage replaces the earlier one.
        state.sum.input -= entry->second.input;
        state.sum.output -= entry->second.output;
        state.sum.cached -= entry->second.cached;
        state.sum.cost -= entry->second.cost;
        entry->second = counted;
    }
    state.sum.input += counted.input;
    state.sum.output += counted.output;
    state.sum.cached += counted.cached;
    state.sum.cost += counted.cost;
    state.anyMessage = true;
    state.generic.reset();
    if (const auto time = dateMember(object, {"timestamp"});
        time && (!state.newest || *time > *state.newest)) {
        state.newest = time;
    }
}

std::optional<SanitizedUsageCandidate> TranscriptTotals::result(const FileState& state) {
    if (state.invalidText) {
        return std::nullopt;
    }
    if (!state.anyMessage) {
        return state.generic;
    }
    SanitizedUsageCandidate totals;
    totals.inputTokens = state.sum.input;
    totals.outputTokens = state.sum.output;
    if (state.sum.cached > 0) {
        totals.cachedInputTokens = state.sum.cached;
    }
    if (state.anyCost) {
        totals.costUsd = state.sum.cost;
    }
    totals.observedAt = state.newest;
    return totals;
}

std::uintmax_t TranscriptTotals::readLines(int fd, FileState& state, const AppendedRange& range) {
    LineBlocks blocks(fd, range.start, range.end, kChunkBytes);
    bool skipFirstLine = range.skipFirstLine;
    while (const std::optional<std::string_view> block = blocks.next()) {
        std::string_view lines = *block;
        if (skipFirstLine) {
            lines.remove_prefix(lines.find('\n') + 1);
            skipFirstLine = false;
        }
        const std::string_view whole = lines;
        for (std::size_t newline; (newline = lines.find('\n')) != std::string_view::npos;
             lines.remove_prefix(newline + 1)) {
            if (newline > 0) {
                consume(state, lines.substr(0, newline));
            }
        }
        // Lines passed over unparsed must be text too; a file that is not gives nothing, so the
        // check may follow the lines' use. A line break never falls inside a UTF-8 sequence:
        // whole lines check alone.
        if (!simdjson::validate_utf8(whole.data(), whole.size())) {
            state.invalidText = true;
            return blocks.offset();
        }
    }
    const std::string_view rest = blocks.rest();
    if (rest.empty()) {
        return blocks.offset();
    }
    if (skipFirstLine) {
        // The cut line runs to the end: nothing whole was read.
        return blocks.offset() + rest.size();
    }
    // The last line is still being written unless it is a whole object already (no prefix of an
    // object is one).
    simdjson::dom::element tail;
    if (parser_.parse(rest.data(), rest.size(), false).get(tail) == simdjson::SUCCESS &&
        tail.is_object()) {
        consume(state, rest);
        return blocks.offset() + rest.size();
    }
    return blocks.offset();
}

std::optional<SanitizedUsageCandidate> TranscriptTotals::read(const std::filesystem::path& file) {
    const std::lock_guard lock(mutex_);
    try {
        const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        struct stat info {};
        if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_size < 0) {
            files_.erase(file);
            return std::nullopt;
        }
        FileState& state = files_[file];
        const AppendedRange range = state.point.resume(fd.get(), info, readLimit_);
        if (range.restarted) {
            ReadPoint point = std::move(state.point);
            state = FileState{};
            state.point = std::move(point);
        }
        state.lastUse = ++uses_;
        if (range.end > range.start && !state.invalidText) {
            state.point.advance(fd.get(), readLines(fd.get(), state, range));
        }
        const auto result = TranscriptTotals::result(state);
        forgetLeastRecentlyRead(files_, kKeptFiles);
        return result;
    } catch (const std::bad_alloc&) {
        // A half-read file's state would be wrong next time: start it over, and let the adapter
        // report the failure.
        files_.erase(file);
        throw;
    }
}

} // namespace korvo

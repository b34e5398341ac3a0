#include "sources/adapters/TranscriptTotals.h"

#include "sources/fields/FieldExtraction.h"
#include "sources/io/FileDescriptor.h"
#include "sources/io/FileReaders.h"
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

// Bytes before the read point compared on the next call: a file rewritten in place differs there.
constexpr std::size_t kCheckedBytes = 64;

// Reads up to `size` bytes at `offset`; the count read.
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

std::uintmax_t TranscriptTotals::readLines(int fd, FileState& state, std::uintmax_t start,
                                           std::uintmax_t size, bool skipFirstLine) {
    // The file is read a chunk at a time into one buffer: its complete lines are consumed, and
    // the unfinished last one moves to the buffer's front to be completed by the next read. A
    // line longer than the buffer grows it.
    std::vector<char> buffer(kChunkBytes + kParsePadding);
    std::uintmax_t position = start; // file offset of buffer[0]
    std::size_t held = 0;            // bytes in the buffer
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
        if (skipFirstLine) {
            const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', held));
            if (newline == nullptr) {
                continue; // a line longer than the buffer so far
            }
            cursor = newline + 1;
            skipFirstLine = false;
        }
        const char* const firstLine = cursor;
        while (const auto* newline = static_cast<const char*>(
                   std::memchr(cursor, '\n', static_cast<std::size_t>(end - cursor)))) {
            if (newline > cursor) {
                consume(state, std::string_view(cursor, newline - cursor));
            }
            cursor = newline + 1;
        }
        // Lines passed over unparsed must be text too; a file that is not gives nothing, so the
        // check may follow the lines' use. A line break never falls inside a UTF-8 sequence:
        // whole lines check alone.
        if (!simdjson::validate_utf8(firstLine, static_cast<std::size_t>(cursor - firstLine))) {
            state.invalidText = true;
            return position;
        }
        if (cursor == begin) {
            continue; // a line longer than the buffer so far
        }
        const auto consumed = static_cast<std::size_t>(cursor - begin);
        std::memmove(buffer.data(), cursor, static_cast<std::size_t>(end - cursor));
        position += consumed;
        held -= consumed;
    }
    if (held == 0) {
        return position;
    }
    if (skipFirstLine) {
        // The cut line runs to the end: nothing whole was read.
        return position + held;
    }
    // The last line is still being written unless it is a whole object already (no prefix of an
    // object is one).
    std::fill_n(buffer.data() + held, kParsePadding, '\0');
    simdjson::dom::element tail;
    if (parser_.parse(buffer.data(), held, false).get(tail) == simdjson::SUCCESS &&
        tail.is_object()) {
        consume(state, std::string_view(buffer.data(), held));
        return position + held;
    }
    return position;
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
        const auto size = static_cast<std::uintmax_t>(info.st_size);
        FileState& state = files_[file];
        const auto device = static_cast<std::uintmax_t>(info.st_dev);
        const auto inode = static_cast<std::uintmax_t>(info.st_ino);
        bool same = state.device == device && state.inode == inode && state.offset <= size;
        if (same && !state.before.empty()) {
            std::string now(state.before.size(), '\0');
            same =
                readAt(fd.get(), now.data(), now.size(), state.offset - now.size()) == now.size() &&
                now == state.before;
        }
        std::uintmax_t start = same ? state.offset : 0;
        bool cutLine = false;
        if (size - start > readLimit_) {
            // Too much to read at once: the file's last part only, from its first whole line.
            same = false;
            start = size - readLimit_;
            cutLine = true;
        }
        if (!same) {
            state = FileState{};
            state.device = device;
            state.inode = inode;
            state.offset = start;
        }
        state.lastUse = ++uses_;

        if (size > start && !state.invalidText) {
            // A cut read starts inside a line unless a line break comes just before it.
            char previous = '\n';
            if (cutLine && readAt(fd.get(), &previous, 1, start - 1) != 1) {
                previous = '\0';
            }
            state.offset = readLines(fd.get(), state, start, size, previous != '\n');
            std::string before(std::min<std::uintmax_t>(kCheckedBytes, state.offset), '\0');
            before.resize(
                readAt(fd.get(), before.data(), before.size(), state.offset - before.size()));
            state.before = std::move(before);
        }

        const auto result = TranscriptTotals::result(state);
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
    } catch (const std::bad_alloc&) {
        // A half-read file's state would be wrong next time: start it over, and let the adapter
        // report the failure.
        files_.erase(file);
        throw;
    }
}

} // namespace korvo

#include "statusline/ClaudeStatusLine.h"

#include "model/TimeText.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {
namespace {

std::optional<double> numberValue(simdjson::dom::element value) {
    double number = 0;
    if (value.is_int64()) {
        number = static_cast<double>(value.get_int64().value_unsafe());
    } else if (value.is_uint64()) {
        number = static_cast<double>(value.get_uint64().value_unsafe());
    } else if (value.get_double().get(number) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    if (!std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

// A reset moment: a number since 1970 whose unit follows from its size (nanoseconds,
// microseconds, milliseconds or seconds), as the adapters read it, or an internet date-time text.
// Kept in whole seconds, the precision of the bridge file. A moment before 1970 or past what an
// instant holds (the year 2262) is absent.
std::optional<Instant> momentValue(simdjson::dom::element value) {
    std::string_view text;
    if (value.get_string().get(text) == simdjson::SUCCESS) {
        auto moment = parseInternetDateTime(text);
        if (!moment || moment->time_since_epoch().count() < 0) {
            return std::nullopt;
        }
        return std::chrono::floor<std::chrono::seconds>(*moment);
    }
    auto number = numberValue(value);
    if (!number) {
        return std::nullopt;
    }
    double seconds = *number;
    if (seconds > 1e17) {
        seconds /= 1e9;
    } else if (seconds > 1e14) {
        seconds /= 1e6;
    } else if (seconds > 1e10) {
        seconds /= 1e3;
    }
    if (seconds < 0 || seconds >= static_cast<double>(kLatestInstantSecond) + 1) {
        return std::nullopt;
    }
    return checkedInstantFromUnixSeconds(static_cast<std::int64_t>(std::floor(seconds)));
}

std::optional<StatusLineWindow> windowValue(simdjson::dom::object limits, std::string_view key) {
    simdjson::dom::object window;
    if (limits[key].get_object().get(window) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    simdjson::dom::element used;
    if (window["used_percentage"].get(used) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    auto percentage = numberValue(used);
    if (!percentage) {
        return std::nullopt;
    }
    StatusLineWindow result;
    result.usedPercentage = std::clamp(*percentage, 0.0, 100.0);
    simdjson::dom::element resets;
    if (window["resets_at"].get(resets) == simdjson::SUCCESS) {
        result.resetsAt = momentValue(resets);
    }
    return result;
}

std::string numberText(double value) {
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc{} ? std::string(text, end) : std::string("0");
}

// The value written for a used percentage. Readers of the bridge take a value up to 1 as a
// fraction (0.42 means 42 %), so a percentage of at most 1 is written as its fraction: 1 % stays
// 1 % instead of reading as 100 %. Larger percentages are written unchanged.
double bridgeUsedValue(double percentage) {
    return percentage > 1 ? percentage : percentage / 100;
}

void appendWindow(std::string& out, std::string_view name, const StatusLineWindow& window,
                  bool last) {
    out += "    \"";
    out += name;
    out += "\" : {\n";
    if (window.resetsAt) {
        out += "      \"resets_at\" : \"" + formatInternetDateTime(*window.resetsAt) + "\",\n";
    }
    out +=
        "      \"used_percentage\" : " + numberText(bridgeUsedValue(window.usedPercentage)) + "\n";
    out += last ? "    }\n" : "    },\n";
}

int wholePercent(double value) {
    return static_cast<int>(std::round(std::clamp(value, 0.0, 100.0)));
}

// Reads until end of input, one byte past the limit, or the deadline: a writer that never closes
// the pipe must not keep the hook (and Claude Code's status line) waiting.
std::string readBounded(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string input;
    char buffer[65536];
    while (input.size() <= kStatusLineInputLimit) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        const int polled =
            ::poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            return {}; // time is up or the descriptor is unusable: treat as no input
        }
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        input.append(buffer, static_cast<std::size_t>(count));
    }
    return input;
}

} // namespace

std::optional<StatusLineLimits> parseStatusLineLimits(std::string_view json) {
    if (json.size() > kStatusLineInputLimit) {
        return std::nullopt;
    }
    simdjson::dom::parser parser;
    simdjson::padded_string padded(json);
    simdjson::dom::object root;
    if (parser.parse(padded).get_object().get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    simdjson::dom::object limits;
    if (root["rate_limits"].get_object().get(limits) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    StatusLineLimits result{windowValue(limits, "five_hour"), windowValue(limits, "seven_day")};
    if (!result.fiveHour && !result.sevenDay) {
        return std::nullopt;
    }
    return result;
}

std::string encodeBridgeFile(const StatusLineLimits& limits, Instant observedAt) {
    // The project's JSON form: two-space indentation, "key" : value, members sorted by name.
    std::string out = "{\n  \"observed_at\" : \"" + formatInternetDateTime(observedAt) + "\",\n";
    out += "  \"rate_limits\" : {\n";
    if (limits.fiveHour) {
        appendWindow(out, "five_hour", *limits.fiveHour, !limits.sevenDay);
    }
    if (limits.sevenDay) {
        appendWindow(out, "seven_day", *limits.sevenDay, true);
    }
    out += "  }\n}\n";
    return out;
}

std::optional<StatusLineLimits> decodeBridgeFile(std::string_view contents, Instant now) {
    auto limits = parseStatusLineLimits(contents);
    if (!limits) {
        return std::nullopt;
    }
    for (auto* window : {&limits->fiveHour, &limits->sevenDay}) {
        if (!*window) {
            continue;
        }
        auto& used = (*window)->usedPercentage;
        used = used <= 1 ? used * 100 : used;
        if ((*window)->resetsAt && *(*window)->resetsAt < now) {
            **window = StatusLineWindow{0, std::nullopt};
        }
    }
    return limits;
}

std::optional<StatusLineLimits> readBridgeLimits(const std::filesystem::path& home, Instant now) {
    const int fd = ::open(bridgeFilePath(home).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::string contents;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              static_cast<std::uintmax_t>(info.st_size) <= kStatusLineInputLimit;
    if (ok) {
        contents.resize(static_cast<std::size_t>(info.st_size));
        std::size_t got = 0;
        while (got < contents.size()) {
            const ssize_t count = ::read(fd, contents.data() + got, contents.size() - got);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                break;
            }
            got += static_cast<std::size_t>(count);
        }
        contents.resize(got);
    }
    ::close(fd);
    return ok ? decodeBridgeFile(contents, now) : std::nullopt;
}

std::string statusLineText(const std::optional<StatusLineLimits>& limits) {
    if (!limits) {
        return "Korvo · no rate limits yet";
    }
    std::string text = "Korvo";
    if (limits->fiveHour) {
        text += " · 5h " + std::to_string(100 - wholePercent(limits->fiveHour->usedPercentage)) +
                "% left";
    }
    if (limits->sevenDay) {
        text += " · 7d " + std::to_string(100 - wholePercent(limits->sevenDay->usedPercentage)) +
                "% left";
    }
    return text;
}

std::filesystem::path bridgeFilePath(const std::filesystem::path& home) {
    return home / ".korvo" / "claude-statusline.json";
}

bool writeBridgeFile(const std::filesystem::path& home, std::string_view contents) {
    const auto target = bridgeFilePath(home);
    const auto folder = target.parent_path();
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT || (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ||
            ::stat(folder.c_str(), &info) != 0) {
            return false;
        }
    }
    if (!S_ISDIR(info.st_mode)) {
        return false;
    }
    std::string temporary = (folder / ".claude-statusline.json.XXXXXX").string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0;
    std::size_t written = 0;
    while (ok && written < contents.size()) {
        ssize_t count = ::write(fd, contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        ok = count > 0;
        if (ok) {
            written += static_cast<std::size_t>(count);
        }
    }
    // No fsync: the hook runs on every status refresh, and a reader copes with a missing or
    // malformed file after a crash; rename still makes every reader see a whole file.
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

void runClaudeStatusLine(int inputFd, std::ostream& out, const std::filesystem::path& home,
                         const Clock& clock) {
    std::optional<StatusLineLimits> limits;
    try {
        limits = parseStatusLineLimits(readBounded(inputFd, kStatusLineInputTimeout));
        if (limits && !home.empty()) {
            writeBridgeFile(home, encodeBridgeFile(*limits, clock()));
        } else if (!home.empty()) {
            // The input has no limits (yet): show those kept from an earlier input.
            limits = readBridgeLimits(home, clock());
        }
    } catch (...) {
        // Out of memory or a filesystem error: Claude Code still gets its status line.
    }
    out << statusLineText(limits) << '\n' << std::flush;
}

} // namespace korvo

#pragma once

// The Claude Code status-line hook. Claude Code pipes a JSON description of the session to the
// status-line command on every refresh; the hook keeps only the subscription rate limits of that
// input and stores them in ~/.korvo/claude-statusline.json, where the Claude Code adapter reads
// them. Nothing else of the input (prompts, paths, session ids, costs) is ever written.

#include "model/Clock.h"
#include "model/Instant.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace korvo {

// Largest status-line input that is parsed; larger input is ignored as a whole.
inline constexpr std::size_t kStatusLineInputLimit = 1024 * 1024;
// Longest wait for the input to end; later input is ignored as a whole.
inline constexpr std::chrono::milliseconds kStatusLineInputTimeout{3000};

struct StatusLineWindow {
    double usedPercentage = 0;       // 0...100
    std::optional<Instant> resetsAt; // whole seconds

    bool operator==(const StatusLineWindow&) const = default;
};

struct StatusLineLimits {
    std::optional<StatusLineWindow> fiveHour;
    std::optional<StatusLineWindow> sevenDay;

    bool operator==(const StatusLineLimits&) const = default;
};

// The rate limits of one status-line input, or absent when the input is not a JSON object, has no
// `rate_limits` object, or none of its two windows carries a numeric used percentage.
std::optional<StatusLineLimits> parseStatusLineLimits(std::string_view json);

// The bridge file's contents: observed_at and the windows present, dates as ISO 8601 UTC text.
std::string encodeBridgeFile(const StatusLineLimits& limits, Instant observedAt);

// The limits a bridge file holds, as percentages (the inverse of encodeBridgeFile's fractions).
// A window whose reset time lies before `now` has ended: it shows 0 % used and no reset time.
std::optional<StatusLineLimits> decodeBridgeFile(std::string_view contents, Instant now);

// The limits of the bridge file below `home`, read up to kStatusLineInputLimit bytes; absent when
// it is missing, not a regular file, too large or unreadable.
std::optional<StatusLineLimits> readBridgeLimits(const std::filesystem::path& home, Instant now);

// The one line printed for Claude Code to show, for example "Korvo · 5h 58% left · 7d 97% left".
std::string statusLineText(const std::optional<StatusLineLimits>& limits);

// Path of the bridge file below a home directory.
std::filesystem::path bridgeFilePath(const std::filesystem::path& home);

// Replaces the bridge file atomically (temporary file in the same folder, then rename), mode 0600,
// creating ~/.korvo with mode 0700 when it is missing. Returns false when nothing was written.
bool writeBridgeFile(const std::filesystem::path& home, std::string_view contents);

// The whole hook: reads at most kStatusLineInputLimit bytes (plus one, to notice larger input) from
// inputFd within kStatusLineInputTimeout, writes the bridge file when the input has rate limits,
// and prints the status line. Never throws; the caller exits 0 whatever happened.
void runClaudeStatusLine(int inputFd, std::ostream& out, const std::filesystem::path& home,
                         const Clock& clock);

} // namespace korvo

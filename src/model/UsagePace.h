#pragma once

#include "model/Instant.h"
#include "model/UsageSnapshot.h"

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvo {

// One reading of a window's used percentage.
struct UsagePoint {
    Instant at{};
    double usedPercent = 0;
    // The window's reset time at that reading; a point of another reset belongs to another
    // window and is left out of the estimate.
    std::optional<Instant> resetAt;

    friend bool operator==(const UsagePoint&, const UsagePoint&) = default;
};

// Where a window is heading at its recent burn rate.
struct UsagePace {
    enum class Kind {
        notEnoughData,    // too few readings, or over too short a time
        limitReached,     // the window is at 100 % already
        limitBeforeReset, // 100 % is reached at limitAt, before the reset (or no reset is known)
        usedAtReset,      // the reset comes first, with usedAtReset percent used
        idle,             // nothing used lately and no reset time known
    };
    Kind kind = Kind::notEnoughData;
    // Percentage points per hour, weighted towards recent readings.
    double ratePerHour = 0;
    double usedPercent = 0;
    std::optional<Instant> limitAt;
    std::optional<Instant> resetAt;
    std::optional<double> usedAtReset;

    friend bool operator==(const UsagePace&, const UsagePace&) = default;
};

// The length of a window: from its start to its reset when both are known, else from its label
// ("5h", "7d", "2w"), else from its kind (a day, a week, 30 days); five hours otherwise.
std::chrono::seconds usageWindowLength(const std::optional<UsageWindow>& window);

// The pace of one window from its readings, in any order and possibly repeated. Readings after
// `now` (left by a clock that has since gone back) and readings of another reset are ignored;
// within the window used percentages only grow, so a drop marks a reset and only the readings
// after the last drop count. The burn rate weighs each interval between readings, and the
// quiet time since the last one, by how recent it is (half-weight after a fifth of the window),
// so a burst followed by idle time fades instead of being projected forever. At least two
// readings spanning a twentieth of the window (15 minutes of five hours) are needed.
UsagePace estimateUsagePace(std::span<const UsagePoint> points, std::optional<Instant> resetAt,
                            std::chrono::seconds windowLength, Instant now);

// The readings that estimateUsagePace() uses, oldest first: of the current reset, up to now,
// after the last drop, one per instant.
std::vector<UsagePoint> currentWindowPoints(std::span<const UsagePoint> points,
                                            std::optional<Instant> resetAt, Instant now);

// Local clock time of an instant: "14:32" within 20 hours of now, "Thu 14:32" further away.
// `utcOffset` is the local time zone's offset at that instant.
std::string paceClockText(Instant at, Instant now, std::chrono::seconds utcOffset);

// A duration in short units: "58 min", "1 h 5 min", "2 d 3 h"; under a minute is "1 min".
std::string paceDurationText(std::chrono::seconds duration);

// One line for a window's pace:
// "At this pace: limit at 14:32, 58 min before the reset", "At this pace: limit at 14:32",
// "At this pace: about 60 % used at the reset", "Pace: limit reached", "Pace: idle",
// "Pace: not enough data yet". `clockText` writes a local clock time.
std::string usagePaceText(const UsagePace& pace, Instant now,
                          const std::function<std::string(Instant)>& clockText);

// The window as the pace alert names it: "5-hour" for "5h", "7-day" for "7d", else the window
// text in lower case ("weekly").
std::string paceWindowName(const ProviderUsage& row);

// "At this pace Claude Code reaches its 5-hour limit in about 25 minutes"; minutes round to
// fives up to an hour, hours to whole hours.
std::string paceAlertText(const ProviderUsage& row, std::chrono::seconds untilLimit);

// How close to the limit a pace alert is due: half an hour, or a twentieth of longer windows.
std::chrono::seconds paceAlertLead(std::chrono::seconds windowLength);

} // namespace korvo

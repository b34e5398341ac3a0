#pragma once

#include "model/Instant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// The whole seconds since 1970 an instant can hold: 64 bits of nanoseconds reach from
// 1677-09-21 to 2262-04-11.
inline constexpr std::int64_t kEarliestInstantSecond =
    std::chrono::ceil<std::chrono::seconds>(Instant::min().time_since_epoch()).count();
inline constexpr std::int64_t kLatestInstantSecond =
    std::chrono::floor<std::chrono::seconds>(Instant::max().time_since_epoch()).count();

// An instant from whole seconds since 1970, or nothing outside the instant's range.
constexpr std::optional<Instant> checkedInstantFromUnixSeconds(std::int64_t seconds) {
    if (seconds < kEarliestInstantSecond || seconds > kLatestInstantSecond) {
        return std::nullopt;
    }
    return instantFromUnixSeconds(seconds);
}

// `instant` moved by `offset`, or nothing when the result would leave the instant's range.
constexpr std::optional<Instant> shiftedInstant(Instant instant, std::chrono::nanoseconds offset) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(instant.time_since_epoch().count(), offset.count(), &sum)) {
        return std::nullopt;
    }
    return Instant(std::chrono::nanoseconds(sum));
}

// Parses an internet date-time (RFC 3339): YYYY-MM-DDTHH:MM:SS, optional fractional seconds,
// then "Z" or an offset such as "+02:00". Returns nothing for anything else.
std::optional<Instant> parseInternetDateTime(std::string_view text);

// The same, but a fractional-seconds part makes the text invalid (the wire form of dates).
std::optional<Instant> parseInternetDateTimeWholeSeconds(std::string_view text);

// "2026-03-01T09:14:05Z": UTC, whole seconds (fractions dropped toward the past).
std::string formatInternetDateTime(Instant instant);

// Where `target` lies relative to `now`, numerically with full unit names:
// "in 2 hours", "5 minutes ago", "in 1 day", "in 0 seconds".
// The unit is the largest of seconds, minutes, hours, days, weeks, months (30 days) and
// years (365 days) that the distance reaches; the count is rounded, halves away from zero.
std::string relativeTimePhrase(Instant target, Instant now);

// A percentage rounded to a whole number, halves away from zero, followed by "%": 36.5 -> "37%".
// Not clamped. A non-finite value gives "NaN%" or "Infinity%"/"-Infinity%".
std::string wholePercentText(double percent);

// A count rounded to a whole number, halves away from zero, plain decimal digits: "120000".
std::string wholeNumberText(double value);

// The same count grouped by thousands with commas: "120,000", "-1,234,568".
std::string groupedNumberText(double value);

// When something resets, precise enough to plan by: "in 40 min", "in 1 h 40 min", "in 2 h"
// within a day (minutes rounded up, "in less than 1 min" under a minute); the weekday and the
// time of day beyond a day ("Mon 09:00"), in the time zone `utcOffset` east of UTC; "now" once
// the moment has come.
std::string resetPhrase(Instant reset, Instant now, std::chrono::seconds utcOffset);

// The offset of the local time zone from UTC at `instant` (the process's TZ).
std::chrono::seconds localUtcOffset(Instant instant);

} // namespace korvo

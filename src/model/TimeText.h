#pragma once

#include "model/Instant.h"

#include <optional>
#include <string>
#include <string_view>

namespace korvo {

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

} // namespace korvo

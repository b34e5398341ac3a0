#pragma once

#include <chrono>

namespace korvo {

// A point in time with nanosecond resolution on the system (UTC) clock.
using Instant = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

// Builds an instant from whole seconds since 1970-01-01T00:00:00Z.
constexpr Instant instantFromUnixSeconds(std::int64_t seconds) {
    return Instant(std::chrono::seconds(seconds));
}

// Whole seconds since 1970, truncated toward zero.
constexpr std::int64_t unixSecondsTruncated(Instant instant) {
    return std::chrono::duration_cast<std::chrono::seconds>(instant.time_since_epoch()).count();
}

} // namespace korvo

#pragma once

#include "model/Instant.h"

#include <functional>

namespace korvo {

// The source of the current time. Everything that needs "now" takes a Clock,
// so tests can pin time.
using Clock = std::function<Instant()>;

// The real clock; the only place that reads the system clock.
inline Clock systemClock() {
    return [] {
        return std::chrono::time_point_cast<std::chrono::nanoseconds>(
            std::chrono::system_clock::now());
    };
}

// A clock that always answers the same instant.
inline Clock fixedClock(Instant instant) {
    return [instant] { return instant; };
}

} // namespace korvo

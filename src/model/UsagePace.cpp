#include "model/UsagePace.h"

#include "model/DisplayText.h"
#include "model/TimeText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace korvo {

namespace {

using std::chrono::hours;
using std::chrono::seconds;

constexpr double kSecondsPerHour = 3600.0;
// A projection further out than this is no projection.
constexpr double kLongestProjectionHours = 24.0 * 366;

double secondsBetween(Instant from, Instant to) {
    return std::chrono::duration<double>(to - from).count();
}

// The length a window label names: "5h", "30m", "7d", "2w".
std::optional<std::pair<long long, char>> parseWindowLabel(const std::string& label) {
    if (label.size() < 2 || label.size() > 6) {
        return std::nullopt;
    }
    const char unit = static_cast<char>(std::tolower(static_cast<unsigned char>(label.back())));
    long long count = 0;
    for (std::size_t i = 0; i + 1 < label.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(label[i]))) {
            return std::nullopt;
        }
        count = count * 10 + (label[i] - '0');
    }
    if (count <= 0 || (unit != 'm' && unit != 'h' && unit != 'd' && unit != 'w')) {
        return std::nullopt;
    }
    return std::pair{count, unit};
}

// The integral of 2^(-age / halfLife) over ages from `younger` to `older`, in seconds.
double decayWeight(double younger, double older, double halfLife) {
    const double lambda = std::log(2.0) / halfLife;
    return (std::exp(-lambda * younger) - std::exp(-lambda * older)) / lambda;
}

// 0 to 99 with a leading zero.
std::string twoDigits(long long value) {
    const auto digits = static_cast<int>(value % 100);
    return {char('0' + digits / 10), char('0' + digits % 10)};
}

} // namespace

seconds usageWindowLength(const std::optional<UsageWindow>& window) {
    constexpr seconds fallback = hours(5);
    if (!window) {
        return fallback;
    }
    if (window->startedAt && window->resetAt && *window->resetAt > *window->startedAt) {
        return std::chrono::duration_cast<seconds>(*window->resetAt - *window->startedAt);
    }
    if (window->label) {
        if (const auto parsed = parseWindowLabel(*window->label)) {
            const auto [count, unit] = *parsed;
            switch (unit) {
            case 'm':
                return std::chrono::minutes(count);
            case 'h':
                return hours(count);
            case 'd':
                return hours(24 * count);
            default:
                return hours(24 * 7 * count);
            }
        }
    }
    switch (window->kind) {
    case UsageWindowKind::daily:
        return hours(24);
    case UsageWindowKind::weekly:
        return hours(24 * 7);
    case UsageWindowKind::monthly:
        return hours(24 * 30);
    case UsageWindowKind::rolling:
    case UsageWindowKind::unknown:
        break;
    }
    return fallback;
}

std::vector<UsagePoint> currentWindowPoints(std::span<const UsagePoint> points,
                                            std::optional<Instant> resetAt, Instant now) {
    std::vector<UsagePoint> kept;
    kept.reserve(points.size());
    for (const UsagePoint& point : points) {
        if (point.at > now || !std::isfinite(point.usedPercent)) {
            continue;
        }
        // A reading whose reset time differs by more than a few minutes is another window; a
        // small difference is the jitter of a reset computed from "resets in N seconds".
        if (resetAt && point.resetAt &&
            std::chrono::abs(*point.resetAt - *resetAt) > std::chrono::minutes(3)) {
            continue;
        }
        UsagePoint clean = point;
        clean.usedPercent = std::clamp(point.usedPercent, 0.0, 100.0);
        kept.push_back(clean);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const UsagePoint& a, const UsagePoint& b) { return a.at < b.at; });
    // One reading per instant: the last one given.
    std::vector<UsagePoint> unique;
    unique.reserve(kept.size());
    for (const UsagePoint& point : kept) {
        if (!unique.empty() && unique.back().at == point.at) {
            unique.back() = point;
        } else {
            unique.push_back(point);
        }
    }
    // Used percentages only grow within a window: a clear drop is a reset, and only what follows
    // the last one counts. A drop of less than a point is noise of the source and is held level.
    std::size_t start = 0;
    double peak = -1;
    for (std::size_t i = 0; i < unique.size(); ++i) {
        if (peak >= 0 && unique[i].usedPercent < peak - 1.0) {
            start = i;
            peak = unique[i].usedPercent;
        } else {
            peak = std::max(peak, unique[i].usedPercent);
            unique[i].usedPercent = peak;
        }
    }
    unique.erase(unique.begin(), unique.begin() + static_cast<std::ptrdiff_t>(start));
    return unique;
}

UsagePace estimateUsagePace(std::span<const UsagePoint> points, std::optional<Instant> resetAt,
                            seconds windowLength, Instant now) {
    UsagePace pace;
    pace.resetAt = resetAt;
    const std::vector<UsagePoint> series = currentWindowPoints(points, resetAt, now);
    if (series.empty()) {
        return pace;
    }
    pace.usedPercent = series.back().usedPercent;
    if (pace.usedPercent >= 100.0) {
        pace.kind = UsagePace::Kind::limitReached;
        return pace;
    }
    const double length = std::max(60.0, double(windowLength.count()));
    if (series.size() < 2 || secondsBetween(series.front().at, now) < length / 20 ||
        (resetAt && *resetAt <= now)) {
        return pace;
    }

    // The slope between readings, then the quiet time up to now, averaged with weights that
    // halve every fifth of the window back from now.
    const double halfLife = length / 5;
    double used = 0;
    double weight = 0;
    for (std::size_t i = 1; i < series.size(); ++i) {
        const double older = secondsBetween(series[i - 1].at, now);
        const double younger = secondsBetween(series[i].at, now);
        const double span = older - younger;
        if (span <= 0) {
            continue;
        }
        const double w = decayWeight(younger, older, halfLife);
        used += (series[i].usedPercent - series[i - 1].usedPercent) / span * w;
        weight += w;
    }
    weight += decayWeight(0, secondsBetween(series.back().at, now), halfLife);
    if (weight <= 0) {
        return pace;
    }
    pace.ratePerHour = used / weight * kSecondsPerHour;

    const double hoursToReset =
        resetAt ? secondsBetween(now, *resetAt) / kSecondsPerHour : kLongestProjectionHours;
    const double hoursToLimit = pace.ratePerHour > 1e-9
                                    ? (100.0 - pace.usedPercent) / pace.ratePerHour
                                    : kLongestProjectionHours + 1;
    if (hoursToLimit < hoursToReset && hoursToLimit <= kLongestProjectionHours) {
        pace.kind = UsagePace::Kind::limitBeforeReset;
        pace.limitAt = shiftedInstant(
            now, std::chrono::nanoseconds(static_cast<std::int64_t>(hoursToLimit * 3.6e12)));
        if (pace.limitAt) {
            return pace;
        }
    }
    if (!resetAt) {
        pace.kind = UsagePace::Kind::idle;
        return pace;
    }
    pace.kind = UsagePace::Kind::usedAtReset;
    pace.usedAtReset = std::min(100.0, pace.usedPercent + pace.ratePerHour * hoursToReset);
    return pace;
}

std::string paceClockText(Instant at, Instant now, seconds utcOffset) {
    const long long local = unixSecondsTruncated(at) + utcOffset.count();
    const long long day = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    const long long ofDay = local - day * 86400;
    std::string text = twoDigits(ofDay / 3600) + ":" + twoDigits(ofDay / 60 % 60);
    if (std::chrono::abs(at - now) >= hours(20)) {
        static constexpr std::array<const char*, 7> kDays{"Thu", "Fri", "Sat", "Sun",
                                                          "Mon", "Tue", "Wed"};
        text = std::string(kDays[static_cast<std::size_t>(((day % 7) + 7) % 7)]) + " " + text;
    }
    return text;
}

std::string paceDurationText(seconds duration) {
    const long long minutes = std::max<long long>(1, (duration.count() + 30) / 60);
    if (minutes < 60) {
        return std::to_string(minutes) + " min";
    }
    if (minutes < 24 * 60) {
        const long long rest = minutes % 60;
        return std::to_string(minutes / 60) + " h" +
               (rest ? " " + std::to_string(rest) + " min" : std::string());
    }
    const long long wholeHours = (minutes + 30) / 60;
    const long long rest = wholeHours % 24;
    return std::to_string(wholeHours / 24) + " d" +
           (rest ? " " + std::to_string(rest) + " h" : std::string());
}

std::string usagePaceText(const UsagePace& pace, Instant now,
                          const std::function<std::string(Instant)>& clockText) {
    switch (pace.kind) {
    case UsagePace::Kind::notEnoughData:
        return "Pace: not enough data yet";
    case UsagePace::Kind::limitReached:
        return "Pace: limit reached";
    case UsagePace::Kind::idle:
        return "Pace: idle";
    case UsagePace::Kind::limitBeforeReset: {
        std::string text = "At this pace: limit at " + clockText(pace.limitAt.value_or(now));
        if (pace.resetAt && pace.limitAt) {
            text += ", " +
                    paceDurationText(
                        std::chrono::duration_cast<seconds>(*pace.resetAt - *pace.limitAt)) +
                    " before the reset";
        }
        return text;
    }
    case UsagePace::Kind::usedAtReset: {
        const double used = std::round(pace.usedAtReset.value_or(pace.usedPercent));
        return "At this pace: about " + std::to_string(static_cast<long long>(used)) +
               " % used at the reset";
    }
    }
    return "Pace: not enough data yet";
}

std::string paceWindowName(const ProviderUsage& row) {
    static constexpr std::array<std::pair<char, const char*>, 4> kUnits{
        {{'m', "minute"}, {'h', "hour"}, {'d', "day"}, {'w', "week"}}};
    if (row.window && row.window->label) {
        if (const auto parsed = parseWindowLabel(*row.window->label)) {
            for (const auto& [unit, name] : kUnits) {
                if (unit == parsed->second) {
                    return std::to_string(parsed->first) + "-" + name;
                }
            }
        }
    }
    std::string text = primaryWindowText(row);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string paceAlertText(const ProviderUsage& row, seconds untilLimit) {
    const long long minutes = std::max<long long>(0, untilLimit.count()) / 60;
    std::string amount;
    if (minutes < 58) {
        const long long fives = std::max(5LL, (minutes + 2) / 5 * 5);
        amount = std::to_string(fives) + " minutes";
    } else if (minutes < 36 * 60) {
        const long long wholeHours = std::max(1LL, (minutes + 30) / 60);
        amount = std::to_string(wholeHours) + (wholeHours == 1 ? " hour" : " hours");
    } else {
        amount = std::to_string((minutes + 720) / 1440) + " days";
    }
    return "At this pace " + row.displayName + " reaches its " + paceWindowName(row) +
           " limit in about " + amount;
}

seconds paceAlertLead(seconds windowLength) {
    return std::max<seconds>(std::chrono::minutes(30), windowLength / 20);
}

} // namespace korvo

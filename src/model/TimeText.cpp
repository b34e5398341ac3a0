#include "model/TimeText.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace korvo {
namespace {

using namespace std::chrono;

// Reads exactly `count` ASCII digits at `pos`.
std::optional<int> readDigits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

bool hasChar(std::string_view text, std::size_t pos, char expected) {
    return pos < text.size() && text[pos] == expected;
}

std::optional<Instant> parse(std::string_view text, bool allowFraction) {
    // YYYY-MM-DDTHH:MM:SS
    const auto year = readDigits(text, 0, 4);
    const auto month = readDigits(text, 5, 2);
    const auto day = readDigits(text, 8, 2);
    const auto hour = readDigits(text, 11, 2);
    const auto minute = readDigits(text, 14, 2);
    const auto second = readDigits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || !hasChar(text, 4, '-') ||
        !hasChar(text, 7, '-') || !(hasChar(text, 10, 'T') || hasChar(text, 10, 't')) ||
        !hasChar(text, 13, ':') || !hasChar(text, 16, ':')) {
        return std::nullopt;
    }
    const year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                              std::chrono::day(unsigned(*day))};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }

    std::size_t pos = 19;
    nanoseconds fraction{0};
    if (hasChar(text, pos, '.')) {
        if (!allowFraction) {
            return std::nullopt;
        }
        ++pos;
        const std::size_t start = pos;
        std::int64_t nanos = 0;
        std::int64_t scale = 100'000'000;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            nanos += (text[pos] - '0') * scale; // digits beyond nanoseconds are dropped
            scale /= 10;
            ++pos;
        }
        if (pos == start) {
            return std::nullopt;
        }
        fraction = nanoseconds(nanos);
    }

    seconds offset{0};
    if (hasChar(text, pos, 'Z') || hasChar(text, pos, 'z')) {
        ++pos;
    } else if (hasChar(text, pos, '+') || hasChar(text, pos, '-')) {
        const bool negative = text[pos] == '-';
        const auto offsetHours = readDigits(text, pos + 1, 2);
        const auto offsetMinutes = readDigits(text, pos + 4, 2);
        if (!offsetHours || !offsetMinutes || !hasChar(text, pos + 3, ':') || *offsetHours > 23 ||
            *offsetMinutes > 59) {
            return std::nullopt;
        }
        offset = hours(*offsetHours) + minutes(*offsetMinutes);
        if (negative) {
            offset = -offset;
        }
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }

    const sys_seconds utc =
        sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second) - offset;
    // Instants count nanoseconds in 64 bits (about the years 1678 to 2261); a date outside
    // that range is refused rather than wrapped around.
    const auto whole = checkedInstantFromUnixSeconds(utc.time_since_epoch().count());
    if (!whole) {
        return std::nullopt;
    }
    return shiftedInstant(*whole, fraction);
}

// `to - from` in seconds. Subtracting the instants themselves can overflow their 64-bit
// nanosecond count (two instants more than 292 years apart); whole seconds and the sub-second
// rests are subtracted apart instead.
double secondsBetween(Instant from, Instant to) {
    constexpr std::int64_t kPerSecond = 1'000'000'000;
    const std::int64_t fromCount = from.time_since_epoch().count();
    const std::int64_t toCount = to.time_since_epoch().count();
    const std::int64_t wholeSeconds = toCount / kPerSecond - fromCount / kPerSecond;
    const std::int64_t restNanoseconds = toCount % kPerSecond - fromCount % kPerSecond;
    return static_cast<double>(wholeSeconds) + static_cast<double>(restNanoseconds) / 1e9;
}

} // namespace

std::optional<Instant> parseInternetDateTime(std::string_view text) {
    return parse(text, true);
}

std::optional<Instant> parseInternetDateTimeWholeSeconds(std::string_view text) {
    return parse(text, false);
}

std::string formatInternetDateTime(Instant instant) {
    const auto whole = floor<seconds>(instant);
    const auto dayStart = floor<days>(whole);
    const year_month_day date{dayStart};
    const hh_mm_ss<seconds> time{whole - dayStart};
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return buffer.data();
}

std::string relativeTimePhrase(Instant target, Instant now) {
    struct Unit {
        std::int64_t seconds;
        const char* name;
        double perNextUnit; // a count this large reads better in the next unit
    };
    static constexpr std::array<Unit, 7> units{{
        {1, "second", 60},
        {60, "minute", 60},
        {3'600, "hour", 24},
        {86'400, "day", 7},
        {604'800, "week", 5},
        {2'592'000, "month", 12},
        {31'536'000, "year", 0},
    }};
    // Each unit is used below the next unit's length (weeks up to 30 days).
    const double distance = secondsBetween(now, target);
    const double rounded = std::round(distance);
    const bool future = rounded >= 0;
    const double magnitude = std::fabs(rounded);

    std::size_t index = 0;
    while (index + 1 < units.size() && magnitude >= double(units[index + 1].seconds)) {
        ++index;
    }
    double count = std::round(magnitude / double(units[index].seconds));
    // Rounding up can reach the next unit: 59.6 minutes is "1 hour", 11.6 months "1 year".
    if (index + 1 < units.size() && count >= units[index].perNextUnit) {
        ++index;
        count = std::round(magnitude / double(units[index].seconds));
    }

    std::string phrase = wholeNumberText(count) + " " + units[index].name;
    if (count != 1) {
        phrase += "s";
    }
    return future ? "in " + phrase : phrase + " ago";
}

std::string wholeNumberText(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "Infinity" : "-Infinity";
    }
    // std::round rounds halves away from zero; adding 0.0 turns -0 into 0.
    const double rounded = std::round(value) + 0.0;
    // to_chars, unlike printf, ignores the process locale.
    std::array<char, 400> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), rounded,
                                   std::chars_format::fixed, 0)
                         .ptr;
    return std::string(buffer.data(), end);
}

std::string groupedNumberText(double value) {
    std::string digits = wholeNumberText(value);
    const std::size_t start = !digits.empty() && digits[0] == '-' ? 1 : 0;
    if (digits.find_first_not_of("0123456789", start) != std::string::npos) {
        return digits; // NaN, Infinity
    }
    for (std::ptrdiff_t at = std::ptrdiff_t(digits.size()) - 3; at > std::ptrdiff_t(start);
         at -= 3) {
        digits.insert(std::size_t(at), 1, ',');
    }
    return digits;
}

std::string resetPhrase(Instant reset, Instant now, std::chrono::seconds utcOffset) {
    const double distance = secondsBetween(now, reset);
    if (distance <= 0) {
        return "now";
    }
    if (distance < 60) {
        return "in less than 1 min";
    }
    if (distance <= 86'400) {
        const auto totalMinutes = static_cast<std::int64_t>(std::ceil(distance / 60));
        const std::int64_t h = totalMinutes / 60;
        const std::int64_t m = totalMinutes % 60;
        std::string phrase = "in ";
        if (h > 0) {
            phrase += std::to_string(h) + " h";
            if (m > 0) {
                phrase += " ";
            }
        }
        if (m > 0) {
            phrase += std::to_string(m) + " min";
        }
        return phrase;
    }
    const auto local = floor<minutes>(reset) + utcOffset;
    const auto dayStart = floor<days>(local);
    static constexpr std::array<const char*, 7> weekdays{"Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat"};
    const weekday day{sys_days(dayStart)};
    const hh_mm_ss<minutes> time{duration_cast<minutes>(local - dayStart)};
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%s %02d:%02d", weekdays[day.c_encoding()],
                  int(time.hours().count()), int(time.minutes().count()));
    std::string phrase = buffer.data();
    // Beyond a week the weekday alone would be ambiguous: the date is added.
    if (distance >= 6.5 * 86'400) {
        const year_month_day date{sys_days(dayStart)};
        static constexpr std::array<const char*, 12> months{
            "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        phrase += " (" + std::to_string(unsigned(date.day())) + " " +
                  months[unsigned(date.month()) - 1] + ")";
    }
    return phrase;
}

std::chrono::seconds localUtcOffset(Instant instant) {
    const auto t = static_cast<std::time_t>(unixSecondsTruncated(instant));
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return std::chrono::seconds(0);
    }
    return std::chrono::seconds(local.tm_gmtoff);
}

std::string wholePercentText(double percent) {
    return wholeNumberText(percent) + "%";
}

} // namespace korvo

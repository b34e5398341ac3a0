#include "model/TimeText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace korvo {
namespace {

using namespace std::chrono_literals;

constexpr Instant t0 = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z

TEST(TimeText, ParseInternetDateTime) {
    // Whole seconds are what the wire form allows; fractions are read elsewhere.
    const std::tuple<const char*, Instant, bool> valid[] = {
        {"2026-03-01T09:14:05Z", t0, true},
        {"2026-03-01t09:14:05z", t0, true},
        {"2026-03-01T11:14:05+02:00", t0, true},
        {"2026-03-01T03:44:05-05:30", t0, true},
        {"2026-03-01T09:14:05.250Z", t0 + 250ms, false},
        {"2026-03-01T09:14:05.5+01:00", t0 - 1h + 500ms, false},
        {"2026-03-01T09:14:05.123456789123Z", t0 + 123456789ns, false},
        {"1969-12-31T23:59:59Z", instantFromUnixSeconds(-1), true},
        {"2028-02-29T00:00:00Z", instantFromUnixSeconds(1835395200), true},
        // Instants span about 1678 to 2262; dates beyond are refused below, not wrapped.
        {"2262-04-11T23:47:15Z", instantFromUnixSeconds(9223372035), true},
    };
    for (const auto& [text, instant, wholeSeconds] : valid) {
        EXPECT_EQ(parseInternetDateTime(text), instant) << text;
        EXPECT_EQ(parseInternetDateTimeWholeSeconds(text),
                  wholeSeconds ? std::optional(instant) : std::nullopt)
            << text;
    }
    const auto refused = [](auto... texts) {
        for (const std::string_view text : {std::string_view(texts)...}) {
            EXPECT_EQ(parseInternetDateTime(text), std::nullopt) << text;
            EXPECT_EQ(parseInternetDateTimeWholeSeconds(text), std::nullopt) << text;
        }
    };
    refused("2026-02-29T00:00:00Z", "2026-04-31T00:00:00Z", "2026-13-01T00:00:00Z",
            "2026-00-01T00:00:00Z", "2026-03-01T24:00:00Z", "2026-03-01T09:60:00Z",
            "2026-03-01T09:14:60Z", "2026-03-01T09:14:05", "2026-03-01 09:14:05Z",
            "2026-3-01T09:14:05Z", "2026-03-01T09:14:05.Z", "2026-03-01T09:14:05+0200",
            "2026-03-01T09:14:05+24:00", "2026-03-01T09:14:05Z ", "2026-03-01", "",
            "+2026-03-01T09:14:05Z", "2262-04-11T23:47:17Z", "9999-12-31T23:59:59Z",
            "0001-01-01T00:00:00Z");
}

TEST(TimeText, FormatWholeSecondsUtc) {
    const std::pair<Instant, const char*> cases[] = {
        {t0, "2026-03-01T09:14:05Z"},
        {t0 + 999999999ns, "2026-03-01T09:14:05Z"},
        {Instant{}, "1970-01-01T00:00:00Z"},
        {Instant{} - 1ns, "1969-12-31T23:59:59Z"}, // toward the past, also before 1970
        {instantFromUnixSeconds(1835395200) - 1s, "2028-02-28T23:59:59Z"},
        {instantFromUnixSeconds(951782400), "2000-02-29T00:00:00Z"},
    };
    for (const auto& [instant, expected] : cases) {
        EXPECT_EQ(formatInternetDateTime(instant), expected);
    }
}

TEST(TimeText, RelativePhraseIsNumericWithFullUnits) {
    constexpr double day = 86400;
    const std::pair<double, const char*> cases[] = {
        // seconds from now
        {0, "in 0 seconds"},       {0.4, "in 0 seconds"},      {-0.4, "in 0 seconds"},
        {1, "in 1 second"},        {-1, "1 second ago"},       {59, "in 59 seconds"},
        {59.6, "in 1 minute"},     {-300, "5 minutes ago"},    {90, "in 2 minutes"},
        {3599, "in 1 hour"},       {7200, "in 2 hours"},       {7199.4, "in 2 hours"},
        {-7200, "2 hours ago"},    {5399, "in 1 hour"},        {day, "in 1 day"},
        {-3 * day, "3 days ago"},  {6.6 * day, "in 1 week"},   {20 * day, "in 3 weeks"},
        {45 * day, "in 2 months"}, {-364 * day, "1 year ago"}, {800 * day, "in 2 years"},
    };
    for (const auto& [seconds, expected] : cases) {
        const auto offset = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(seconds));
        EXPECT_EQ(relativeTimePhrase(t0 + offset, t0), expected) << seconds;
    }
}

TEST(TimeText, WholePercentRoundsHalvesAwayFromZero) {
    const std::pair<double, const char*> cases[] = {
        {36.5, "37%"},          {63.5, "64%"},
        {-0.5, "-1%"},          {2.5, "3%"},
        {2.4999, "2%"},         {0.4, "0%"},
        {-0.4, "0%"},           {100, "100%"},
        {120, "120%"},          {1e20, "100000000000000000000%"},
        {std::nan(""), "NaN%"}, {-std::numeric_limits<double>::infinity(), "-Infinity%"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(wholePercentText(value), expected) << value;
    }
}

} // namespace
} // namespace korvo

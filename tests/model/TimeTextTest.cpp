#include "model/TimeText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace korvo {
namespace {

using namespace std::chrono_literals;

constexpr Instant t0 = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z

struct ParseCase {
    const char* text;
    std::optional<Instant> expected; // with fractions allowed
    bool wholeSecondsValid;          // accepted by the wire-form parser too
};

class InternetDateTimeParse : public testing::TestWithParam<ParseCase> {};

TEST_P(InternetDateTimeParse, MatchesExpectation) {
    const auto& c = GetParam();
    EXPECT_EQ(parseInternetDateTime(c.text), c.expected) << c.text;
    EXPECT_EQ(parseInternetDateTimeWholeSeconds(c.text),
              c.wholeSecondsValid ? c.expected : std::nullopt)
        << c.text;
}

const std::optional<Instant> invalid = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Table, InternetDateTimeParse,
    testing::Values(ParseCase{"2026-03-01T09:14:05Z", t0, true},
                    ParseCase{"2026-03-01t09:14:05z", t0, true},
                    ParseCase{"2026-03-01T11:14:05+02:00", t0, true},
                    ParseCase{"2026-03-01T03:44:05-05:30", t0, true},
                    ParseCase{"2026-03-01T09:14:05+00:00", t0, true},
                    ParseCase{"2026-03-01T09:14:05.250Z", t0 + 250ms, false},
                    ParseCase{"2026-03-01T09:14:05.5+01:00", t0 - 1h + 500ms, false},
                    ParseCase{"2026-03-01T09:14:05.123456789123Z", t0 + 123456789ns, false},
                    ParseCase{"1969-12-31T23:59:59Z", instantFromUnixSeconds(-1), true},
                    ParseCase{"2028-02-29T00:00:00Z", instantFromUnixSeconds(1835395200), true},
                    ParseCase{"2026-02-29T00:00:00Z", invalid, false},
                    ParseCase{"2026-04-31T00:00:00Z", invalid, false},
                    ParseCase{"2026-13-01T00:00:00Z", invalid, false},
                    ParseCase{"2026-00-01T00:00:00Z", invalid, false},
                    ParseCase{"2026-03-01T24:00:00Z", invalid, false},
                    ParseCase{"2026-03-01T09:60:00Z", invalid, false},
                    ParseCase{"2026-03-01T09:14:60Z", invalid, false},
                    ParseCase{"2026-03-01T09:14:05", invalid, false},
                    ParseCase{"2026-03-01 09:14:05Z", invalid, false},
                    ParseCase{"2026-3-01T09:14:05Z", invalid, false},
                    ParseCase{"2026-03-01T09:14:05.Z", invalid, false},
                    ParseCase{"2026-03-01T09:14:05+0200", invalid, false},
                    ParseCase{"2026-03-01T09:14:05+24:00", invalid, false},
                    ParseCase{"2026-03-01T09:14:05Z ", invalid, false},
                    ParseCase{"2026-03-01", invalid, false}, ParseCase{"", invalid, false},
                    ParseCase{"+2026-03-01T09:14:05Z", invalid, false},
                    // Instants span about 1678 to 2261; dates beyond are refused, not wrapped.
                    ParseCase{"2262-04-11T23:47:15Z", instantFromUnixSeconds(9223372035), true},
                    ParseCase{"2262-04-11T23:47:17Z", invalid, false},
                    ParseCase{"9999-12-31T23:59:59Z", invalid, false},
                    ParseCase{"0001-01-01T00:00:00Z", invalid, false}));

struct FormatCase {
    Instant instant;
    const char* expected;
};

class InternetDateTimeFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(InternetDateTimeFormat, WholeSecondsUtc) {
    EXPECT_EQ(formatInternetDateTime(GetParam().instant), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InternetDateTimeFormat,
    testing::Values(FormatCase{t0, "2026-03-01T09:14:05Z"},
                    FormatCase{t0 + 999999999ns, "2026-03-01T09:14:05Z"},
                    FormatCase{Instant{}, "1970-01-01T00:00:00Z"},
                    // Fractions are dropped toward the past, also before 1970.
                    FormatCase{Instant{} - 1ns, "1969-12-31T23:59:59Z"},
                    FormatCase{instantFromUnixSeconds(1835395200) - 1s, "2028-02-28T23:59:59Z"},
                    FormatCase{instantFromUnixSeconds(951782400), "2000-02-29T00:00:00Z"}));

struct RelativeCase {
    std::chrono::duration<double> offset; // target minus now
    const char* expected;
};

class RelativeTimePhrase : public testing::TestWithParam<RelativeCase> {};

TEST_P(RelativeTimePhrase, NumericWithFullUnits) {
    const auto target =
        t0 + std::chrono::duration_cast<std::chrono::nanoseconds>(GetParam().offset);
    EXPECT_EQ(relativeTimePhrase(target, t0), GetParam().expected);
}

constexpr std::chrono::duration<double> days(double n) {
    return std::chrono::duration<double>(n * 86400);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelativeTimePhrase,
    testing::Values(RelativeCase{0s, "in 0 seconds"}, RelativeCase{400ms, "in 0 seconds"},
                    RelativeCase{-400ms, "in 0 seconds"}, RelativeCase{1s, "in 1 second"},
                    RelativeCase{-1s, "1 second ago"}, RelativeCase{59s, "in 59 seconds"},
                    RelativeCase{59.6s, "in 1 minute"}, RelativeCase{-300s, "5 minutes ago"},
                    RelativeCase{90s, "in 2 minutes"}, RelativeCase{3599s, "in 1 hour"},
                    RelativeCase{7200s, "in 2 hours"}, RelativeCase{7199.4s, "in 2 hours"},
                    RelativeCase{-7200s, "2 hours ago"}, RelativeCase{5399s, "in 1 hour"},
                    RelativeCase{days(1), "in 1 day"}, RelativeCase{-days(3), "3 days ago"},
                    RelativeCase{days(6.6), "in 1 week"}, RelativeCase{days(20), "in 3 weeks"},
                    RelativeCase{days(45), "in 2 months"}, RelativeCase{-days(364), "1 year ago"},
                    RelativeCase{days(800), "in 2 years"}));

struct PercentCase {
    double value;
    const char* expected;
};

class WholePercentText : public testing::TestWithParam<PercentCase> {};

TEST_P(WholePercentText, HalvesAwayFromZero) {
    EXPECT_EQ(wholePercentText(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WholePercentText,
    testing::Values(PercentCase{36.5, "37%"}, PercentCase{63.5, "64%"}, PercentCase{-0.5, "-1%"},
                    PercentCase{2.5, "3%"}, PercentCase{2.4999, "2%"}, PercentCase{0.4, "0%"},
                    PercentCase{-0.4, "0%"}, PercentCase{100, "100%"}, PercentCase{120, "120%"},
                    PercentCase{1e20, "100000000000000000000%"}, PercentCase{std::nan(""), "NaN%"},
                    PercentCase{-std::numeric_limits<double>::infinity(), "-Infinity%"}));

} // namespace
} // namespace korvo

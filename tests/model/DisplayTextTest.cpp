#include "model/DisplayText.h"

#include "model/TimeText.h"
#include "model/UsageSnapshot.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

namespace korvo {
namespace {

using namespace std::chrono_literals;

constexpr Instant now = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z
using O = std::optional<double>;
const O none;
const double nan = std::nan("");

using V = std::vector<std::string>;

// Raw values in declaration order, each reading back as its own case.
template <class E> V names() {
    V values;
    for (const auto c : allCases<E>()) {
        EXPECT_EQ(enumFromRawValue<E>(rawValue(c)), std::optional<E>(c));
        values.push_back(std::string(rawValue(c)));
    }
    return values;
}

TEST(TimeText, ParseInternetDateTime) {
    // Whole seconds are what the wire form allows; fractions are read elsewhere.
    const std::tuple<const char*, Instant, bool> valid[] = {
        {"2026-03-01T09:14:05Z", now, true},
        {"2026-03-01t09:14:05z", now, true},
        {"2026-03-01T11:14:05+02:00", now, true},
        {"2026-03-01T03:44:05-05:30", now, true},
        {"2026-03-01T09:14:05.250Z", now + 250ms, false},
        {"2026-03-01T09:14:05.5+01:00", now - 1h + 500ms, false},
        {"2026-03-01T09:14:05.123456789123Z", now + 123456789ns, false},
        {"1969-12-31T23:59:59Z", instantFromUnixSeconds(-1), true},
        {"2028-02-29T00:00:00Z", instantFromUnixSeconds(1835395200), true},
        // Instants span about 1678 to 2262; dates beyond are refused below, not wrapped.
        {"2262-04-11T23:47:16Z", instantFromUnixSeconds(9223372036), true},
        {"2262-04-11T23:47:16.854775807Z", Instant::max(), false},
        {"1677-09-21T00:12:44Z", instantFromUnixSeconds(-9223372036), true},
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
            "+2026-03-01T09:14:05Z", "2262-04-11T23:47:17Z", "2262-04-11T23:47:16.854775808Z",
            "1677-09-21T00:12:43Z", "9999-12-31T23:59:59Z", "0001-01-01T00:00:00Z");
}

TEST(TimeText, FormatWholeSecondsUtc) {
    const std::pair<Instant, const char*> cases[] = {
        {now, "2026-03-01T09:14:05Z"},
        {now + 999999999ns, "2026-03-01T09:14:05Z"},
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
        EXPECT_EQ(relativeTimePhrase(now + offset, now), expected) << seconds;
    }
    // Instants further apart than their nanosecond count can subtract.
    const std::tuple<Instant, Instant, const char*> far[] = {
        {Instant::min(), now, "349 years ago"},
        {Instant::max(), now, "in 236 years"},
        {Instant::max(), Instant::min(), "in 585 years"},
        {Instant::min(), Instant::max(), "585 years ago"},
        {instantFromUnixSeconds(-7'500'000'000), now, "294 years ago"},
    };
    for (const auto& [target, from, expected] : far) {
        EXPECT_EQ(relativeTimePhrase(target, from), expected);
    }
}

TEST(TimeText, WholePercentRoundsHalvesAwayFromZero) {
    // More halves, and values past 100, are read through the primary percents below.
    const std::pair<double, const char*> cases[] = {
        // clang-format off
        {2.5, "3%"}, {2.4999, "2%"}, {0.4, "0%"}, {-0.4, "0%"}, {1e20, "100000000000000000000%"},
        {std::nan(""), "NaN%"}, {-std::numeric_limits<double>::infinity(), "-Infinity%"},
        // clang-format on
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(wholePercentText(value), expected) << value;
    }
}

// The raw values are a wire contract.
TEST(Enumerations, RawValuesInDeclarationOrder) {
    EXPECT_EQ(names<SnapshotDeviceKind>(), (V{"mac", "windows", "linux", "server", "manual"}));
    EXPECT_EQ(names<UsageWindowKind>(), (V{"rolling", "daily", "weekly", "monthly", "unknown"}));
    EXPECT_EQ(names<SourceType>(), (V{"korvo_connector", "official_api", "official_oauth",
                                      "local_cli", "manual", "demo", "unknown"}));
    EXPECT_EQ(names<Confidence>(), (V{"official", "cli_reported", "connector_reported", "inferred",
                                      "estimated", "manual", "demo", "unknown"}));
    EXPECT_EQ(names<ProviderStatus>(),
              (V{"ok", "warning", "critical", "limited", "offline", "stale", "unknown"}));
    EXPECT_EQ(names<KorvoBuildChannel>(),
              (V{"development", "internal_beta", "public_beta", "release"}));
}

TEST(BuildChannel, ExactCaseMatchOrRelease) {
    using C = KorvoBuildChannel;
    const std::pair<std::optional<std::string_view>, KorvoBuildChannel> cases[] = {
        {"development", C::development}, {"internal_beta", C::internalBeta},
        {"public_beta", C::publicBeta},  {"release", C::release},
        {"Public_Beta", C::release},     {"development ", C::release},
        {std::nullopt, C::release}};
    for (const auto& [configured, expected] : cases) {
        EXPECT_EQ(C::fromConfiguredValue(configured), expected) << configured.value_or("<none>");
    }
    EXPECT_EQ(C::current(), C::fromConfiguredValue(KORVO_CONFIGURED_CHANNEL));
}

TEST(DisplayText, PrimaryPercentsFollowTheirFallbacks) {
    // used, remaining, remaining text; the texts shown, and the used percentage the pace and the
    // history record
    const std::tuple<O, O, std::optional<std::string>, std::string, std::string, O> cases[] = {
        {63.5, 36.5, {}, "37%", "64%", 63.5},
        {120, -0.5, {}, "-1%", "120%", 120}, // reported values are not clamped
        {120, none, {}, "0%", "120%", 120},
        {-3, none, {}, "100%", "-3%", -3},
        {17.5, none, {}, "83%", "18%", 17.5},
        {none, -5, {}, "-5%", "100%", 105},
        {none, 81.5, {}, "82%", "19%", 18.5},
        {none, none, "18% remaining", "18% remaining", "Limit unavailable", none},
        {none, 40, "18% remaining", "40%", "60%", 60},
        {none, none, {}, "Limit unavailable", "Limit unavailable", none},
        {nan, 30, {}, "30%", "70%", 70}, // a non-finite value counts as absent
    };
    for (const auto& [used, remaining, text, expectedRemaining, expectedUsed, usedPercent] :
         cases) {
        ProviderUsage row;
        row.usage = {used, remaining, {}, {}, {}, {}, text};
        EXPECT_EQ(primaryRemainingText(row), expectedRemaining) << expectedUsed;
        EXPECT_EQ(primaryUsedText(row), expectedUsed) << expectedRemaining;
        EXPECT_EQ(usedPercentOf(row), usedPercent) << expectedUsed;
    }
}

TEST(DisplayText, WindowNameAndReset) {
    using K = UsageWindowKind;
    const std::tuple<std::optional<UsageWindow>, std::string, std::string> cases[] = {
        {std::nullopt, "Unknown", "unknown"},
        {UsageWindow{K::rolling, "5h", {}, now + 7200s}, "5h", "in 2 h"},
        {UsageWindow{K::rolling, "5h", {}, now + 6000s}, "5h", "in 1 h 40 min"},
        {UsageWindow{K::weekly, "", {}, now - 300s}, "Weekly", "now"},
        {UsageWindow{K::daily, {}, now, {}}, "Daily", "unknown"},
    };
    for (const auto& [window, name, reset] : cases) {
        ProviderUsage row;
        row.window = window;
        EXPECT_EQ(primaryWindowText(row), name);
        EXPECT_EQ(resetText(row, now), reset) << name;
    }
}

TEST(DisplayText, TokenDetailsJoinPresentParts) {
    const std::tuple<O, O, O, O, std::optional<std::string>> cases[] = {
        {120000, 18000, 50000, 3.42,
         "Input 120,000 \u00B7 Output 18,000 \u00B7 Cached 50,000 \u00B7 Cost $3.42"},
        {none, none, none, none, std::nullopt},
        {1234567.5, 0.4, none, none, "Input 1,234,568 \u00B7 Output 0"},
        {none, none, 7, 0.005, "Cached 7 \u00B7 Cost $0.01"},
        {none, 12, none, 0, "Output 12 \u00B7 Cost $0.00"},
        {1e15, none, none, 1234.567, "Input 1,000,000,000,000,000 \u00B7 Cost $1234.57"},
    };
    for (const auto& [input, output, cached, cost, expected] : cases) {
        ProviderUsage row;
        row.usage = {50, 50, input, output, cached, cost, "x"}; // never in the details
        EXPECT_EQ(tokenDetailsText(row), expected) << expected.value_or("<none>");
    }
    // The tool's own token kinds of a remaining text made only of them follow, grouped too.
    ProviderUsage row;
    row.usage.inputTokens = 1200;
    row.usage.remainingText = "Thought 9000 tokens \u00B7 Tool 25 tokens";
    EXPECT_EQ(tokenDetailsText(row), "Input 1,200 \u00B7 Thought 9,000 \u00B7 Tool 25");
}

TEST(TimeText, GroupedNumbersAndResetPhrases) {
    const std::pair<double, const char*> numbers[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {123456, "123,456"},
        {1234567.5, "1,234,568"},
        {-1234, "-1,234"},
        {std::nan(""), "NaN"},
    };
    for (const auto& [value, expected] : numbers) {
        EXPECT_EQ(groupedNumberText(value), expected) << value;
    }
    // Within a day, hours and minutes (rounded up); beyond, the weekday and time in the zone
    // given, with the date from a week on. now is Sunday 2026-03-01 09:14:05 UTC.
    const std::tuple<std::chrono::seconds, std::chrono::seconds, const char*> resets[] = {
        {-5s, 0s, "now"},
        {0s, 0s, "now"},
        {30s, 0s, "in less than 1 min"},
        {60s, 0s, "in 1 min"},
        {2400s, 0s, "in 40 min"},
        {6000s, 0s, "in 1 h 40 min"},
        {5941s, 0s, "in 1 h 40 min"},
        {7200s, 0s, "in 2 h"},
        {86400s, 0s, "in 24 h"},
        {86400s + 55s * 60 - 5s, 0s, "Mon 10:09"},
        {86400s + 55s * 60 - 5s, 3600s, "Mon 11:09"},
        {86400s * 3, -36000s, "Tue 23:14"},
        {86400s * 8, 0s, "Mon 09:14 (9 Mar)"},
    };
    for (const auto& [offset, zone, expected] : resets) {
        EXPECT_EQ(resetPhrase(now + offset, now, zone), expected) << offset.count();
    }
}

TEST(DisplayText, SecondWindowTextHasOneReader) {
    const std::pair<const char*, std::optional<SecondWindow>> cases[] = {
        {"Weekly 90% remaining \u00B7 10% used \u00B7 resets 2026-01-12T10:00:00Z",
         SecondWindow{"Weekly", 90, 10, instantFromUnixSeconds(1768212000)}},
        {"7d 40% remaining \u00B7 60% used", SecondWindow{"7d", 40, 60, {}}},
        {"Primary quota window reset; waiting for the next local quota sample \u00B7 Weekly 0% "
         "remaining \u00B7 100% used",
         SecondWindow{"Weekly", 0, 100, {}}},
        {"Weekly 90% remaining \u00B7 10% used \u00B7 resets soon",
         SecondWindow{"Weekly", 90, 10, {}}},
        {"18% remaining", std::nullopt},
        {"Weekly 90% remaining", std::nullopt},
        {"Weekly 190% remaining \u00B7 10% used", std::nullopt},
        {"Weekly x% remaining \u00B7 10% used", std::nullopt},
        {"Thought 90 tokens \u00B7 Tool 25 tokens", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseSecondWindowText(text), expected) << text;
        ProviderUsage row;
        row.usage.remainingText = text;
        EXPECT_EQ(secondWindow(row), expected) << text;
    }
    EXPECT_EQ(secondWindowName(SecondWindow{"7d", 1, 99, {}}), "7-day");
    EXPECT_EQ(secondWindowName(SecondWindow{"Weekly", 1, 99, {}}), "Weekly");
}

// The row's state is its most urgent window's: the weekly window nearly used up turns an "Ok" row
// critical, never the other way round, and states that are not about quota stay.
TEST(DisplayText, ARowShowsTheStateOfItsMostUrgentWindow) {
    using S = ProviderStatus;
    const auto make = [](S status, std::optional<std::string> text) {
        ProviderUsage row;
        row.status = status;
        row.usage.remainingPercent = 55;
        row.usage.remainingText = std::move(text);
        return row;
    };
    const std::string weekly3 = "Weekly 3% remaining \u00B7 97% used";
    const std::string weekly15 = "Weekly 15% remaining \u00B7 85% used";
    const std::string weekly0 = "Weekly 0% remaining \u00B7 100% used";
    const std::string weekly90 = "Weekly 90% remaining \u00B7 10% used";
    const std::tuple<S, std::optional<std::string>, S> cases[] = {
        {S::ok, weekly3, S::critical},      {S::ok, weekly15, S::warning},
        {S::ok, weekly0, S::limited},       {S::ok, weekly90, S::ok},
        {S::warning, weekly90, S::warning}, {S::critical, weekly15, S::critical},
        {S::limited, weekly90, S::limited}, {S::offline, weekly3, S::offline},
        {S::stale, weekly0, S::stale},      {S::unknown, weekly3, S::unknown},
        {S::ok, std::nullopt, S::ok},       {S::ok, "Thought 9 tokens", S::ok},
    };
    for (const auto& [status, text, expected] : cases) {
        EXPECT_EQ(rowStatus(make(status, text)), expected) << text.value_or("(none)");
    }
}

TEST(DisplayText, TheBigFigureIsRemainingOrUsage) {
    using F = UsageFigure;
    const auto make = [](O remaining, O input, O output, std::optional<std::string> text) {
        ProviderUsage row;
        row.usage.remainingPercent = remaining;
        row.usage.inputTokens = input;
        row.usage.outputTokens = output;
        row.usage.remainingText = std::move(text);
        return row;
    };
    const std::pair<ProviderUsage, UsageFigure> cases[] = {
        {make(70, 5, 5, "Weekly 90% remaining \u00B7 10% used"), F{"70%", "remaining", true}},
        {make(none, 120000, 3456, "Thought 90 tokens \u00B7 Tool 25 tokens"),
         F{"123,571 tokens", "used this session", false}},
        {make(none, none, none, "Thought 1 tokens"), F{"1 token", "used this session", false}},
        {make(none, none, none, "12 premium requests used"),
         F{"12 premium requests used", "", false}},
        {make(none, none, none, "7d 40% remaining \u00B7 60% used"),
         F{"40%", "7-day remaining", true}},
        {make(none, none, none, {}), F{"Limit unavailable", "", false}},
    };
    for (const auto& [row, expected] : cases) {
        EXPECT_EQ(usageFigure(row), expected) << expected.figure;
    }
}

} // namespace
} // namespace korvo

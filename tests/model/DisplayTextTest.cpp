#include "model/DisplayText.h"

#include "model/TimeText.h"
#include "model/UsageSnapshot.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

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
    const std::tuple<O, O, std::optional<std::string>, std::string, std::string> cases[] = {
        {63.5, 36.5, {}, "37%", "64%"},
        {120, -0.5, {}, "-1%", "120%"}, // reported values are not clamped
        {120, none, {}, "0%", "120%"},
        {-3, none, {}, "100%", "-3%"},
        {17.5, none, {}, "83%", "18%"},
        {none, -5, {}, "-5%", "100%"},
        {none, 81.5, {}, "82%", "19%"},
        {none, none, "18% remaining", "18% remaining", "Limit unavailable"},
        {none, 40, "18% remaining", "40%", "60%"},
        {none, none, {}, "Limit unavailable", "Limit unavailable"},
        {nan, 30, {}, "30%", "70%"}, // a non-finite value counts as absent
    };
    for (const auto& [used, remaining, text, expectedRemaining, expectedUsed] : cases) {
        ProviderUsage row;
        row.usage = {used, remaining, {}, {}, {}, {}, text};
        EXPECT_EQ(primaryRemainingText(row), expectedRemaining) << expectedUsed;
        EXPECT_EQ(primaryUsedText(row), expectedUsed) << expectedRemaining;
    }
}

TEST(DisplayText, WindowNameAndReset) {
    using K = UsageWindowKind;
    const std::tuple<std::optional<UsageWindow>, std::string, std::string> cases[] = {
        {std::nullopt, "Unknown", "unknown"},
        {UsageWindow{K::rolling, "5h", {}, now + 7200s}, "5h", "in 2 hours"},
        {UsageWindow{K::weekly, "", {}, now - 300s}, "Weekly", "5 minutes ago"},
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
         "Input 120000 \u00B7 Output 18000 \u00B7 Cached 50000 \u00B7 Cost $3.42"},
        {none, none, none, none, std::nullopt},
        {1234567.5, 0.4, none, none, "Input 1234568 \u00B7 Output 0"},
        {none, none, 7, 0.005, "Cached 7 \u00B7 Cost $0.01"},
        {none, 12, none, 0, "Output 12 \u00B7 Cost $0.00"},
        {1e15, none, none, 1234.567, "Input 1000000000000000 \u00B7 Cost $1234.57"},
    };
    for (const auto& [input, output, cached, cost, expected] : cases) {
        ProviderUsage row;
        row.usage = {50, 50, input, output, cached, cost, "x"}; // never in the details
        EXPECT_EQ(tokenDetailsText(row), expected) << expected.value_or("<none>");
    }
}

} // namespace
} // namespace korvo

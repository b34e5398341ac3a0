#include "model/UsagePace.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using Kind = UsagePace::Kind;

// 2026-03-01T09:00:00Z.
constexpr Instant kStart = instantFromUnixSeconds(1772355600);

// Readings every `step` from `from`, used percentage rising by `perStep` from `used`, all of
// the window that resets at `resetAt`.
std::vector<UsagePoint> ramp(std::chrono::seconds from, std::chrono::seconds to,
                             std::chrono::seconds step, double used, double perStep,
                             std::optional<Instant> resetAt) {
    std::vector<UsagePoint> points;
    for (auto at = from; at <= to; at += step) {
        points.push_back({kStart + at, used, resetAt});
        used += perStep;
    }
    return points;
}

std::vector<UsagePoint> joined(std::vector<UsagePoint> a, const std::vector<UsagePoint>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string utcClock(Instant at) {
    return paceClockText(at, kStart, 0s);
}

TEST(UsagePaceTest, ProjectsTheWindowFromItsReadings) {
    const Instant reset5h = kStart + 5h;
    const Instant resetWeek = kStart + 7 * 24h;
    // 10 points per hour for an hour, then the same readings shuffled and doubled.
    const std::vector<UsagePoint> steady = ramp(0s, 1h, 6min, 10, 1, reset5h);
    std::vector<UsagePoint> shuffled = joined(steady, steady);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    // The clock stood an hour ahead for a while: readings stamped after "now".
    const std::vector<UsagePoint> aheadOfClock =
        joined(steady, ramp(2h, 3h, 10min, 70, 5, reset5h));

    struct Case {
        const char* name;
        std::vector<UsagePoint> points;
        std::optional<Instant> resetAt;
        std::chrono::seconds length;
        Instant now;
        Kind kind;
        double rate; // per hour, within 10 %
        const char* text;
    };
    const Case cases[] = {
        {"steady burn, reset first", steady, reset5h, 5h, kStart + 1h, Kind::usedAtReset, 10,
         "At this pace: about 60 % used at the reset"},
        {"steady fast burn, limit first", ramp(0s, 1h, 2min, 0, 1, reset5h), reset5h, 5h,
         kStart + 1h, Kind::limitBeforeReset, 30,
         "At this pace: limit at 12:20, 1 h 40 min before the reset"},
        {"burst then idle fades", joined(ramp(0s, 20min, 1min, 0, 2, reset5h), {}), reset5h, 5h,
         kStart + 2h + 20min, Kind::usedAtReset, 7.7, "At this pace: about 61 % used at the reset"},
        {"a reset in the middle: only the new window counts",
         joined(ramp(0s, 1h, 5min, 40, 4, kStart + 1h + 1min),
                ramp(1h + 2min, 2h + 2min, 6min, 0, 1, reset5h)),
         reset5h, 5h, kStart + 2h + 2min, Kind::usedAtReset, 10,
         "At this pace: about 40 % used at the reset"},
        {"a drop without reset times starts anew",
         joined(ramp(0s, 1h, 5min, 40, 4, std::nullopt),
                ramp(1h + 2min, 2h + 2min, 6min, 0, 1, std::nullopt)),
         reset5h, 5h, kStart + 2h + 2min, Kind::usedAtReset, 10,
         "At this pace: about 40 % used at the reset"},
        {"weekly window", ramp(0s, 48h, 2h, 0, 1, resetWeek), resetWeek, 7 * 24h, kStart + 48h,
         Kind::usedAtReset, 0.5, "At this pace: about 84 % used at the reset"},
        {"weekly window, limit days ahead", ramp(0s, 48h, 1h, 0, 1, resetWeek), resetWeek, 7 * 24h,
         kStart + 48h, Kind::limitBeforeReset, 1,
         "At this pace: limit at Thu 13:00, 2 d 20 h before the reset"},
        {"out of order and repeated readings", shuffled, reset5h, 5h, kStart + 1h,
         Kind::usedAtReset, 10, "At this pace: about 60 % used at the reset"},
        {"clock jumped back: later stamps are ignored", aheadOfClock, reset5h, 5h, kStart + 1h,
         Kind::usedAtReset, 10, "At this pace: about 60 % used at the reset"},
        {"already at 100 %", ramp(0s, 10min, 5min, 98, 1, reset5h), reset5h, 5h, kStart + 10min,
         Kind::limitReached, 0, "Pace: limit reached"},
        {"one reading", ramp(0s, 0s, 1min, 10, 1, reset5h), reset5h, 5h, kStart + 1h,
         Kind::notEnoughData, 0, "Pace: not enough data yet"},
        {"readings over too short a time", ramp(0s, 10min, 5min, 10, 1, reset5h), reset5h, 5h,
         kStart + 10min, Kind::notEnoughData, 0, "Pace: not enough data yet"},
        {"no readings",
         {},
         reset5h,
         5h,
         kStart,
         Kind::notEnoughData,
         0,
         "Pace: not enough data yet"},
        {"reset already passed", steady, kStart + 30min, 5h, kStart + 1h, Kind::notEnoughData, 0,
         "Pace: not enough data yet"},
        {"nothing used, no reset time", ramp(0s, 1h, 30min, 5, 0, std::nullopt), std::nullopt, 5h,
         kStart + 1h, Kind::idle, 0, "Pace: idle"},
        {"no reset time, still burning", ramp(0s, 1h, 6min, 10, 1, std::nullopt), std::nullopt, 5h,
         kStart + 1h, Kind::limitBeforeReset, 10, "At this pace: limit at 18:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UsagePace pace = estimateUsagePace(c.points, c.resetAt, c.length, c.now);
        EXPECT_EQ(pace.kind, c.kind);
        EXPECT_NEAR(pace.ratePerHour, c.rate, c.rate * 0.1 + 1e-9);
        EXPECT_EQ(usagePaceText(pace, c.now, utcClock), c.text);
    }
}

TEST(UsagePaceTest, BurstThenIdleProjectsLessThanTheBurst) {
    const Instant resetAt = kStart + 5h;
    const std::vector<UsagePoint> burst = ramp(0s, 20min, 1min, 0, 2, resetAt);
    double previous = 1e9;
    // The longer the quiet time after the burst, the lower the rate.
    for (const auto idle : {0min, 30min, 60min, 120min, 180min}) {
        const UsagePace pace = estimateUsagePace(burst, resetAt, 5h, kStart + 20min + idle);
        SCOPED_TRACE(idle.count());
        EXPECT_LT(pace.ratePerHour, previous);
        previous = pace.ratePerHour;
    }
    EXPECT_LT(previous, 10);
}

TEST(UsagePaceTest, WindowLengthFromDatesLabelOrKind) {
    struct Case {
        std::optional<UsageWindow> window;
        std::chrono::seconds length;
    };
    const Case cases[] = {
        {std::nullopt, 5h},
        {UsageWindow{UsageWindowKind::rolling, "5h", {}, {}}, 5h},
        {UsageWindow{UsageWindowKind::rolling, "30m", {}, {}}, 30min},
        {UsageWindow{UsageWindowKind::rolling, "7d", {}, {}}, 7 * 24h},
        {UsageWindow{UsageWindowKind::rolling, "2w", {}, {}}, 14 * 24h},
        {UsageWindow{UsageWindowKind::weekly, "this week", {}, {}}, 7 * 24h},
        {UsageWindow{UsageWindowKind::daily, {}, {}, {}}, 24h},
        {UsageWindow{UsageWindowKind::monthly, {}, {}, {}}, 30 * 24h},
        {UsageWindow{UsageWindowKind::weekly, "5h", kStart, kStart + 3h}, 3h},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(usageWindowLength(c.window), c.length);
    }
}

TEST(UsagePaceTest, ShortTexts) {
    struct Case {
        std::chrono::seconds duration;
        const char* text;
    };
    const Case durations[] = {{10s, "1 min"}, {58min, "58 min"}, {65min, "1 h 5 min"},
                              {2h, "2 h"},    {51h, "2 d 3 h"},  {48h + 10min, "2 d"}};
    for (const Case& c : durations) {
        EXPECT_EQ(paceDurationText(c.duration), c.text);
    }
    EXPECT_EQ(paceClockText(kStart + 5h + 32min, kStart, 0s), "14:32");
    EXPECT_EQ(paceClockText(kStart + 5h + 32min, kStart, 2h), "16:32");
    EXPECT_EQ(paceClockText(kStart + 20h, kStart, 0s), "Mon 05:00");
    EXPECT_EQ(paceClockText(kStart - 10h, kStart, -1h), "22:00");

    ProviderUsage row;
    row.displayName = "Claude Code";
    row.window = UsageWindow{UsageWindowKind::rolling, "5h", {}, {}};
    struct Alert {
        std::chrono::seconds until;
        std::optional<std::string> label;
        UsageWindowKind kind;
        const char* text;
    };
    const Alert alerts[] = {
        {25min, "5h", UsageWindowKind::rolling,
         "At this pace Claude Code reaches its 5-hour limit in about 25 minutes"},
        {1min, "5h", UsageWindowKind::rolling,
         "At this pace Claude Code reaches its 5-hour limit in about 5 minutes"},
        {59min, "7d", UsageWindowKind::weekly,
         "At this pace Claude Code reaches its 7-day limit in about 1 hour"},
        {8h, std::nullopt, UsageWindowKind::weekly,
         "At this pace Claude Code reaches its weekly limit in about 8 hours"},
    };
    for (const Alert& a : alerts) {
        row.window = UsageWindow{a.kind, a.label, {}, {}};
        EXPECT_EQ(paceAlertText(row, a.until), a.text);
    }
    EXPECT_EQ(paceAlertLead(5h), 30min);
    EXPECT_EQ(paceAlertLead(7 * 24h), std::chrono::seconds(7 * 24h) / 20);
}

} // namespace
} // namespace korvo

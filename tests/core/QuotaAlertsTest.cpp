#include "core/QuotaAlerts.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using Kind = QuotaAlert::Kind;

constexpr Instant kStart = instantFromUnixSeconds(1772356445);

// One reading of a provider: when it is read, what remains, its status and the window's reset.
struct Reading {
    std::chrono::seconds at;
    std::optional<double> remaining;
    ProviderStatus status = ProviderStatus::ok;
    std::optional<std::chrono::seconds> resetIn = 5h; // from kStart
    std::optional<double> used = std::nullopt;
};

UsageSnapshot snapshotOf(const Reading& reading) {
    const std::optional<Instant> resetAt =
        reading.resetIn ? std::optional(kStart + *reading.resetIn) : std::nullopt;
    UsageSnapshot snapshot;
    snapshot.providers.push_back({"codex",
                                  "Codex CLI",
                                  SourceType::unknown,
                                  Confidence::unknown,
                                  reading.status,
                                  UsageWindow{UsageWindowKind::rolling, "5-hour", {}, resetAt},
                                  UsageMetrics{reading.used, reading.remaining, {}, {}, {}, {}, {}},
                                  {}});
    return snapshot;
}

// Each case is a series of readings and the alerts each one calls for.
TEST(QuotaAlertsTest, OncePerWindowAndThresholdUntilItResets) {
    const ProviderStatus limited = ProviderStatus::limited;
    struct Case {
        const char* name;
        std::vector<std::pair<Reading, std::vector<Kind>>> steps;
    };
    const Case cases[] = {
        {"falls through both thresholds",
         {{{0s, 50}, {}},
          {{60s, 19}, {Kind::below20}},
          {{120s, 18}, {}},
          {{180s, 4.9}, {Kind::below5}},
          {{240s, 3}, {}}}},
        {"jumps past 20 straight below 5: one alert", {{{0s, 50}, {}}, {{60s, 3}, {Kind::below5}}}},
        {"exactly 20 and 5 are not below", {{{0s, 20}, {}}, {{60s, 5}, {Kind::below20}}}},
        {"jitter around 20 in one window alerts once",
         {{{0s, 19}, {Kind::below20}}, {{60s, 21}, {}}, {{120s, 19}, {}}}},
        {"limited, then the window resets",
         {{{0s, 10}, {Kind::below20}},
          {{60s, 0, limited}, {Kind::limited}},
          {{120s, 0, limited}, {}},
          {{5h + 1s, 100, ProviderStatus::ok, 10h}, {Kind::reset}},
          {{5h + 60s, 15, ProviderStatus::ok, 10h}, {Kind::below20}}}},
        {"a limited status without figures", {{{0s, std::nullopt, limited}, {Kind::limited}}}},
        {"used percentage counts when remaining is missing",
         {{{0s, std::nullopt, ProviderStatus::ok, 5h, 96}, {Kind::below5}}}},
        {"a moved reset time is a new window",
         {{{0s, 12}, {Kind::below20}}, {{60s, 12, ProviderStatus::ok, 6h}, {Kind::below20}}}},
        {"without a reset time, recovery above 20 is the reset",
         {{{0s, 0, limited, std::nullopt}, {Kind::limited}},
          {{60s, 0, limited, std::nullopt}, {}},
          {{120s, 80, ProviderStatus::ok, std::nullopt}, {Kind::reset}},
          {{180s, 10, ProviderStatus::ok, std::nullopt}, {Kind::below20}}}},
        {"a reset without a limit before it is silent",
         {{{0s, 12}, {Kind::below20}}, {{5h + 1s, 90, ProviderStatus::ok, 10h}, {}}}},
        {"no figures, no alerts", {{{0s, std::nullopt}, {}}}},
        // A tool that reports its figures but not yet its status is limited all the same.
        {"exactly 0% remaining with status ok is limited", {{{0s, 0}, {Kind::limited}}}},
        {"exactly 100% used with status ok is limited",
         {{{0s, std::nullopt, ProviderStatus::ok, 5h, 100}, {Kind::limited}}}},
        {"just above 0% is below 5, not limited", {{{0s, 0.4}, {Kind::below5}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Instant now = kStart;
        QuotaAlerts alerts([&now] { return now; });
        int step = 0;
        for (const auto& [reading, expected] : c.steps) {
            now = kStart + reading.at;
            std::vector<Kind> kinds;
            for (const QuotaAlert& alert : alerts.review(snapshotOf(reading))) {
                kinds.push_back(alert.kind);
            }
            EXPECT_EQ(kinds, expected) << "step " << step;
            ++step;
        }
    }
}

// One tool with a five-hour and a seven-day window (two rows of one provider id): each window
// has thresholds of its own, so an alert on one neither uses up nor resets the other's.
TEST(QuotaAlertsTest, EachWindowOfAToolAlertsOnItsOwn) {
    Instant now = kStart;
    QuotaAlerts alerts([&now] { return now; });
    const auto review = [&](std::chrono::seconds at, double fiveHour, double sevenDay) {
        now = kStart + at;
        UsageSnapshot snapshot = snapshotOf({at, fiveHour});
        ProviderUsage week = snapshot.providers.front();
        week.window = UsageWindow{UsageWindowKind::rolling, "7-day", {}, kStart + 100h};
        week.usage.remainingPercent = sevenDay;
        snapshot.providers.push_back(week);
        std::vector<std::string> found;
        for (const QuotaAlert& alert : alerts.review(snapshot)) {
            found.push_back(alert.logLine().toStdString());
        }
        return found;
    };
    const std::string fiveBelow20 = "Quota alert: Codex CLI: 19% remaining. Below 20% of the "
                                    "5-hour window. Resets in 5 hours.";
    EXPECT_EQ(review(0s, 19, 50), std::vector{fiveBelow20});
    EXPECT_EQ(review(60s, 19, 19),
              std::vector<std::string>{"Quota alert: Codex CLI: 19% remaining. Below 20% of the "
                                       "7-day window. Resets in 4 days."});
    EXPECT_EQ(review(120s, 0, 19),
              std::vector<std::string>{"Quota alert: Codex CLI is limited. No quota left in the "
                                       "5-hour window. Resets in 5 hours."});
    // The five-hour window resets; the seven-day one stays alerted.
    EXPECT_EQ(review(5h + 1s, 90, 19),
              std::vector<std::string>{"Quota alert: Codex CLI is available again. The limited "
                                       "window has reset; 90% remaining."});
    EXPECT_TRUE(review(5h + 60s, 90, 18).empty());
}

TEST(QuotaAlertsTest, Texts) {
    Instant now = kStart;
    QuotaAlerts alerts([&now] { return now; });
    const auto only = [&](const Reading& reading) {
        now = kStart + reading.at;
        const auto found = alerts.review(snapshotOf(reading));
        return found.size() == 1 ? found.front().logLine() : QString();
    };
    EXPECT_EQ(only({0s, 18.4}),
              "Quota alert: Codex CLI: 18% remaining. Below 20% of the 5-hour window. Resets in "
              "5 hours.");
    EXPECT_EQ(only({3h, 0, ProviderStatus::limited}),
              "Quota alert: Codex CLI is limited. No quota left in the 5-hour window. Resets in "
              "2 hours.");
    EXPECT_EQ(only({5h, 100, ProviderStatus::ok, 10h}),
              "Quota alert: Codex CLI is available again. The limited window has reset; 100% "
              "remaining.");
}

} // namespace
} // namespace korvo

#include "core/PaceAlerts.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;

// 2026-03-01T09:00:00Z.
constexpr Instant kStart = instantFromUnixSeconds(1772355600);

// A Claude Code row of a 5-hour window resetting at `resetAt`, `used` percent used.
UsageSnapshot snapshotOf(double used, Instant resetAt, ProviderStatus status = ProviderStatus::ok) {
    ProviderUsage row;
    row.id = "claude-code";
    row.displayName = "Claude Code";
    row.status = status;
    row.window = UsageWindow{UsageWindowKind::rolling, "5h", {}, resetAt};
    row.usage.usedPercent = used;
    UsageSnapshot snapshot;
    snapshot.providers.push_back(row);
    return snapshot;
}

// Readings every 5 minutes from `from` to `to`, rising by `perStep`.
UsageHistorySeries historyOf(std::chrono::minutes from, std::chrono::minutes to, double used,
                             double perStep, Instant resetAt) {
    std::vector<UsagePoint> points;
    for (auto at = from; at <= to; at += 5min) {
        points.push_back({kStart + at, used, resetAt});
        used += perStep;
    }
    return {{"claude-code", points}};
}

TEST(PaceAlertsTest, OncePerWindowWhenTheLimitComesSoon) {
    const Instant reset = kStart + 5h;
    const Instant nextReset = kStart + 10h;
    struct Step {
        std::chrono::minutes at;
        UsageSnapshot snapshot;
        UsageHistorySeries history;
        std::vector<std::string> alerts;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"30 % an hour with 13 % left: about 25 minutes",
         {{60min,
           snapshotOf(87, reset),
           historyOf(0min, 60min, 57, 2.5, reset),
           {"At this pace Claude Code reaches its 5-hour limit in about 25 minutes|At this pace: "
            "limit at 10:26, 3 h 34 min before the reset."}},
          // Closer still, same window: nothing new.
          {65min, snapshotOf(90, reset), historyOf(0min, 65min, 57, 2.5, reset), {}}}},
        {"the limit hours away: nothing",
         {{60min, snapshotOf(40, reset), historyOf(0min, 60min, 28, 1, reset), {}}}},
        {"the reset before the limit: nothing",
         {{280min,
           snapshotOf(90, kStart + 290min),
           historyOf(220min, 280min, 78, 1, kStart + 290min),
           {}}}},
        {"limited already: nothing",
         {{60min,
           snapshotOf(87, reset, ProviderStatus::limited),
           historyOf(0min, 60min, 57, 2.5, reset),
           {}}}},
        {"too few readings: nothing",
         {{5min, snapshotOf(87, reset), historyOf(0min, 5min, 80, 7, reset), {}}}},
        {"the next window alerts again",
         {{60min, snapshotOf(87, reset), historyOf(0min, 60min, 57, 2.5, reset), {"*"}},
          {360min,
           snapshotOf(87, nextReset),
           historyOf(300min, 360min, 57, 2.5, nextReset),
           {"*"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaceAlerts alerts(QTimeZone::utc());
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.at.count());
            const auto got = alerts.review(step.snapshot, step.history, kStart + step.at);
            ASSERT_EQ(got.size(), step.alerts.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].kind, QuotaAlert::Kind::pace);
                if (step.alerts[i] != "*") {
                    EXPECT_EQ((got[i].summary + u'|' + got[i].body).toStdString(), step.alerts[i]);
                }
            }
        }
    }
}

} // namespace
} // namespace korvo

#include "app/ViewText.h"

#include "AppTestSupport.h"
#include "app/AppStyle.h"
#include "app/ProviderLimitRow.h"
#include "app/UsageSparkline.h"
#include "model/DisplayText.h"

#include <QApplication>
#include <QImage>
#include <QProgressBar>
#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using O = std::optional<double>;

ProviderUsage row(O remaining, O used, O input = {}, O output = {}, O cached = {}, O cost = {}) {
    ProviderUsage p;
    p.displayName = "Gemini CLI";
    p.usage = {used, remaining, input, output, cached, cost, {}};
    return p;
}

// The gauge takes the remaining percentage, else the complement of the used one, clamped; the
// summary shows the figures present as whole numbers.
TEST(ViewTextTest, GaugeValueAndSnapshotSummary) {
    const std::tuple<ProviderUsage, O, std::string> cases[] = {
        {row(36.5, 63.5, 120000, 18000, 50000, 3.42), 36.5,
         "37% remaining · 64% used · 120,000 input · 18,000 output · 50,000 cached"},
        {row({}, 63.5), 36.5, "64% used"},
        {row({}, 120), 0, "120% used"},
        {row(-5, {}), 0, "-5% remaining"},
        {row(150, {}), 100, "150% remaining"},
        {row(std::nan(""), 40), 60, "40% used"},
        {row({}, {}, 1200.4, 99.5), std::nullopt, "1,200 input · 100 output"},
        {row({}, {}, {}, {}, {}, 3.42), std::nullopt, "Usage unknown"}, // cost is no figure here
    };
    for (const auto& [provider, gauge, summary] : cases) {
        EXPECT_EQ(limitGaugeValue(provider), gauge) << summary;
        EXPECT_EQ(snapshotSummaryText(provider), summary);
    }
}

// Every line of a row as shown, in order; the gauge and the figure take the status colour.
TEST(ProviderLimitRowTest, ShowsFiguresLinesAndGaugeInStatusColour) {
    const Instant now = test::kStart;
    ProviderUsage codex = row({}, 63.5, 120000, 18000, 50000, 3.42);
    codex.displayName = "Codex CLI";
    codex.source = SourceType::localCli;
    codex.confidence = Confidence::cliReported;
    codex.status = ProviderStatus::warning;
    codex.window = UsageWindow{UsageWindowKind::weekly, "", std::nullopt, now + 2h};
    ProviderUsage text = row({}, {});
    text.usage.remainingText = "18% remaining";
    // clang-format off
    const std::tuple<ProviderUsage, O, QStringList> cases[] = {
        {codex, 37, {"Codex CLI", "Local CLI · CLI reported", "37%", "remaining", "Warning",
                     "Used 64%", "Window Weekly", "Reset in 2 h",
                     "Input 120,000 · Output 18,000 · Cached 50,000 · Cost $3.42"}},
        // A tool's own text is no remaining share: no "remaining", no status word, no used or
        // reset lines that would say nothing.
        {text, {}, {"Gemini CLI", "Unknown · Unknown", "18% remaining", "Window Unknown"}},
    };
    // clang-format on
    for (const auto& [provider, gauge, texts] : cases) {
        ProviderLimitRow shown(provider, now);
        EXPECT_EQ(test::visibleLabelTexts(&shown), texts);
        EXPECT_EQ(shown.gauge() ? O(shown.gauge()->value()) : std::nullopt, gauge)
            << texts[0].toStdString();
    }
    ProviderLimitRow shown(codex, now);
    const QColor orange = tintColor(Tint::orange, QApplication::palette());
    for (const char* text : {"37%", "Warning"}) {
        EXPECT_EQ(test::visible(&shown, text)->palette().color(QPalette::WindowText), orange);
    }
    EXPECT_EQ(shown.gauge()->palette().color(QPalette::Highlight), orange);

    // A first window well within its limit beside a weekly one nearly used up reads as the
    // weekly one: the row is not "Ok" at a glance.
    ProviderUsage weekly = codex;
    weekly.status = ProviderStatus::ok;
    weekly.usage.remainingText = "Weekly 3% remaining \u00B7 97% used";
    ProviderLimitRow urgent(weekly, now);
    EXPECT_TRUE(test::visible(&urgent, "Critical"));
    EXPECT_FALSE(test::visible(&urgent, "Ok"));
}

// An hour of steady use in a 5-hour window: the row draws the window's readings as a line and
// states under it the pace that every surface takes from the same history. Without readings it
// says so and draws nothing.
TEST(ProviderLimitRowTest, DrawsTheWindowsReadingsAndStatesItsPace) {
    const Instant now = test::kStart;
    ProviderUsage claude = row(50, 50);
    claude.id = "claude-code";
    claude.displayName = "Claude Code";
    claude.status = ProviderStatus::ok;
    claude.window = UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt, now + 3h};
    UsageHistorySeries history;
    for (int minute = 60; minute >= 0; minute -= 5) {
        history["claude-code"].push_back(
            UsagePoint{now - std::chrono::minutes(minute), 50.0 - minute * 0.5, now + 3h});
    }
    const ProviderPace pace = providerPace(claude, history, now, QTimeZone::utc());
    ASSERT_EQ(pace.points.size(), 13U);
    ASSERT_TRUE(pace.pace.limitAt.has_value());
    EXPECT_TRUE(pace.text.startsWith("At this pace: limit at ")) << pace.text.toStdString();

    ProviderLimitRow shown(claude, now, pace);
    shown.resize(360, shown.sizeHint().height());
    EXPECT_TRUE(test::visible(&shown, pace.text));
    auto* line = shown.findChild<UsageSparkline*>();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->points(), pace.points);
    // The line is drawn: the sparkline holds pixels of more than one colour.
    const QImage drawn = line->grab().toImage();
    ASSERT_FALSE(drawn.isNull());
    bool twoColours = false;
    for (int y = 0; y < drawn.height() && !twoColours; ++y) {
        for (int x = 0; x < drawn.width() && !twoColours; ++x) {
            twoColours = drawn.pixel(x, y) != drawn.pixel(0, 0);
        }
    }
    EXPECT_TRUE(twoColours);

    const ProviderPace none = providerPace(claude, {}, now, QTimeZone::utc());
    ProviderLimitRow bare(claude, now, none);
    EXPECT_TRUE(test::visible(&bare, "Pace: not enough data yet"));
    EXPECT_FALSE(bare.findChild<UsageSparkline*>());
}

// Something that happened reads as past even when it was stamped a moment after the clock was
// read; the texts are rendered again each second just before a date, else each minute.
TEST(ViewTextTest, RelativeTimesOfEventsAndWhenToRenderThemAgain) {
    const Instant now = test::kStart;
    const std::tuple<std::optional<Instant>, std::string> phrases[] = {
        {std::nullopt, "Never"},
        {now + 300ms, "less than 1 minute ago"},
        {now - 59s, "less than 1 minute ago"},
        {now - 60s, "1 minute ago"},
        {now - 3min, "3 minutes ago"},
    };
    for (const auto& [date, phrase] : phrases) {
        EXPECT_EQ(relativeOrNever(date, now), phrase);
    }
    using Delay = std::optional<std::chrono::milliseconds>;
    const std::tuple<std::vector<Instant>, Delay> delays[] = {
        {std::vector<Instant>{}, std::nullopt},
        {{now - 5s}, 60s},           // an upload a moment ago
        {{now + 59s}, 1s},           // a pairing code about to expire
        {{now - 2h, now + 30s}, 1s}, // the nearest date decides
        {{now - 60s}, 60s},
        {{now + 2h, now - 1h}, 60s},
    };
    for (const auto& [dates, delay] : delays) {
        EXPECT_EQ(relativeTimeRefreshDelay(dates, now), delay) << dates.size();
    }
}

// Texts naming the Mac name the computer on other desktops and stay as written on macOS; a
// failed upload of a paired connector shows in the status line.
TEST(ViewTextTest, DesktopWordingAndStatusLine) {
    const std::tuple<QString, QString> texts[] = {
        {"Current Limits on This Mac", "Current Limits on This Computer"},
        {"Pair this Mac with Korvo on iPhone.", "Pair this computer with Korvo on iPhone."},
        {"Version 1.5.0 build 57 is available on the Mac download page.",
         "Version 1.5.0 build 57 is available on the download page."},
        {"When this Mac sleeps, snapshots cannot upload. Korvo Connector marks the Mac as "
         "sleeping.",
         "When this computer sleeps, snapshots cannot upload. Korvo Connector marks the "
         "computer as sleeping."},
        {"Mac sleeping", "Computer sleeping"},
        {"Machine", "Machine"},
    };
    for (const auto& [mac, other] : texts) {
        EXPECT_EQ(desktopWording(mac, DesktopKind::mac), mac);
        EXPECT_EQ(desktopWording(mac, DesktopKind::other), other);
    }
    using Phase = UploadState::Phase;
    const std::tuple<QString, bool, Phase, QString> statuses[] = {
        {"Connected to iPhone", true, Phase::uploaded, "Connected to iPhone"},
        {"Connected to iPhone", true, Phase::failed, "Sync failing; retrying"},
        {"Not paired", false, Phase::failed, "Not paired"},
        {"Mac sleeping", true, Phase::never, desktopWording("Mac sleeping")},
    };
    for (const auto& [message, paired, upload, shown] : statuses) {
        EXPECT_EQ(shownStatusText(message, paired, upload), shown);
    }
}

} // namespace
} // namespace korvo

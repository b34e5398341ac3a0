#include "app/ViewText.h"

#include "AppTestSupport.h"
#include "app/AppStyle.h"
#include "app/ProviderLimitRow.h"
#include "model/DisplayText.h"

#include <QApplication>
#include <QProgressBar>
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
         "37% remaining · 64% used · 120000 input · 18000 output · 50000 cached"},
        {row({}, 63.5), 36.5, "64% used"},
        {row({}, 120), 0, "120% used"},
        {row(-5, {}), 0, "-5% remaining"},
        {row(150, {}), 100, "150% remaining"},
        {row(std::nan(""), 40), 60, "40% used"},
        {row({}, {}, 1200.4, 99.5), std::nullopt, "1200 input · 100 output"},
        {row({}, {}, {}, {}, {}, 3.42), std::nullopt, "Usage unknown"}, // cost is no figure here
    };
    for (const auto& [provider, gauge, summary] : cases) {
        EXPECT_EQ(limitGaugeValue(provider), gauge) << summary;
        EXPECT_EQ(snapshotSummaryText(provider), summary);
    }
}

// Every line of a row as shown, in order; the gauge and the figure take the status colour.
TEST(ProviderLimitRowTest, ShowsFiguresLinesAndGaugeInStatusColour) {
    const Instant now = testing::kTestNow;
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
                     "Used 64%", "Window Weekly", "Reset in 2 hours",
                     "Input 120000 · Output 18000 · Cached 50000 · Cost $3.42"}},
        {text, {}, {"Gemini CLI", "Unknown · Unknown", "18% remaining", "remaining", "Unknown",
                    "Used Limit unavailable", "Window Unknown", "Reset unknown"}},
    };
    // clang-format on
    for (const auto& [provider, gauge, texts] : cases) {
        ProviderLimitRow shown(provider, now);
        EXPECT_EQ(testing::visibleLabelTexts(&shown), texts);
        EXPECT_EQ(shown.gauge() ? O(shown.gauge()->value()) : std::nullopt, gauge)
            << texts[0].toStdString();
    }
    ProviderLimitRow shown(codex, now);
    const QColor orange = tintColor(Tint::orange, QApplication::palette());
    for (const char* text : {"37%", "Warning"}) {
        EXPECT_EQ(testing::visible(&shown, text)->palette().color(QPalette::WindowText), orange);
    }
    EXPECT_EQ(shown.gauge()->palette().color(QPalette::Highlight), orange);
}

} // namespace
} // namespace korvo

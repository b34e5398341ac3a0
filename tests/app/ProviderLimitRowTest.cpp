#include "app/ProviderLimitRow.h"

#include "WidgetQuery.h"
#include "app/AppStyle.h"

#include <QApplication>
#include <QProgressBar>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;
const Instant kNow =
    Instant(std::chrono::sys_days(std::chrono::year(2026) / 3 / 1).time_since_epoch());

ProviderUsage codexRow() {
    ProviderUsage p;
    p.id = "codex";
    p.displayName = "Codex CLI";
    p.source = SourceType::localCli;
    p.confidence = Confidence::cliReported;
    p.status = ProviderStatus::warning;
    p.window = UsageWindow{UsageWindowKind::weekly, std::string(), std::nullopt, kNow + 2h};
    p.usage.usedPercent = 63.5;
    p.usage.inputTokens = 120000;
    p.usage.outputTokens = 18000;
    p.usage.cachedInputTokens = 50000;
    p.usage.costUsd = 3.42;
    return p;
}

TEST(ProviderLimitRowTest, ShowsFiguresLinesAndGaugeInStatusColour) {
    ProviderLimitRow row(codexRow(), kNow);
    const QStringList texts = testing::visibleLabelTexts(&row);
    for (const char* expected : {"Codex CLI", "Local CLI · CLI reported", "37%", "remaining",
                                 "Warning", "Used 64%", "Window Weekly", "Reset in 2 hours",
                                 "Input 120000 · Output 18000 · Cached 50000 · Cost $3.42"}) {
        EXPECT_TRUE(texts.contains(QString::fromUtf8(expected))) << expected;
    }
    ASSERT_NE(row.gauge(), nullptr);
    EXPECT_EQ(row.gauge()->value(), 37);
    const QColor orange = tintColor(Tint::orange, QApplication::palette());
    EXPECT_EQ(testing::visibleLabel(&row, "37%")->palette().color(QPalette::WindowText), orange);
    EXPECT_EQ(testing::visibleLabel(&row, "Warning")->palette().color(QPalette::WindowText),
              orange);
    EXPECT_EQ(row.gauge()->palette().color(QPalette::Highlight), orange);
}

TEST(ProviderLimitRowTest, RowWithoutPercentagesHasNoGaugeAndNoDetailsLine) {
    struct Case {
        const char* name;
        std::optional<std::string> remainingText;
        const char* figure;
    };
    for (const Case& c : {Case{"free text", "18% remaining", "18% remaining"},
                          Case{"nothing", std::nullopt, "Limit unavailable"}}) {
        ProviderUsage p;
        p.displayName = "Gemini CLI";
        p.usage.remainingText = c.remainingText;
        ProviderLimitRow row(p, kNow);
        const QStringList texts = testing::visibleLabelTexts(&row);
        EXPECT_EQ(row.gauge(), nullptr) << c.name;
        EXPECT_TRUE(texts.contains(QString::fromUtf8(c.figure))) << c.name;
        EXPECT_TRUE(texts.contains("Used Limit unavailable")) << c.name;
        EXPECT_TRUE(texts.contains("Window Unknown")) << c.name;
        EXPECT_TRUE(texts.contains("Reset unknown")) << c.name;
        EXPECT_FALSE(texts.filter("Input").size() + texts.filter("Cost").size()) << c.name;
    }
}

} // namespace
} // namespace korvo

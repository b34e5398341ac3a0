#include "app/ViewText.h"

#include <cmath>
#include <gtest/gtest.h>

namespace korvo {
namespace {

AdapterDiagnostic diagnostic(std::string id, std::string name, bool available,
                             bool limits = false) {
    AdapterDiagnostic d;
    d.id = std::move(id);
    d.displayName = std::move(name);
    d.isAvailable = available;
    d.limitDataFound = limits;
    return d;
}

TEST(ViewTextTest, DetectedCliListLeavesOutTheMainToolsTheDemoSourceAndAbsentTools) {
    EXPECT_EQ(detectedCliText({diagnostic("mock", "Mock Claude/Codex", true),
                               diagnostic("claude-code", "Claude Code", true),
                               diagnostic("codex", "Codex CLI", true)}),
              "None");
    EXPECT_EQ(
        detectedCliText(
            {diagnostic("aider", "Aider", true), diagnostic("claude-code", "Claude Code", true),
             diagnostic("cursor", "Cursor", false), diagnostic("gemini-cli", "Gemini CLI", true),
             diagnostic("mock", "Mock Claude/Codex", true),
             diagnostic("amazon-q", "Amazon Q", true), diagnostic("codex", "Codex CLI", true)}),
        "Aider, Gemini CLI, Amazon Q");
}

ProviderUsage row(std::optional<double> remaining, std::optional<double> used,
                  std::optional<double> input = {}, std::optional<double> output = {},
                  std::optional<double> cached = {}, std::optional<double> cost = {}) {
    ProviderUsage p;
    p.id = "claude-code";
    p.displayName = "Claude Code";
    p.usage.remainingPercent = remaining;
    p.usage.usedPercent = used;
    p.usage.inputTokens = input;
    p.usage.outputTokens = output;
    p.usage.cachedInputTokens = cached;
    p.usage.costUsd = cost;
    return p;
}

TEST(ViewTextTest, GaugeTakesRemainingElseComplementOfUsedClamped) {
    struct Case {
        const char* name;
        ProviderUsage provider;
        std::optional<double> expected;
    };
    const std::vector<Case> cases{
        {"remaining wins over used", row(36.5, 10), 36.5},
        {"used only", row({}, 63.5), 36.5},
        {"used beyond 100", row({}, 120), 0},
        {"negative remaining", row(-5, {}), 0},
        {"remaining above 100", row(150, {}), 100},
        {"not a number falls back to used", row(std::nan(""), 40), 60},
        {"no percentage", row({}, {}, 1000), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(limitGaugeValue(c.provider), c.expected) << c.name;
    }
}

TEST(ViewTextTest, SnapshotSummaryShowsOnlyPresentFiguresAsWholeNumbers) {
    struct Case {
        const char* name;
        ProviderUsage provider;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"all figures", row(36.5, 63.5, 120000, 18000, 50000, 3.42),
         "37% remaining · 64% used · 120000 input · 18000 output · 50000 cached"},
        {"tokens only", row({}, {}, 1200.4, 99.5), "1200 input · 100 output"},
        {"cost alone is not a figure here", row({}, {}, {}, {}, {}, 3.42), "Usage unknown"},
        {"nothing", row({}, {}), "Usage unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(snapshotSummaryText(c.provider), c.expected) << c.name;
    }
}

TEST(ViewTextTest, SourceSymbolsDifferBetweenConnectedAndDiagnosticsPanels) {
    const auto limits = diagnostic("claude-code", "Claude Code", true, true);
    const auto available = diagnostic("codex", "Codex CLI", true);
    const auto absent = diagnostic("aider", "Aider", false);
    EXPECT_EQ(connectedSourceSymbol(limits),
              (SymbolChoice{"gauge.with.dots.needle.67percent", Tint::green}));
    EXPECT_EQ(diagnosticSourceSymbol(limits), (SymbolChoice{"checkmark.circle.fill", Tint::green}));
    EXPECT_EQ(connectedSourceSymbol(available),
              (SymbolChoice{"checkmark.circle.fill", Tint::blue}));
    EXPECT_EQ(diagnosticSourceSymbol(available),
              (SymbolChoice{"exclamationmark.circle", Tint::orange}));
    EXPECT_EQ(connectedSourceSymbol(absent), (SymbolChoice{"circle", Tint::secondary}));
    EXPECT_EQ(diagnosticSourceSymbol(absent), (SymbolChoice{"circle", Tint::secondary}));
}

} // namespace
} // namespace korvo

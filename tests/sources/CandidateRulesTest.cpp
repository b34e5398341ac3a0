#include "TestHome.h"
#include "sources/ProviderUsageBuilder.h"

#include <gtest/gtest.h>
#include <vector>

namespace korvo {
namespace {

const Instant kNow = *parseInternetDateTime("2026-01-05T10:00:00Z");

SanitizedUsageCandidate dated(double input, std::optional<int> secondsAfterNow) {
    SanitizedUsageCandidate c;
    c.inputTokens = input;
    if (secondsAfterNow) {
        c.observedAt = kNow + std::chrono::seconds(*secondsAfterNow);
    }
    return c;
}

TEST(CandidateTests, WhatCountsAsUsefulLimitAndTokenData) {
    struct Case {
        const char* name;
        SanitizedUsageCandidate candidate;
        bool useful, limit, token;
    };
    SanitizedUsageCandidate label, observed, text, remainingText, reset, cost, status;
    label.windowLabel = "5h";
    observed.observedAt = kNow;
    text.remainingText = "plenty left";
    remainingText.remainingText = "7d 40% REMAINING";
    reset.resetAt = kNow;
    cost.costUsd = 0;
    status.status = ProviderStatus::ok;
    const std::vector<Case> cases = {
        {"label only", label, false, false, false},
        {"observation time only", observed, false, false, false},
        {"text without the word", text, true, false, false},
        {"remaining text", remainingText, true, true, false},
        {"reset time", reset, true, true, false},
        {"zero cost", cost, true, false, true},
        {"status", status, true, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.candidate.hasUsefulData(), c.useful) << c.name;
        EXPECT_EQ(c.candidate.hasLimitData(), c.limit) << c.name;
        EXPECT_EQ(c.candidate.hasTokenData(), c.token) << c.name;
    }
}

TEST(PreferNewer, OnlyAStrictlyLaterDatedSampleReplaces) {
    struct Case {
        const char* name;
        std::optional<SanitizedUsageCandidate> kept;
        SanitizedUsageCandidate candidate;
        double expectedInput;
    };
    const std::vector<Case> cases = {
        {"nothing kept", std::nullopt, dated(2, std::nullopt), 2},
        {"undated newcomer", dated(1, 0), dated(2, std::nullopt), 1},
        {"dated over undated", dated(1, std::nullopt), dated(2, -60), 2},
        {"later", dated(1, 0), dated(2, 1), 2},
        {"same moment", dated(1, 0), dated(2, 0), 1},
        {"earlier", dated(1, 0), dated(2, -1), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(preferNewer(c.kept, c.candidate).inputTokens, c.expectedInput) << c.name;
    }
}

TEST(MergeCandidates, EachFieldFromTheFirstThatHasIt) {
    SanitizedUsageCandidate bridge, status, logs;
    bridge.usedPercent = 42;
    bridge.windowLabel = "5h";
    status.usedPercent = 10;
    status.remainingText = "from status";
    logs.inputTokens = 100;
    logs.observedAt = kNow;
    EXPECT_EQ(testing::candidateText(mergeCandidates({bridge, std::nullopt, status, logs})),
              "used=42 in=100 text=[from status] label=5h at=2026-01-05T10:00:00Z");
    SanitizedUsageCandidate labelOnly;
    labelOnly.windowLabel = "5h";
    EXPECT_FALSE(mergeCandidates({std::nullopt, std::nullopt}));
    EXPECT_FALSE(mergeCandidates({labelOnly}));
}

TEST(PercentRemainingText, NormalisesRoundsAndClamps) {
    struct Case {
        double used;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {63, "5h 37% remaining · 63% used"},  {0.63, "5h 37% remaining · 63% used"},
        {1, "5h 0% remaining · 100% used"},   {62.5, "5h 37% remaining · 63% used"},
        {150, "5h 0% remaining · 100% used"}, {-4, "5h 100% remaining · 0% used"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(percentRemainingText("5h", c.used), c.expected) << c.used;
    }
}

TEST(MakeProviderUsage, PercentagesAndStatusThresholds) {
    struct Case {
        const char* name;
        std::optional<double> used, remaining;
        std::optional<ProviderStatus> given;
        std::optional<double> expectedUsed, expectedRemaining;
        ProviderStatus expectedStatus;
    };
    const std::vector<Case> cases = {
        {"fraction", 0.42, {}, {}, 42, 58, ProviderStatus::ok},
        {"0.8 is a warning", 0.8, {}, {}, 80, 20, ProviderStatus::warning},
        {"95 is critical", 95, {}, {}, 95, 5, ProviderStatus::critical},
        {"exactly 1 is all", 1, {}, {}, 100, 0, ProviderStatus::limited},
        {"remaining 0 alone", {}, 0, {}, 100, 0, ProviderStatus::limited},
        {"negative clamps", -20, {}, {}, 0, 100, ProviderStatus::ok},
        {"given status wins", 97, {}, ProviderStatus::stale, 97, 3, ProviderStatus::stale},
        {"no percentages", {}, {}, {}, {}, {}, ProviderStatus::unknown},
    };
    for (const auto& c : cases) {
        SanitizedUsageCandidate candidate;
        candidate.usedPercent = c.used;
        candidate.remainingPercent = c.remaining;
        candidate.status = c.given;
        candidate.inputTokens = 7;
        const auto row = makeProviderUsage("x", "X", SourceType::localCli, Confidence::cliReported,
                                           candidate, kNow);
        EXPECT_EQ(row.usage.usedPercent, c.expectedUsed) << c.name;
        EXPECT_EQ(row.usage.remainingPercent, c.expectedRemaining) << c.name;
        EXPECT_EQ(row.status, c.expectedStatus) << c.name;
        EXPECT_EQ(row.usage.inputTokens, 7) << c.name;
        EXPECT_EQ(row.observedAt, kNow) << c.name;
        ASSERT_TRUE(row.window) << c.name;
        EXPECT_EQ(row.window->kind, UsageWindowKind::unknown) << c.name;
    }
}

TEST(MakeProviderUsage, ExhaustedWindowPastItsResetIsDropped) {
    struct Case {
        const char* name;
        double used;
        int resetOffsetSeconds;
        std::optional<std::string> text;
        bool resetApplies;
    };
    const std::vector<Case> cases = {
        {"past and exhausted", 100, -60, std::nullopt, true},
        {"just under half a percent left", 99.6, -60, "7d 90% remaining · 10% used", true},
        {"more than half a percent left", 99.4, -60, std::nullopt, false},
        {"reset still ahead", 100, 60, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SanitizedUsageCandidate candidate;
        candidate.usedPercent = c.used;
        candidate.resetAt = kNow + std::chrono::seconds(c.resetOffsetSeconds);
        candidate.remainingText = c.text;
        candidate.windowLabel = "5h";
        const auto row = makeProviderUsage("x", "X", SourceType::localCli, Confidence::cliReported,
                                           candidate, kNow);
        if (c.resetApplies) {
            EXPECT_EQ(row.status, ProviderStatus::unknown) << c.name;
            EXPECT_FALSE(row.usage.usedPercent) << c.name;
            EXPECT_FALSE(row.usage.remainingPercent) << c.name;
            EXPECT_FALSE(row.window->resetAt) << c.name;
            const std::string expected = c.text ? std::string(kWindowResetText) + " · " + *c.text
                                                : std::string(kWindowResetText);
            EXPECT_EQ(row.usage.remainingText, expected) << c.name;
        } else {
            EXPECT_EQ(row.usage.usedPercent, c.used) << c.name;
            EXPECT_EQ(row.window->resetAt, candidate.resetAt) << c.name;
        }
        EXPECT_EQ(row.window->label, "5h") << c.name;
    }
}

} // namespace
} // namespace korvo

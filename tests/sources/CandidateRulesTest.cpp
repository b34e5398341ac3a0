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

TEST(MakeProviderUsage, PercentagesStatusThresholdsAndTheResetRule) {
    struct Case {
        const char* name;
        std::optional<double> used, remaining;
        std::optional<ProviderStatus> given;
        std::optional<int> resetOffsetSeconds;
        std::optional<std::string> text;
        std::string row; // without the constant "cli_reported", tokens, label and time
    };
    const std::string reset = "text=[" + std::string(kWindowResetText);
    const std::vector<Case> cases = {
        {"fraction", 0.42, {}, {}, {}, {}, "ok used=42 left=58"},
        {"0.8 is a warning", 0.8, {}, {}, {}, {}, "warning used=80 left=20"},
        {"95 is critical", 95, {}, {}, {}, {}, "critical used=95 left=5"},
        {"exactly 1 is all", 1, {}, {}, {}, {}, "limited used=100 left=0"},
        {"remaining 0 alone", {}, 0, {}, {}, {}, "limited used=100 left=0"},
        {"negative clamps", -20, {}, {}, {}, {}, "ok used=0 left=100"},
        {"given status wins", 97, {}, ProviderStatus::stale, {}, {}, "stale used=97 left=3"},
        {"no percentages", {}, {}, {}, {}, {}, "unknown"},
        // An exhausted window whose reset has passed is dropped.
        {"past and exhausted", 100, {}, {}, -60, {}, "unknown " + reset + "]"},
        {"just under half a percent left",
         99.6,
         {},
         {},
         -60,
         "7d 90% remaining · 10% used",
         "unknown " + reset + " · 7d 90% remaining · 10% used]"},
        {"more than half a percent left",
         99.4,
         {},
         {},
         -60,
         {},
         "critical used=99.4 left=0.5999999999999943 resets=2026-01-05T09:59:00Z"},
        {"reset still ahead",
         100,
         {},
         {},
         60,
         {},
         "limited used=100 left=0 resets=2026-01-05T10:01:00Z"},
    };
    for (const auto& c : cases) {
        SanitizedUsageCandidate candidate;
        candidate.usedPercent = c.used;
        candidate.remainingPercent = c.remaining;
        candidate.status = c.given;
        candidate.remainingText = c.text;
        if (c.resetOffsetSeconds) {
            candidate.resetAt = kNow + std::chrono::seconds(*c.resetOffsetSeconds);
        }
        candidate.inputTokens = 7;
        candidate.windowLabel = "5h";
        auto text = testing::rowText(makeProviderUsage("x", "X", SourceType::localCli,
                                                       Confidence::cliReported, candidate, kNow));
        for (const std::string constant :
             {" cli_reported", " in=7", " label=5h", " at=2026-01-05T10:00:00Z"}) {
            const auto at = text.find(constant);
            ASSERT_NE(at, std::string::npos) << c.name << ": " << text;
            text.erase(at, constant.size());
        }
        EXPECT_EQ(text, c.row) << c.name;
    }
}

} // namespace
} // namespace korvo

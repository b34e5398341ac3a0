#include "model/DisplayText.h"

#include <cmath>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;

constexpr Instant now = instantFromUnixSeconds(1772356445);

TEST(Labels, EveryCaseHasItsLabel) {
    std::vector<std::string> sources, confidences, channels, statuses, kinds;
    for (const auto c : allCases<SourceType>()) {
        sources.push_back(sourceLabel(c));
    }
    for (const auto c : allCases<Confidence>()) {
        confidences.push_back(confidenceLabel(c));
    }
    for (const auto c : allCases<KorvoBuildChannel>()) {
        channels.push_back(buildChannelLabel(c));
    }
    for (const auto c : allCases<ProviderStatus>()) {
        statuses.push_back(providerStatusLabel(c));
    }
    for (const auto c : allCases<UsageWindowKind>()) {
        kinds.push_back(windowKindLabel(c));
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(sources, (V{"Korvo Connector", "Official API", "Official OAuth", "Local CLI",
                          "Manual", "Demo", "Unknown"}));
    EXPECT_EQ(confidences, (V{"Official", "CLI reported", "Connector reported", "Inferred",
                              "Estimated", "Manual", "Demo", "Unknown"}));
    EXPECT_EQ(channels, (V{"Development", "Internal Beta", "Public Beta", "Release"}));
    EXPECT_EQ(statuses, (V{"Ok", "Warning", "Critical", "Limited", "Offline", "Stale", "Unknown"}));
    EXPECT_EQ(kinds, (V{"Rolling", "Daily", "Weekly", "Monthly", "Unknown"}));
}

struct PercentRowCase {
    const char* name;
    std::optional<double> used;
    std::optional<double> remaining;
    std::optional<std::string> remainingText;
    std::string expectedRemaining;
    std::string expectedUsed;
};

class PrimaryPercentTexts : public testing::TestWithParam<PercentRowCase> {};

TEST_P(PrimaryPercentTexts, FollowFallbacks) {
    const auto& c = GetParam();
    ProviderUsage row;
    row.usage.usedPercent = c.used;
    row.usage.remainingPercent = c.remaining;
    row.usage.remainingText = c.remainingText;
    EXPECT_EQ(primaryRemainingText(row), c.expectedRemaining);
    EXPECT_EQ(primaryUsedText(row), c.expectedUsed);
}

const std::optional<double> none;
const std::optional<std::string> noText;

INSTANTIATE_TEST_SUITE_P(
    Table, PrimaryPercentTexts,
    testing::Values(
        PercentRowCase{"both", 63.5, 36.5, noText, "37%", "64%"},
        PercentRowCase{"reportedValuesNotClamped", 120, -0.5, noText, "-1%", "120%"},
        PercentRowCase{"onlyUsedOverHundred", 120, none, noText, "0%", "120%"},
        PercentRowCase{"onlyUsedNegative", -3, none, noText, "100%", "-3%"},
        PercentRowCase{"onlyUsedHalf", 17.5, none, noText, "83%", "18%"},
        PercentRowCase{"onlyRemainingNegative", none, -5, noText, "-5%", "100%"},
        PercentRowCase{"onlyRemaining", none, 81.5, noText, "82%", "19%"},
        PercentRowCase{"textOnly", none, none, "18% remaining", "18% remaining",
                       "Limit unavailable"},
        PercentRowCase{"percentWinsOverText", none, 40, "18% remaining", "40%", "60%"},
        PercentRowCase{"nothing", none, none, noText, "Limit unavailable", "Limit unavailable"},
        PercentRowCase{"nonFiniteCountsAsAbsent", std::nan(""), 30, noText, "30%", "70%"},
        PercentRowCase{"nonFiniteOnly", std::nan(""), none, "left", "left", "Limit unavailable"}),
    [](const auto& info) { return std::string(info.param.name); });

struct WindowCase {
    const char* name;
    std::optional<UsageWindow> window;
    std::string expectedWindow;
    std::string expectedReset;
};

class WindowTexts : public testing::TestWithParam<WindowCase> {};

TEST_P(WindowTexts, NameAndReset) {
    ProviderUsage row;
    row.window = GetParam().window;
    EXPECT_EQ(primaryWindowText(row), GetParam().expectedWindow);
    EXPECT_EQ(resetText(row, now), GetParam().expectedReset);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowTexts,
    testing::Values(WindowCase{"noWindow", std::nullopt, "Unknown", "unknown"},
                    WindowCase{"labelled",
                               UsageWindow{UsageWindowKind::rolling, "5h", {}, now + 7200s}, "5h",
                               "in 2 hours"},
                    WindowCase{"emptyLabel",
                               UsageWindow{UsageWindowKind::weekly, "", {}, now - 300s}, "Weekly",
                               "5 minutes ago"},
                    WindowCase{"noLabelNoReset", UsageWindow{UsageWindowKind::daily, {}, now, {}},
                               "Daily", "unknown"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TokenCase {
    const char* name;
    UsageMetrics usage;
    std::optional<std::string> expected;
};

class TokenDetailsText : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenDetailsText, JoinsPresentParts) {
    ProviderUsage row;
    row.usage = GetParam().usage;
    EXPECT_EQ(tokenDetailsText(row), GetParam().expected);
}

UsageMetrics metrics(std::optional<double> input, std::optional<double> output,
                     std::optional<double> cached, std::optional<double> cost) {
    UsageMetrics m;
    m.inputTokens = input;
    m.outputTokens = output;
    m.cachedInputTokens = cached;
    m.costUsd = cost;
    m.usedPercent = 50; // percentages never show up in the details line
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TokenDetailsText,
    testing::Values(
        TokenCase{"all", metrics(120000, 18000, 50000, 3.42),
                  "Input 120000 \u00B7 Output 18000 \u00B7 Cached 50000 \u00B7 Cost $3.42"},
        TokenCase{"costOnly", metrics(none, none, none, 3.42), "Cost $3.42"},
        TokenCase{"nothing", metrics(none, none, none, none), std::nullopt},
        TokenCase{"roundedCounts", metrics(1234567.5, 0.4, none, none),
                  "Input 1234568 \u00B7 Output 0"},
        TokenCase{"cachedAndCost", metrics(none, none, 7, 0.005), "Cached 7 \u00B7 Cost $0.01"},
        TokenCase{"zeroCost", metrics(none, 12, none, 0), "Output 12 \u00B7 Cost $0.00"},
        TokenCase{"largeCount", metrics(1e15, none, none, 1234.567),
                  "Input 1000000000000000 \u00B7 Cost $1234.57"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace korvo

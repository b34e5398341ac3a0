#include "model/DisplayText.h"

#include "model/UsageSnapshot.h"

#include <cmath>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;

constexpr Instant now = instantFromUnixSeconds(1772356445);
using O = std::optional<double>;
const O none;
const double nan = std::nan("");

using V = std::vector<std::string>;

// Raw values (each reading back as its own case) or labels, in declaration order.
template <class E> V names(std::string (*label)(E) = nullptr) {
    V values;
    for (const auto c : allCases<E>()) {
        EXPECT_EQ(enumFromRawValue<E>(rawValue(c)), std::optional<E>(c));
        values.push_back(label ? label(c) : std::string(rawValue(c)));
    }
    return values;
}

// The raw values are a wire contract; the labels are what people read.
TEST(Enumerations, RawValuesAndLabelsInDeclarationOrder) {
    EXPECT_EQ(names<SnapshotDeviceKind>(), (V{"mac", "windows", "linux", "server", "manual"}));
    EXPECT_EQ(names<UsageWindowKind>(), (V{"rolling", "daily", "weekly", "monthly", "unknown"}));
    EXPECT_EQ(names<SourceType>(), (V{"korvo_connector", "official_api", "official_oauth",
                                      "local_cli", "manual", "demo", "unknown"}));
    EXPECT_EQ(names<Confidence>(), (V{"official", "cli_reported", "connector_reported", "inferred",
                                      "estimated", "manual", "demo", "unknown"}));
    EXPECT_EQ(names<ProviderStatus>(),
              (V{"ok", "warning", "critical", "limited", "offline", "stale", "unknown"}));
    EXPECT_EQ(names<KorvoBuildChannel>(),
              (V{"development", "internal_beta", "public_beta", "release"}));

    EXPECT_EQ(names(sourceLabel), (V{"Korvo Connector", "Official API", "Official OAuth",
                                     "Local CLI", "Manual", "Demo", "Unknown"}));
    EXPECT_EQ(names(confidenceLabel), (V{"Official", "CLI reported", "Connector reported",
                                         "Inferred", "Estimated", "Manual", "Demo", "Unknown"}));
    EXPECT_EQ(names(buildChannelLabel),
              (V{"Development", "Internal Beta", "Public Beta", "Release"}));
    EXPECT_EQ(names(providerStatusLabel),
              (V{"Ok", "Warning", "Critical", "Limited", "Offline", "Stale", "Unknown"}));
    EXPECT_EQ(names(windowKindLabel), (V{"Rolling", "Daily", "Weekly", "Monthly", "Unknown"}));
}

TEST(BuildChannel, ExactCaseMatchOrRelease) {
    using C = KorvoBuildChannel;
    const std::pair<std::optional<std::string_view>, KorvoBuildChannel> cases[] = {
        {"development", C::development}, {"internal_beta", C::internalBeta},
        {"public_beta", C::publicBeta},  {"release", C::release},
        {"Public_Beta", C::release},     {"publicBeta", C::release},
        {"development ", C::release},    {"", C::release},
        {std::nullopt, C::release}};
    for (const auto& [configured, expected] : cases) {
        EXPECT_EQ(C::fromConfiguredValue(configured), expected) << configured.value_or("<none>");
    }
    EXPECT_EQ(C::current(), C::fromConfiguredValue(KORVO_CONFIGURED_CHANNEL));
}

TEST(DisplayText, PrimaryPercentsFollowTheirFallbacks) {
    const std::tuple<O, O, std::optional<std::string>, std::string, std::string> cases[] = {
        {63.5, 36.5, {}, "37%", "64%"},
        {120, -0.5, {}, "-1%", "120%"}, // reported values are not clamped
        {120, none, {}, "0%", "120%"},
        {-3, none, {}, "100%", "-3%"},
        {17.5, none, {}, "83%", "18%"},
        {none, -5, {}, "-5%", "100%"},
        {none, 81.5, {}, "82%", "19%"},
        {none, none, "18% remaining", "18% remaining", "Limit unavailable"},
        {none, 40, "18% remaining", "40%", "60%"},
        {none, none, {}, "Limit unavailable", "Limit unavailable"},
        {nan, 30, {}, "30%", "70%"}, // a non-finite value counts as absent
        {nan, none, "left", "left", "Limit unavailable"},
    };
    for (const auto& [used, remaining, text, expectedRemaining, expectedUsed] : cases) {
        ProviderUsage row;
        row.usage = {used, remaining, {}, {}, {}, {}, text};
        EXPECT_EQ(primaryRemainingText(row), expectedRemaining) << expectedUsed;
        EXPECT_EQ(primaryUsedText(row), expectedUsed) << expectedRemaining;
    }
}

TEST(DisplayText, WindowNameAndReset) {
    using K = UsageWindowKind;
    const std::tuple<std::optional<UsageWindow>, std::string, std::string> cases[] = {
        {std::nullopt, "Unknown", "unknown"},
        {UsageWindow{K::rolling, "5h", {}, now + 7200s}, "5h", "in 2 hours"},
        {UsageWindow{K::weekly, "", {}, now - 300s}, "Weekly", "5 minutes ago"},
        {UsageWindow{K::daily, {}, now, {}}, "Daily", "unknown"},
    };
    for (const auto& [window, name, reset] : cases) {
        ProviderUsage row;
        row.window = window;
        EXPECT_EQ(primaryWindowText(row), name);
        EXPECT_EQ(resetText(row, now), reset) << name;
    }
}

TEST(DisplayText, TokenDetailsJoinPresentParts) {
    const std::tuple<O, O, O, O, std::optional<std::string>> cases[] = {
        {120000, 18000, 50000, 3.42,
         "Input 120000 \u00B7 Output 18000 \u00B7 Cached 50000 \u00B7 Cost $3.42"},
        {none, none, none, 3.42, "Cost $3.42"},
        {none, none, none, none, std::nullopt},
        {1234567.5, 0.4, none, none, "Input 1234568 \u00B7 Output 0"},
        {none, none, 7, 0.005, "Cached 7 \u00B7 Cost $0.01"},
        {none, 12, none, 0, "Output 12 \u00B7 Cost $0.00"},
        {1e15, none, none, 1234.567, "Input 1000000000000000 \u00B7 Cost $1234.57"},
    };
    for (const auto& [input, output, cached, cost, expected] : cases) {
        ProviderUsage row;
        row.usage = {50, 50, input, output, cached, cost, "x"}; // never in the details
        EXPECT_EQ(tokenDetailsText(row), expected) << expected.value_or("<none>");
    }
}

} // namespace
} // namespace korvo

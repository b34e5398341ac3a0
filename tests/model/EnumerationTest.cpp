#include "model/UsageSnapshot.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

template <class E> std::vector<std::string> rawValues() {
    std::vector<std::string> values;
    for (const auto c : allCases<E>()) {
        values.emplace_back(rawValue(c));
        // Every raw value reads back as its own case.
        EXPECT_EQ(enumFromRawValue<E>(rawValue(c)), std::optional<E>(c));
    }
    return values;
}

// The raw values are a wire contract, in declaration order.
TEST(Enumerations, RawValuesInDeclarationOrder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(rawValues<SnapshotDeviceKind>(), (V{"mac", "windows", "linux", "server", "manual"}));
    EXPECT_EQ(rawValues<UsageWindowKind>(),
              (V{"rolling", "daily", "weekly", "monthly", "unknown"}));
    EXPECT_EQ(rawValues<SourceType>(), (V{"korvo_connector", "official_api", "official_oauth",
                                          "local_cli", "manual", "demo", "unknown"}));
    EXPECT_EQ(rawValues<Confidence>(), (V{"official", "cli_reported", "connector_reported",
                                          "inferred", "estimated", "manual", "demo", "unknown"}));
    EXPECT_EQ(rawValues<ProviderStatus>(),
              (V{"ok", "warning", "critical", "limited", "offline", "stale", "unknown"}));
    EXPECT_EQ(rawValues<KorvoBuildChannel>(),
              (V{"development", "internal_beta", "public_beta", "release"}));
}

TEST(Enumerations, CaseNamesAreNotRawValues) {
    EXPECT_EQ(enumFromRawValue<SourceType>("korvoConnector"), std::nullopt);
    EXPECT_EQ(enumFromRawValue<Confidence>("cliReported"), std::nullopt);
    EXPECT_EQ(enumFromRawValue<ProviderStatus>("OK"), std::nullopt);
}

struct ChannelCase {
    std::optional<std::string> configured;
    KorvoBuildChannel expected;
};

class BuildChannelMatch : public testing::TestWithParam<ChannelCase> {};

TEST_P(BuildChannelMatch, ExactCaseOrRelease) {
    const auto& configured = GetParam().configured;
    const auto channel = KorvoBuildChannel::fromConfiguredValue(
        configured ? std::optional<std::string_view>(*configured) : std::nullopt);
    EXPECT_EQ(channel, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, BuildChannelMatch,
                         testing::Values(ChannelCase{"development", KorvoBuildChannel::development},
                                         ChannelCase{"internal_beta",
                                                     KorvoBuildChannel::internalBeta},
                                         ChannelCase{"public_beta", KorvoBuildChannel::publicBeta},
                                         ChannelCase{"release", KorvoBuildChannel::release},
                                         ChannelCase{"Public_Beta", KorvoBuildChannel::release},
                                         ChannelCase{"publicBeta", KorvoBuildChannel::release},
                                         ChannelCase{"development ", KorvoBuildChannel::release},
                                         ChannelCase{"", KorvoBuildChannel::release},
                                         ChannelCase{std::nullopt, KorvoBuildChannel::release}));

TEST(BuildChannel, CurrentFollowsTheConfiguredValue) {
    EXPECT_EQ(KorvoBuildChannel::current(),
              KorvoBuildChannel::fromConfiguredValue(KORVO_CONFIGURED_CHANNEL));
}

} // namespace
} // namespace korvo

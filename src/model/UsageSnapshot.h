#pragma once

#include "model/Instant.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// "linux" is a case name below; GNU dialects predefine it as a macro.
#pragma push_macro("linux")
#undef linux

namespace korvo {

// Enumerations of the snapshot. Cases are in declaration order; each case has a snake-case
// raw value that is its wire form. rawValue() gives it, enumFromRawValue<E>() parses it
// (exact match only), allCases<E>() lists the cases in declaration order.

enum class SnapshotDeviceKind { mac, windows, linux, server, manual };

enum class UsageWindowKind { rolling, daily, weekly, monthly, unknown };

enum class SourceType {
    korvoConnector,
    officialApi,
    officialOauth,
    localCli,
    manual,
    demo,
    unknown
};

enum class Confidence {
    official,
    cliReported,
    connectorReported,
    inferred,
    estimated,
    manual,
    demo,
    unknown
};

enum class ProviderStatus { ok, warning, critical, limited, offline, stale, unknown };

// The channel this build was made for. Behaves like an enumeration
// (KorvoBuildChannel::publicBeta, switch, ==) and adds current().
class KorvoBuildChannel {
public:
    enum class Case { development, internalBeta, publicBeta, release };
    using enum Case;

    constexpr KorvoBuildChannel(Case value) : value_(value) {}
    constexpr operator Case() const { return value_; }

    // The channel of this build: the build's configured channel value when it equals one of
    // the four raw values exactly (case-sensitively), otherwise release.
    static KorvoBuildChannel current();

    // The matching rule behind current(): an absent value or any string that is not exactly
    // one of the raw values yields release.
    static KorvoBuildChannel fromConfiguredValue(std::optional<std::string_view> value);

private:
    Case value_;
};

template <class E> struct EnumRawValues;

template <> struct EnumRawValues<SnapshotDeviceKind> {
    using E = SnapshotDeviceKind;
    static constexpr std::array<std::pair<E, std::string_view>, 5> table{{
        {E::mac, "mac"},
        {E::windows, "windows"},
        {E::linux, "linux"},
        {E::server, "server"},
        {E::manual, "manual"},
    }};
};

template <> struct EnumRawValues<UsageWindowKind> {
    using E = UsageWindowKind;
    static constexpr std::array<std::pair<E, std::string_view>, 5> table{{
        {E::rolling, "rolling"},
        {E::daily, "daily"},
        {E::weekly, "weekly"},
        {E::monthly, "monthly"},
        {E::unknown, "unknown"},
    }};
};

template <> struct EnumRawValues<SourceType> {
    using E = SourceType;
    static constexpr std::array<std::pair<E, std::string_view>, 7> table{{
        {E::korvoConnector, "korvo_connector"},
        {E::officialApi, "official_api"},
        {E::officialOauth, "official_oauth"},
        {E::localCli, "local_cli"},
        {E::manual, "manual"},
        {E::demo, "demo"},
        {E::unknown, "unknown"},
    }};
};

template <> struct EnumRawValues<Confidence> {
    using E = Confidence;
    static constexpr std::array<std::pair<E, std::string_view>, 8> table{{
        {E::official, "official"},
        {E::cliReported, "cli_reported"},
        {E::connectorReported, "connector_reported"},
        {E::inferred, "inferred"},
        {E::estimated, "estimated"},
        {E::manual, "manual"},
        {E::demo, "demo"},
        {E::unknown, "unknown"},
    }};
};

template <> struct EnumRawValues<ProviderStatus> {
    using E = ProviderStatus;
    static constexpr std::array<std::pair<E, std::string_view>, 7> table{{
        {E::ok, "ok"},
        {E::warning, "warning"},
        {E::critical, "critical"},
        {E::limited, "limited"},
        {E::offline, "offline"},
        {E::stale, "stale"},
        {E::unknown, "unknown"},
    }};
};

template <> struct EnumRawValues<KorvoBuildChannel> {
    using E = KorvoBuildChannel;
    static constexpr std::array<std::pair<E, std::string_view>, 4> table{{
        {E::development, "development"},
        {E::internalBeta, "internal_beta"},
        {E::publicBeta, "public_beta"},
        {E::release, "release"},
    }};
};

template <class E> constexpr std::string_view rawValue(E value) {
    for (const auto& [candidate, raw] : EnumRawValues<E>::table) {
        if (candidate == value) {
            return raw;
        }
    }
    return {};
}

template <class E> constexpr std::optional<E> enumFromRawValue(std::string_view raw) {
    for (const auto& [candidate, text] : EnumRawValues<E>::table) {
        if (text == raw) {
            return candidate;
        }
    }
    return std::nullopt;
}

template <class E, std::size_t... I> constexpr auto allCasesImpl(std::index_sequence<I...>) {
    return std::array<E, sizeof...(I)>{EnumRawValues<E>::table[I].first...};
}

template <class E> constexpr auto allCases() {
    return allCasesImpl<E>(std::make_index_sequence<EnumRawValues<E>::table.size()>());
}

// The device kind of the platform this program was built for.
constexpr SnapshotDeviceKind platformDeviceKind() {
#if defined(__APPLE__)
    return SnapshotDeviceKind::mac;
#elif defined(_WIN32)
    return SnapshotDeviceKind::windows;
#else
    return SnapshotDeviceKind::linux;
#endif
}

// Records. All compare field by field; dates compare as instants.

struct SnapshotDevice {
    std::string id;
    std::string name;
    SnapshotDeviceKind kind = platformDeviceKind();

    friend bool operator==(const SnapshotDevice&, const SnapshotDevice&) = default;
};

struct UsageWindow {
    UsageWindowKind kind = UsageWindowKind::unknown;
    std::optional<std::string> label;
    std::optional<Instant> startedAt;
    std::optional<Instant> resetAt;

    friend bool operator==(const UsageWindow&, const UsageWindow&) = default;
};

// Token counts travel as floating point, like every other number here.
struct UsageMetrics {
    std::optional<double> usedPercent;
    std::optional<double> remainingPercent;
    std::optional<double> inputTokens;
    std::optional<double> outputTokens;
    std::optional<double> cachedInputTokens;
    std::optional<double> costUsd;
    std::optional<std::string> remainingText;

    friend bool operator==(const UsageMetrics&, const UsageMetrics&) = default;
};

struct ProviderUsage {
    std::string id;
    std::string displayName;
    SourceType source = SourceType::unknown;
    Confidence confidence = Confidence::unknown;
    ProviderStatus status = ProviderStatus::unknown;
    std::optional<UsageWindow> window;
    UsageMetrics usage;
    Instant observedAt{};

    friend bool operator==(const ProviderUsage&, const ProviderUsage&) = default;
};

struct UsageSnapshot {
    static constexpr std::int64_t currentSchemaVersion = 1;

    std::int64_t schemaVersion = currentSchemaVersion;
    std::string snapshotId;
    std::string syncSpaceId;
    Instant updatedAt{};
    SnapshotDevice device;
    std::vector<ProviderUsage> providers;

    friend bool operator==(const UsageSnapshot&, const UsageSnapshot&) = default;
};

} // namespace korvo

#pragma pop_macro("linux")

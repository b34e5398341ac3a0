#include "model/SnapshotJson.h"

#include "model/TimeText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using Kind = SnapshotDecodeError::Kind;

constexpr Instant t0 = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z

// A valid document in compact form, members deliberately not sorted.
const std::string validJson =
    R"({"schemaVersion":1,"snapshotId":"snap_1","syncSpaceId":"space","updatedAt":"2026-03-01T09:14:05Z",)"
    R"("device":{"id":"mac_1","name":"Mac","kind":"mac"},)"
    R"("providers":[{"id":"codex","displayName":"Codex","source":"local_cli","confidence":"cli_reported",)"
    R"("status":"ok","window":{"kind":"rolling","label":"5h","resetAt":"2026-03-01T10:00:00Z"},)"
    R"("usage":{"usedPercent":40,"costUsd":1.5},"observedAt":"2026-03-01T09:00:00Z"}]})";

std::string replaced(const std::string& text, const std::string& from, const std::string& to) {
    const auto pos = text.find(from);
    EXPECT_NE(pos, std::string::npos) << from;
    std::string result = text;
    result.replace(pos, from.size(), to);
    return result;
}

TEST(SnapshotDecode, ValidDocumentDecodesEveryField) {
    const auto decoded = decodeSnapshot(validJson);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    const UsageSnapshot& s = decoded.value();
    EXPECT_EQ(s.schemaVersion, 1);
    EXPECT_EQ(s.updatedAt, t0);
    EXPECT_EQ(s.device, (SnapshotDevice{"mac_1", "Mac", SnapshotDeviceKind::mac}));
    ASSERT_EQ(s.providers.size(), 1u);
    const ProviderUsage& row = s.providers[0];
    EXPECT_EQ(row.source, SourceType::localCli);
    EXPECT_EQ(row.confidence, Confidence::cliReported);
    ASSERT_TRUE(row.window);
    EXPECT_EQ(row.window->resetAt, instantFromUnixSeconds(1772359200));
    EXPECT_EQ(row.window->startedAt, std::nullopt);
    EXPECT_EQ(row.usage.usedPercent, 40.0);
    EXPECT_EQ(row.usage.costUsd, 1.5);
    EXPECT_EQ(row.usage.remainingPercent, std::nullopt);
    EXPECT_EQ(row.observedAt, instantFromUnixSeconds(1772355600));
}

struct RejectCase {
    const char* name;
    std::string json;
    Kind kind;
    std::string path;
};

class SnapshotDecodeRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(SnapshotDecodeRejects, FailsWithTypedError) {
    const auto decoded = decodeSnapshot(GetParam().json);
    ASSERT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.error().kind, GetParam().kind) << decoded.error().description();
    EXPECT_EQ(decoded.error().path, GetParam().path) << decoded.error().description();
}

const auto v = validJson;

INSTANTIATE_TEST_SUITE_P(
    Table, SnapshotDecodeRejects,
    testing::Values(
        RejectCase{"empty", "", Kind::malformedJson, ""},
        RejectCase{"truncated", v.substr(0, v.size() - 1), Kind::malformedJson, ""},
        RejectCase{"trailingGarbage", v + "x", Kind::malformedJson, ""},
        RejectCase{"invalidUtf8", replaced(v, "\"Mac\"", "\"M\xC3\x28\""), Kind::malformedJson, ""},
        RejectCase{"rootArray", "[" + v + "]", Kind::wrongType, ""},
        RejectCase{"missingSchemaVersion", replaced(v, R"("schemaVersion":1,)", ""),
                   Kind::missingMember, "schemaVersion"},
        RejectCase{"nullSnapshotId", replaced(v, R"("snap_1")", "null"), Kind::missingMember,
                   "snapshotId"},
        RejectCase{"missingDeviceKind", replaced(v, R"(,"kind":"mac")", ""), Kind::missingMember,
                   "device.kind"},
        RejectCase{"missingProviders", replaced(v, R"("providers":)", R"("other":)"),
                   Kind::missingMember, "providers"},
        RejectCase{"missingUsage", replaced(v, R"("usage":)", R"("usages":)"), Kind::missingMember,
                   "providers[0].usage"},
        RejectCase{"missingObservedAt", replaced(v, R"("observedAt")", R"("observed")"),
                   Kind::missingMember, "providers[0].observedAt"},
        RejectCase{"missingWindowKind", replaced(v, R"("kind":"rolling",)", ""),
                   Kind::missingMember, "providers[0].window.kind"},
        RejectCase{"schemaVersionString",
                   replaced(v, R"("schemaVersion":1)", R"("schemaVersion":"1")"), Kind::wrongType,
                   "schemaVersion"},
        RejectCase{"schemaVersionFraction",
                   replaced(v, R"("schemaVersion":1)", R"("schemaVersion":1.5)"), Kind::wrongType,
                   "schemaVersion"},
        RejectCase{"schemaVersionTooLarge",
                   replaced(v, R"("schemaVersion":1)", R"("schemaVersion":18446744073709551615)"),
                   Kind::wrongType, "schemaVersion"},
        RejectCase{"deviceNotObject",
                   replaced(v, R"({"id":"mac_1","name":"Mac","kind":"mac"})", "[]"),
                   Kind::wrongType, "device"},
        RejectCase{"mismatchedBrackets", replaced(v, R"("providers":[)", R"("providers":{"a":)"),
                   Kind::malformedJson, ""},
        RejectCase{"providersString", replaced(v, R"("providers":[)", R"("providers":"x","p":[)"),
                   Kind::wrongType, "providers"},
        RejectCase{"costAsString", replaced(v, R"("costUsd":1.5)", R"("costUsd":"1.5")"),
                   Kind::wrongType, "providers[0].usage.costUsd"},
        RejectCase{"usedPercentBool", replaced(v, R"("usedPercent":40)", R"("usedPercent":true)"),
                   Kind::wrongType, "providers[0].usage.usedPercent"},
        RejectCase{"labelNumber", replaced(v, R"("label":"5h")", R"("label":5)"), Kind::wrongType,
                   "providers[0].window.label"},
        RejectCase{"dateNumber", replaced(v, R"("2026-03-01T09:14:05Z")", "1772356445"),
                   Kind::wrongType, "updatedAt"},
        RejectCase{"fractionalSeconds",
                   replaced(v, R"("2026-03-01T09:14:05Z")", R"("2026-03-01T09:14:05.250Z")"),
                   Kind::invalidDate, "updatedAt"},
        RejectCase{"fractionalResetAt",
                   replaced(v, R"("2026-03-01T10:00:00Z")", R"("2026-03-01T10:00:00.0Z")"),
                   Kind::invalidDate, "providers[0].window.resetAt"},
        RejectCase{"dateWithoutZone",
                   replaced(v, R"("2026-03-01T09:00:00Z")", R"("2026-03-01T09:00:00")"),
                   Kind::invalidDate, "providers[0].observedAt"},
        RejectCase{"dateOnly", replaced(v, R"("2026-03-01T09:14:05Z")", R"("2026-03-01")"),
                   Kind::invalidDate, "updatedAt"},
        RejectCase{"impossibleDay",
                   replaced(v, R"("2026-03-01T09:14:05Z")", R"("2026-02-29T09:14:05Z")"),
                   Kind::invalidDate, "updatedAt"},
        RejectCase{"deviceKindWrongCase", replaced(v, R"("kind":"mac")", R"("kind":"Mac")"),
                   Kind::unknownEnumValue, "device.kind"},
        RejectCase{"sourceCaseName", replaced(v, R"("local_cli")", R"("localCli")"),
                   Kind::unknownEnumValue, "providers[0].source"},
        RejectCase{"confidenceUnknownValue", replaced(v, R"("cli_reported")", R"("guessed")"),
                   Kind::unknownEnumValue, "providers[0].confidence"},
        RejectCase{"statusEmpty", replaced(v, R"("status":"ok")", R"("status":"")"),
                   Kind::unknownEnumValue, "providers[0].status"},
        RejectCase{"windowKindUnlisted", replaced(v, R"("rolling")", R"("hourly")"),
                   Kind::unknownEnumValue, "providers[0].window.kind"},
        RejectCase{"secondRowBroken",
                   replaced(v, "}]}",
                            R"(},{"id":"x","displayName":"X","source":"demo","confidence":"demo",)"
                            R"("status":"ok","usage":{}}]})"),
                   Kind::missingMember, "providers[1].observedAt"}),
    [](const auto& info) { return std::string(info.param.name); });

struct AcceptCase {
    const char* name;
    std::string json;
    std::function<void(const UsageSnapshot&)> check;
};

class SnapshotDecodeAccepts : public testing::TestWithParam<AcceptCase> {};

TEST_P(SnapshotDecodeAccepts, Decodes) {
    const auto decoded = decodeSnapshot(GetParam().json);
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    GetParam().check(decoded.value());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SnapshotDecodeAccepts,
    testing::Values(
        AcceptCase{
            "unknownMembersIgnored",
            replaced(replaced(v, R"("device":{)", R"("extra":[1,{"a":null}],"device":{"os":1,)"),
                     R"("usage":{)", R"("usage":{"futureField":"x",)"),
            [](const UsageSnapshot& s) { EXPECT_EQ(s.device.id, "mac_1"); }},
        AcceptCase{"nullWindowIsAbsent",
                   replaced(v,
                            R"({"kind":"rolling","label":"5h","resetAt":"2026-03-01T10:00:00Z"})",
                            "null"),
                   [](const UsageSnapshot& s) { EXPECT_EQ(s.providers[0].window, std::nullopt); }},
        AcceptCase{"nullOptionalsAreAbsent",
                   replaced(replaced(v, R"("label":"5h")", R"("label":null,"startedAt":null)"),
                            R"("costUsd":1.5)", R"("costUsd":null,"remainingText":null)"),
                   [](const UsageSnapshot& s) {
                       EXPECT_EQ(s.providers[0].window->label, std::nullopt);
                       EXPECT_EQ(s.providers[0].window->startedAt, std::nullopt);
                       EXPECT_EQ(s.providers[0].usage.costUsd, std::nullopt);
                   }},
        AcceptCase{"offsetDate",
                   replaced(v, R"("2026-03-01T09:14:05Z")", R"("2026-03-01T11:14:05+02:00")"),
                   [](const UsageSnapshot& s) { EXPECT_EQ(s.updatedAt, t0); }},
        AcceptCase{"escapedSlashAndUnicode",
                   replaced(v, R"("name":"Mac")", R"("name":"a\/b \u00e9\ud83d\ude00")"),
                   [](const UsageSnapshot& s) {
                       EXPECT_EQ(s.device.name, "a/b \xC3\xA9\xF0\x9F\x98\x80");
                   }},
        AcceptCase{"integralSchemaVersionInExponentForm",
                   replaced(v, R"("schemaVersion":1)", R"("schemaVersion":1.0e0)"),
                   [](const UsageSnapshot& s) { EXPECT_EQ(s.schemaVersion, 1); }},
        AcceptCase{"largeTokenCount",
                   replaced(v, R"("usedPercent":40)",
                            R"("usedPercent":40,"inputTokens":18446744073709551615)"),
                   [](const UsageSnapshot& s) {
                       EXPECT_EQ(s.providers[0].usage.inputTokens, 18446744073709551615.0);
                   }},
        AcceptCase{"emptyProviders", replaced(v, v.substr(v.find("[{")), "[]}"),
                   [](const UsageSnapshot& s) { EXPECT_TRUE(s.providers.empty()); }}),
    [](const auto& info) { return std::string(info.param.name); });

ProviderUsage bareRow() {
    ProviderUsage row;
    row.id = "codex";
    row.displayName = "Codex";
    row.source = SourceType::localCli;
    row.confidence = Confidence::inferred;
    row.status = ProviderStatus::unknown;
    row.observedAt = t0;
    return row;
}

UsageSnapshot snapshotWith(std::vector<ProviderUsage> rows) {
    UsageSnapshot s;
    s.snapshotId = "snap_1";
    s.syncSpaceId = "space";
    s.updatedAt = t0;
    s.device = {"mac_1", "Mac", SnapshotDeviceKind::mac};
    s.providers = std::move(rows);
    return s;
}

TEST(SnapshotEncode, EmptyProvidersAndFractionDropped) {
    UsageSnapshot s = snapshotWith({});
    s.updatedAt = t0 + 999ms;
    const auto encoded = encodeSnapshot(s);
    ASSERT_TRUE(encoded.ok());
    EXPECT_EQ(encoded.value(), R"({
  "device" : {
    "id" : "mac_1",
    "kind" : "mac",
    "name" : "Mac"
  },
  "providers" : [],
  "schemaVersion" : 1,
  "snapshotId" : "snap_1",
  "syncSpaceId" : "space",
  "updatedAt" : "2026-03-01T09:14:05Z"
})");
}

TEST(SnapshotEncode, RowWithoutWindowAndWindowWithOnlyKind) {
    ProviderUsage windowed = bareRow();
    windowed.window = UsageWindow{UsageWindowKind::weekly, {}, {}, {}};
    const auto encoded = encodeSnapshot(snapshotWith({bareRow(), windowed}));
    ASSERT_TRUE(encoded.ok());
    EXPECT_NE(encoded.value().find(R"(    {
      "confidence" : "inferred",
      "displayName" : "Codex",
      "id" : "codex",
      "observedAt" : "2026-03-01T09:14:05Z",
      "source" : "local_cli",
      "status" : "unknown",
      "usage" : {}
    },
    {)"),
              std::string::npos)
        << encoded.value();
    EXPECT_NE(encoded.value().find(R"(      "usage" : {},
      "window" : {
        "kind" : "weekly"
      }
    })"),
              std::string::npos)
        << encoded.value();
}

struct NonFiniteCase {
    const char* name;
    std::function<void(UsageMetrics&)> spoil;
    std::string path;
};

class SnapshotEncodeNonFinite : public testing::TestWithParam<NonFiniteCase> {};

TEST_P(SnapshotEncodeNonFinite, FailsWithPath) {
    ProviderUsage row = bareRow();
    GetParam().spoil(row.usage);
    const auto encoded = encodeSnapshot(snapshotWith({bareRow(), row}));
    ASSERT_FALSE(encoded.ok());
    EXPECT_EQ(encoded.error().path, GetParam().path);
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, SnapshotEncodeNonFinite,
    testing::Values(NonFiniteCase{"nan", [](UsageMetrics& m) { m.usedPercent = std::nan(""); },
                                  "providers[1].usage.usedPercent"},
                    NonFiniteCase{"infinity", [](UsageMetrics& m) { m.costUsd = inf; },
                                  "providers[1].usage.costUsd"},
                    NonFiniteCase{"negativeInfinity",
                                  [](UsageMetrics& m) { m.cachedInputTokens = -inf; },
                                  "providers[1].usage.cachedInputTokens"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SnapshotEncode, RoundTripKeepsTrickyValues) {
    ProviderUsage row = bareRow();
    row.displayName =
        "quote\" back\\ nl\n tab\t ctl\x01\x1f del\x7f slash/ \xE2\x80\xA8 \xF0\x9F\x98\x80";
    row.usage.usedPercent = 0.1 + 0.2;
    row.usage.remainingPercent = 1.0 / 3.0;
    row.usage.inputTokens = 1.7976931348623157e308;
    row.usage.outputTokens = 5e-324;
    row.usage.cachedInputTokens = -0.0;
    row.usage.costUsd = 123456789012345680.0;
    row.usage.remainingText = "";
    row.window = UsageWindow{UsageWindowKind::monthly, "", t0 - 86400s * 20000, t0 + 3s};
    const UsageSnapshot s = snapshotWith({row});
    const auto encoded = encodeSnapshot(s);
    ASSERT_TRUE(encoded.ok());
    const auto decoded = decodeSnapshot(encoded.value());
    ASSERT_TRUE(decoded.ok()) << decoded.error().description() << "\n" << encoded.value();
    EXPECT_EQ(decoded.value(), s);
}

struct QuoteCase {
    std::string input;
    std::string expected;
};

class JsonQuoted : public testing::TestWithParam<QuoteCase> {};

TEST_P(JsonQuoted, Escapes) {
    EXPECT_EQ(jsonQuoted(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JsonQuoted,
    testing::Values(QuoteCase{"", R"("")"}, QuoteCase{"a\"b\\c", R"("a\"b\\c")"},
                    QuoteCase{"\b\f\n\r\t", R"("\b\f\n\r\t")"},
                    QuoteCase{std::string("\x00\x1f", 2), R"("\u0000\u001f")"},
                    QuoteCase{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                              "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
                    // Invalid sequences each become U+FFFD: a lone continuation byte, a
                    // truncated sequence, an overlong encoding and an encoded surrogate.
                    QuoteCase{"a\x80z", "\"a\xEF\xBF\xBDz\""},
                    QuoteCase{"a\xE2\x82", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""},
                    QuoteCase{"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
                    QuoteCase{"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}));

struct NumberCase {
    double value;
    std::string expected;
};

class JsonNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(JsonNumber, ShortestRoundTripForm) {
    EXPECT_EQ(jsonNumber(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, JsonNumber,
                         testing::Values(NumberCase{63.0, "63"}, NumberCase{3.42, "3.42"},
                                         NumberCase{120000.0, "120000"},
                                         NumberCase{0.1 + 0.2, "0.30000000000000004"},
                                         NumberCase{-0.5, "-0.5"}, NumberCase{1e21, "1e+21"},
                                         NumberCase{1.5e-7, "1.5e-07"}));

} // namespace
} // namespace korvo

#include "model/SnapshotJson.h"

#include "model/TimeText.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using Kind = SnapshotDecodeError::Kind;

constexpr Instant t0 = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z

// A valid document in compact form, members deliberately not sorted, and what it holds.
const std::string validJson =
    R"({"schemaVersion":1,"snapshotId":"snap_1","syncSpaceId":"space","updatedAt":"2026-03-01T09:14:05Z",)"
    R"("device":{"id":"mac_1","name":"Mac","kind":"mac"},)"
    R"("providers":[{"id":"codex","displayName":"Codex","source":"local_cli","confidence":"cli_reported",)"
    R"("status":"ok","window":{"kind":"rolling","label":"5h","resetAt":"2026-03-01T10:00:00Z"},)"
    R"("usage":{"usedPercent":40,"costUsd":1.5},"observedAt":"2026-03-01T09:00:00Z"}]})";

const UsageSnapshot validSnapshot{
    1,
    "snap_1",
    "space",
    t0,
    {"mac_1", "Mac", SnapshotDeviceKind::mac},
    {{"codex", "Codex", SourceType::localCli, Confidence::cliReported, ProviderStatus::ok,
      UsageWindow{UsageWindowKind::rolling, "5h", {}, instantFromUnixSeconds(1772359200)},
      UsageMetrics{40, {}, {}, {}, {}, 1.5, {}}, instantFromUnixSeconds(1772355600)}}};

// validJson with the first `from` replaced by `to`.
std::string with(const std::string& from, const std::string& to, std::string text = validJson) {
    const auto pos = text.find(from);
    EXPECT_NE(pos, std::string::npos) << from;
    return text.replace(pos, from.size(), to);
}

TEST(SnapshotDecode, RejectsWithATypedErrorAndPath) {
    const std::string v = validJson;
    const std::tuple<std::string, Kind, std::string> cases[] = {
        {"", Kind::malformedJson, ""},
        {v + "x", Kind::malformedJson, ""},
        {with("\"Mac\"", "\"M\xC3\x28\""), Kind::malformedJson, ""},
        {"[" + v + "]", Kind::wrongType, ""},
        {with(R"("schemaVersion":1,)", ""), Kind::missingMember, "schemaVersion"},
        {with(R"("snap_1")", "null"), Kind::missingMember, "snapshotId"},
        {with(R"(,"kind":"mac")", ""), Kind::missingMember, "device.kind"},
        {with(R"("kind":"rolling",)", ""), Kind::missingMember, "providers[0].window.kind"},
        {with(R"(:1,)", R"(:"1",)"), Kind::wrongType, "schemaVersion"},
        {with(R"(:1,)", R"(:1.5,)"), Kind::wrongType, "schemaVersion"},
        {with(R"(:1,)", R"(:18446744073709551615,)"), Kind::wrongType, "schemaVersion"},
        {with(R"({"id":"mac_1","name":"Mac","kind":"mac"})", "[]"), Kind::wrongType, "device"},
        {with(R"("providers":[)", R"("providers":"x","p":[)"), Kind::wrongType, "providers"},
        {with(R"(1.5)", R"("1.5")"), Kind::wrongType, "providers[0].usage.costUsd"},
        {with(R"("2026-03-01T09:14:05Z")", "1772356445"), Kind::wrongType, "updatedAt"},
        {with(R"(09:14:05Z)", R"(09:14:05.250Z)"), Kind::invalidDate, "updatedAt"},
        {with(R"(10:00:00Z)", R"(10:00:00.0Z)"), Kind::invalidDate, "providers[0].window.resetAt"},
        {with(R"("mac"})", R"("Mac"})"), Kind::unknownEnumValue, "device.kind"},
        {with(R"("ok")", R"("")"), Kind::unknownEnumValue, "providers[0].status"},
        {with(R"("rolling")", R"("hourly")"), Kind::unknownEnumValue, "providers[0].window.kind"},
        {with("}]}", R"(},{"id":"x","displayName":"X","source":"demo","confidence":"demo",)"
                     R"("status":"ok","usage":{}}]})"),
         Kind::missingMember, "providers[1].observedAt"},
    };
    for (const auto& [json, kind, path] : cases) {
        SCOPED_TRACE(json);
        const auto decoded = decodeSnapshot(json);
        ASSERT_FALSE(decoded.ok());
        EXPECT_EQ(decoded.error().kind, kind) << decoded.error().description();
        EXPECT_EQ(decoded.error().path, path) << decoded.error().description();
    }
}

TEST(SnapshotDecode, AcceptsWhatTheRulesAllow) {
    using Change = std::function<void(UsageSnapshot&)>;
    const std::pair<std::string, Change> cases[] = {
        {validJson, nullptr},
        {with(R"("usage":{)", R"("usage":{"futureField":"x",)",
              with(R"("device":{)", R"("extra":[1,{"a":null}],"device":{"os":1,)")),
         nullptr}, // unknown members are ignored
        {with(R"({"kind":"rolling","label":"5h","resetAt":"2026-03-01T10:00:00Z"})", "null"),
         [](UsageSnapshot& s) { s.providers[0].window.reset(); }},
        {with(R"("costUsd":1.5)", R"("costUsd":null,"remainingText":null)",
              with(R"("label":"5h")", R"("label":null,"startedAt":null)")),
         [](UsageSnapshot& s) {
             s.providers[0].window->label.reset();
             s.providers[0].usage.costUsd.reset();
         }},
        {with(R"("2026-03-01T09:14:05Z")", R"("2026-03-01T11:14:05+02:00")"), nullptr},
        {with(R"("name":"Mac")", R"("name":"a\/b \u00e9\ud83d\ude00")"),
         [](UsageSnapshot& s) { s.device.name = "a/b \xC3\xA9\xF0\x9F\x98\x80"; }},
        {with(R"(:1,)", R"(:1.0e0,)"), nullptr},
        {with(R"(:40)", R"(:40,"inputTokens":18446744073709551615)"),
         [](UsageSnapshot& s) { s.providers[0].usage.inputTokens = 18446744073709551615.0; }},
        {with(validJson.substr(validJson.find("[{")), "[]}"),
         [](UsageSnapshot& s) { s.providers.clear(); }},
    };
    for (const auto& [json, change] : cases) {
        const auto decoded = decodeSnapshot(json);
        ASSERT_TRUE(decoded.ok()) << decoded.error().description() << "\n" << json;
        UsageSnapshot expected = validSnapshot;
        if (change) {
            change(expected);
        }
        EXPECT_EQ(decoded.value(), expected) << json;
    }
}

const ProviderUsage bareRow{
    "codex", "Codex", SourceType::localCli, Confidence::inferred, ProviderStatus::unknown, {},
    {},      t0};

UsageSnapshot snapshotWith(std::vector<ProviderUsage> rows) {
    return {1, "snap_1", "space", t0, {"mac_1", "Mac", SnapshotDeviceKind::mac}, std::move(rows)};
}

// The golden demo snapshot fixes the whole form; these are the shapes it does not have.
TEST(SnapshotEncode, EmptyPartsAndSubSecondDates) {
    UsageSnapshot s = snapshotWith({});
    s.updatedAt = t0 + 999ms;
    EXPECT_TRUE(encodeSnapshot(s).value().ends_with(R"("providers" : [],
  "schemaVersion" : 1,
  "snapshotId" : "snap_1",
  "syncSpaceId" : "space",
  "updatedAt" : "2026-03-01T09:14:05Z"
})"));
    // Absent optionals are left out, down to an empty usage object and a window with a kind.
    ProviderUsage row = bareRow;
    row.window = UsageWindow{UsageWindowKind::weekly, {}, {}, {}};
    EXPECT_NE(encodeSnapshot(snapshotWith({row})).value().find(R"("usage" : {},
      "window" : {
        "kind" : "weekly"
      }
    }
  ],)"),
              std::string::npos);
    EXPECT_EQ(encodeSnapshot(snapshotWith({bareRow})).value().find("window"), std::string::npos);
}

TEST(SnapshotEncode, NonFiniteNumbersFailWithTheirPath) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::pair<UsageMetrics, std::string> cases[] = {
        {{std::nan(""), {}, {}, {}, {}, {}, {}}, "providers[1].usage.usedPercent"},
        {{{}, {}, {}, {}, {}, inf, {}}, "providers[1].usage.costUsd"},
        {{{}, {}, {}, {}, -inf, {}, {}}, "providers[1].usage.cachedInputTokens"},
    };
    for (const auto& [usage, path] : cases) {
        ProviderUsage row = bareRow;
        row.usage = usage;
        const auto encoded = encodeSnapshot(snapshotWith({bareRow, row}));
        ASSERT_FALSE(encoded.ok()) << path;
        EXPECT_EQ(encoded.error().path, path);
    }
}

// Tricky values come back equal, and what the relay decodes it encodes again stably, whatever
// form the uploader chose for its numbers.
TEST(SnapshotEncode, RoundTripsAreExactAndStable) {
    ProviderUsage row = bareRow;
    row.displayName =
        "quote\" back\\ nl\n tab\t ctl\x01\x1f del\x7f slash/ \xE2\x80\xA8 \xF0\x9F\x98\x80";
    row.usage = {0.1 + 0.2, 1.0 / 3.0, 1.7976931348623157e308, 5e-324, -0.0, 123456789012345680.0,
                 ""};
    row.window = UsageWindow{UsageWindowKind::monthly, "", t0 - 86400s * 20000, t0 + 3s};
    std::vector<std::pair<std::string, UsageSnapshot>> cases{{"tricky", snapshotWith({row})}};
    for (const std::string number : {"-0", "-0.0", "-0e3", "18446744073709551615", "1e19",
                                     "-9223372036854775808", "4.9e-324", "1E+2"}) {
        const auto decoded = decodeSnapshot(with(R"("costUsd":1.5)", R"("costUsd":)" + number));
        ASSERT_TRUE(decoded.ok()) << number;
        cases.emplace_back(number, decoded.value());
    }
    for (const auto& [name, snapshot] : cases) {
        SCOPED_TRACE(name);
        const auto encoded = encodeSnapshot(snapshot);
        ASSERT_TRUE(encoded.ok());
        const auto again = decodeSnapshot(encoded.value());
        ASSERT_TRUE(again.ok()) << again.error().description() << "\n" << encoded.value();
        EXPECT_EQ(again.value(), snapshot);
        EXPECT_EQ(encodeSnapshot(again.value()).value(), encoded.value());
    }
}

// Token counts and other integral values reach the wire as plain integers.
TEST(SnapshotEncode, IntegralValuesArePlainIntegers) {
    UsageSnapshot snapshot = validSnapshot;
    snapshot.providers[0].usage = UsageMetrics{100, {}, 100000, 2000000, 31000000, 3, {}};
    const auto encoded = encodeSnapshot(snapshot);
    ASSERT_TRUE(encoded.ok());
    for (const std::string member :
         {R"("usedPercent" : 100)", R"("inputTokens" : 100000)", R"("outputTokens" : 2000000)",
          R"("cachedInputTokens" : 31000000)", R"("costUsd" : 3)"}) {
        EXPECT_NE(encoded.value().find(member), std::string::npos) << encoded.value();
    }
    EXPECT_EQ(encoded.value().find("e+"), std::string::npos) << encoded.value();
}

TEST(SnapshotEncode, QuotedStringsAndNumbers) {
    const std::pair<std::string, std::string> quoted[] = {
        {"", R"("")"},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
        {std::string("\x00\x1f", 2), R"("\u0000\u001f")"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        // Invalid sequences each become U+FFFD: a lone continuation byte, a truncated
        // sequence, an overlong encoding and an encoded surrogate.
        {"a\x80z", "\"a\xEF\xBF\xBDz\""},
        {"a\xE2\x82", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& [text, expected] : quoted) {
        EXPECT_EQ(jsonQuoted(text), expected);
    }
    const std::pair<double, std::string> numbers[] = {
        {0.1 + 0.2, "0.30000000000000004"},
        {-0.5, "-0.5"},
        {1e21, "1e+21"},
        {1.5e-7, "1.5e-07"},
        {-0.0, "0"},
        {9223372036854775807.0, "9.223372036854776e+18"},
        {-18446744073709551615.0, "-1.8446744073709552e+19"},
        {4500000000000001.0, "4500000000000001"},
        // Integral values go out as plain integers, never in the shorter exponent form.
        {100000.0, "100000"},
        {-2000000.0, "-2000000"},
        {1e17, "100000000000000000"},
        {1234567890123456768.0, "1234567890123456768"},
        {9223372036854774784.0, "9223372036854774784"}};
    for (const auto& [value, expected] : numbers) {
        EXPECT_EQ(jsonNumber(value), expected);
    }
}

} // namespace
} // namespace korvo

#include "sources/FieldExtraction.h"

#include "TestHome.h"
#include "sources/OTelMetricReader.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace korvo {
namespace {

using namespace korvo::testing;

TEST(NormalizeKey, KeepsLowerCaseLettersAndDigitsOnly) {
    EXPECT_EQ(normalizeKey("used_percent"), "usedpercent");
    EXPECT_EQ(normalizeKey("usedPercent"), "usedpercent");
    EXPECT_EQ(normalizeKey("Used-Percent 2"), "usedpercent2");
    EXPECT_EQ(normalizeKey("__"), "");
}

TEST(ParseJSONCandidate, KeyTablesFillTheirFields) {
    struct Case {
        const char* json;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {R"({"rate":{"used_percent":0.42}})", "used=0.42"},
        {R"({"Usage-Percentage":"  63 "})", "used=63"},
        {R"({"limitRemainingPercent":12})", "left=12"},
        {R"({"prompt_tokens":5,"completion_tokens":7})", "in=5 out=7"},
        {R"({"total_cost_usd":1.25})", "cost=1.25"},
        {R"({"remaining":"  3 of 10 remaining\n"})", "text=[3 of 10 remaining]"},
        {R"({"nextResetAt":1767607200000})", "resets=2026-01-05T10:00:00Z"},
        {R"({"quota":{"reset_time":1767607200}})", "resets=2026-01-05T10:00:00Z"},
        {R"({"state":"RATE LIMITED","window":"5h"})", "label=5h status=limited"},
        {R"({"status":"fine","cost":2})", "cost=2"},
        // Array elements inherit their parent's key; the first value wins.
        {R"({"input_tokens":[4,9]})", "in=4"},
        {R"({"inputTokens":"many","prompt_tokens":8})", "in=8"},
        {R"({"cache_creation_input_tokens":10,"cache_read_input_tokens":5,"cached_tokens":99})",
         "cached=15"},
        // The plain key only fills a gap; the two cache counts add up after it.
        {R"({"cached_tokens":99,"cache_creation_input_tokens":10,"cache_read_input_tokens":5})",
         "cached=114"},
        {R"({"a":{"cache_read_input_tokens":5},"b":{"cache_read_input_tokens":6}})", "cached=11"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(candidateText(parseJSONCandidate(c.json)), c.expected) << c.json;
    }
}

TEST(ParseJSONCandidate, NothingUsefulIsAbsent) {
    // Nesting beyond the parser's depth is absent, not a crash.
    std::string deep;
    for (int i = 0; i < 5000; ++i) {
        deep += "{\"a\":";
    }
    deep += "{\"used_percent\":5}" + std::string(5000, '}');
    const std::vector<std::string> documents = {
        R"({"window":"5h"})",
        R"({"timestamp":"2026-01-05T10:00:00Z"})",
        R"({"used_percent":null,"cost":"n/a","status":"mystery"})",
        R"([1,2,3])",
        "42",
        R"({"used_percent":)",
        R"({"input_tokens":123456789012345678901234567890})",
        "",
        deep,
    };
    for (const auto& json : documents) {
        EXPECT_FALSE(parseJSONCandidate(json).has_value()) << json.substr(0, 60);
    }
}

// The value parsers, each shown as text; "none" when absent.
TEST(ValueParsers, NumbersDatesAndStatusTexts) {
    const auto number = [](simdjson::dom::element v) {
        const auto n = parseNumber(v);
        return n ? jsonNumber(*n) : "none";
    };
    const auto date = [](simdjson::dom::element v) {
        const auto d = parseDate(v);
        return d ? timeText(*d) : "none";
    };
    const auto status = [](simdjson::dom::element v) {
        const auto s = parseStatusText(v);
        return s ? std::string(rawValue(*s)) : "none";
    };
    const auto otelDate = [](simdjson::dom::element v) {
        const auto d = parseOTelDate(v);
        return d ? timeText(*d) : "none";
    };
    const std::string moment = "2026-01-05T10:00:00Z";
    struct Case {
        std::function<std::string(simdjson::dom::element)> parse;
        const char* json;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {number, "12", "12"},
        {number, "-3.5", "-3.5"},
        {number, "18446744073709551615", "18446744073709551616"},
        {number, R"(" 1.5e3\n")", "1500"},
        {number, R"("+7")", "7"},
        {number, R"("1,5")", "none"},
        {number, R"("12abc")", "none"},
        {number, R"("")", "none"},
        {number, R"("nan")", "none"},
        {number, R"("inf")", "none"},
        {number, R"("0x10")", "none"},
        {number, "true", "none"},
        {number, "null", "none"},
        // Epoch units follow the size of the number.
        {date, "1767607200", moment},
        {date, "1767607200000", moment},
        {date, "1767607200000000", moment},
        {date, "1767607200000000000", moment},
        {date, R"("1767607200")", moment},
        {date, R"("2026-01-05T10:00:00Z")", moment},
        {date, R"("2026-01-05T11:00:00.000+01:00")", moment},
        {date, R"("2026-01-05 10:00:00")", "none"},
        {date, R"("yesterday")", "none"},
        {date, "1e300", "none"},
        {date, "null", "none"},
        // Status keywords in priority order.
        {status, R"("Limited")", "limited"},
        {status, R"("quota EXHAUSTED, warning")", "limited"},
        {status, R"("critical warning")", "critical"},
        {status, R"("warn")", "warning"},
        {status, R"("offline")", "offline"},
        {status, R"("stale")", "stale"},
        {status, R"("OK")", "ok"},
        {status, R"("active")", "ok"},
        {status, R"("unknown")", "none"},
        {status, "3", "none"},
        // OpenTelemetry times also come as [seconds, nanoseconds].
        {otelDate, "[1733356800, 250000000]", "2024-12-05T00:00:00.250Z"},
        {otelDate, "[1733356800, 1000000000]", "none"},
        {otelDate, "[1733356800.5, 0]", "none"},
        {otelDate, "[1e300, 0]", "none"},
        {otelDate, "[1733356800]", "none"},
        {otelDate, R"(["1733356800", 0])", "none"},
        {otelDate, "1733356800000", "2024-12-05T00:00:00Z"},
    };
    simdjson::dom::parser parser;
    for (const auto& c : cases) {
        simdjson::dom::element value;
        ASSERT_FALSE(parser.parse(std::string(c.json)).get(value)) << c.json;
        EXPECT_EQ(c.parse(value), c.expected) << c.json;
    }
}

} // namespace
} // namespace korvo

#include "sources/FieldExtraction.h"

#include "model/TimeText.h"

#include <gtest/gtest.h>
#include <vector>

namespace korvo {
namespace {

Instant at(const char* text) {
    return *parseInternetDateTime(text);
}

TEST(NormalizeKey, KeepsLowerCaseLettersAndDigitsOnly) {
    EXPECT_EQ(normalizeKey("used_percent"), "usedpercent");
    EXPECT_EQ(normalizeKey("usedPercent"), "usedpercent");
    EXPECT_EQ(normalizeKey("Used-Percent 2"), "usedpercent2");
    EXPECT_EQ(normalizeKey("__"), "");
}

TEST(ParseJSONCandidate, KeyTablesFillTheirFields) {
    struct Case {
        const char* json;
        SanitizedUsageCandidate expected;
    };
    const auto make = [](auto fill) {
        SanitizedUsageCandidate c;
        fill(c);
        return c;
    };
    const std::vector<Case> cases = {
        {R"({"rate":{"used_percent":0.42}})", make([](auto& c) { c.usedPercent = 0.42; })},
        {R"({"Usage-Percentage":"  63 "})", make([](auto& c) { c.usedPercent = 63; })},
        {R"({"limitRemainingPercent":12})", make([](auto& c) { c.remainingPercent = 12; })},
        {R"({"prompt_tokens":5,"completion_tokens":7})", make([](auto& c) {
             c.inputTokens = 5;
             c.outputTokens = 7;
         })},
        {R"({"total_cost_usd":1.25})", make([](auto& c) { c.costUsd = 1.25; })},
        {R"({"remaining":"  3 of 10 remaining\n"})",
         make([](auto& c) { c.remainingText = "3 of 10 remaining"; })},
        {R"({"nextResetAt":1767607200000})",
         make([](auto& c) { c.resetAt = at("2026-01-05T10:00:00Z"); })},
        {R"({"quota":{"reset_time":1767607200}})",
         make([](auto& c) { c.resetAt = at("2026-01-05T10:00:00Z"); })},
        {R"({"state":"RATE LIMITED","window":"5h"})", make([](auto& c) {
             c.status = ProviderStatus::limited;
             c.windowLabel = "5h";
         })},
        {R"({"status":"fine","cost":2})", make([](auto& c) { c.costUsd = 2; })},
        // Array elements inherit their parent's key; the first value wins.
        {R"({"input_tokens":[4,9]})", make([](auto& c) { c.inputTokens = 4; })},
        {R"({"inputTokens":"many","prompt_tokens":8})", make([](auto& c) { c.inputTokens = 8; })},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseJSONCandidate(c.json), std::optional(c.expected)) << c.json;
    }
}

TEST(ParseJSONCandidate, CacheCountsAddUpAndThePlainKeyOnlyFillsAGap) {
    struct Case {
        const char* json;
        double expected;
    };
    const std::vector<Case> cases = {
        {R"({"cache_creation_input_tokens":10,"cache_read_input_tokens":5,"cached_tokens":99})",
         15},
        {R"({"cached_tokens":99,"cache_creation_input_tokens":10,"cache_read_input_tokens":5})",
         114},
        {R"({"a":{"cache_read_input_tokens":5},"b":{"cache_read_input_tokens":6}})", 11},
    };
    for (const auto& c : cases) {
        const auto candidate = parseJSONCandidate(c.json);
        ASSERT_TRUE(candidate) << c.json;
        EXPECT_EQ(candidate->cachedInputTokens, c.expected) << c.json;
    }
}

TEST(ParseJSONCandidate, NothingUsefulIsAbsent) {
    const std::vector<const char*> documents = {
        R"({"window":"5h"})",
        R"({"timestamp":"2026-01-05T10:00:00Z"})",
        R"({"used_percent":null,"cost":"n/a","status":"mystery"})",
        R"([1,2,3])",
        "42",
        R"({"used_percent":)",
        R"({"input_tokens":123456789012345678901234567890})",
        "",
    };
    for (const char* json : documents) {
        EXPECT_FALSE(parseJSONCandidate(json).has_value()) << json;
    }
}

TEST(ParseJSONCandidate, NestingBeyondTheParserDepthIsAbsentNotACrash) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) {
        deep += "{\"a\":";
    }
    deep += "{\"used_percent\":5}";
    deep += std::string(5000, '}');
    EXPECT_FALSE(parseJSONCandidate(deep).has_value());
}

TEST(ParseNumber, AcceptsNumbersAndDecimalTexts) {
    simdjson::dom::parser parser;
    struct Case {
        const char* json;
        std::optional<double> expected;
    };
    const std::vector<Case> cases = {
        {"12", 12.0},
        {"-3.5", -3.5},
        {"18446744073709551615", 18446744073709551615.0},
        {R"(" 1.5e3\n")", 1500.0},
        {R"("+7")", 7.0},
        {R"("1,5")", std::nullopt},
        {R"("12abc")", std::nullopt},
        {R"("")", std::nullopt},
        {R"("nan")", std::nullopt},
        {R"("inf")", std::nullopt},
        {R"("0x10")", std::nullopt},
        {"true", std::nullopt},
        {"null", std::nullopt},
    };
    for (const auto& c : cases) {
        simdjson::dom::element value;
        ASSERT_FALSE(parser.parse(std::string(c.json)).get(value)) << c.json;
        EXPECT_EQ(parseNumber(value), c.expected) << c.json;
    }
}

TEST(ParseDate, EpochUnitsFollowTheSizeOfTheNumber) {
    simdjson::dom::parser parser;
    const Instant moment = at("2026-01-05T10:00:00Z");
    struct Case {
        const char* json;
        std::optional<Instant> expected;
    };
    const std::vector<Case> cases = {
        {"1767607200", moment},
        {"1767607200000", moment},
        {"1767607200000000", moment},
        {"1767607200000000000", moment},
        {R"("1767607200")", moment},
        {R"("2026-01-05T10:00:00Z")", moment},
        {R"("2026-01-05T11:00:00.000+01:00")", moment},
        {R"("2026-01-05 10:00:00")", std::nullopt},
        {R"("yesterday")", std::nullopt},
        {"1e300", std::nullopt},
        {"null", std::nullopt},
    };
    for (const auto& c : cases) {
        simdjson::dom::element value;
        ASSERT_FALSE(parser.parse(std::string(c.json)).get(value)) << c.json;
        EXPECT_EQ(parseDate(value), c.expected) << c.json;
    }
}

TEST(ParseStatusText, KeywordsInPriorityOrder) {
    simdjson::dom::parser parser;
    struct Case {
        const char* json;
        std::optional<ProviderStatus> expected;
    };
    const std::vector<Case> cases = {
        {R"("Limited")", ProviderStatus::limited},
        {R"("quota EXHAUSTED, warning")", ProviderStatus::limited},
        {R"("critical warning")", ProviderStatus::critical},
        {R"("warn")", ProviderStatus::warning},
        {R"("offline")", ProviderStatus::offline},
        {R"("stale")", ProviderStatus::stale},
        {R"("OK")", ProviderStatus::ok},
        {R"("active")", ProviderStatus::ok},
        {R"("unknown")", std::nullopt},
        {"3", std::nullopt},
    };
    for (const auto& c : cases) {
        simdjson::dom::element value;
        ASSERT_FALSE(parser.parse(std::string(c.json)).get(value)) << c.json;
        EXPECT_EQ(parseStatusText(value), c.expected) << c.json;
    }
}

} // namespace
} // namespace korvo

// The extraction rules: which keys fill which fields, how values are read, which candidate is
// kept, and how the kept one becomes a row.

#include "sources/fields/FieldExtraction.h"

#include "AdapterCases.h"
#include "sources/fields/ProviderUsageBuilder.h"
#include "sources/otel/OTelMetricReader.h"

#include <functional>
#include <gtest/gtest.h>

// Candidates are written with designated initializers; the fields left out are meant empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace korvo {
namespace {

using namespace korvo::test;
using namespace std::chrono_literals;

const Instant kNow = *parseInternetDateTime("2026-01-05T10:00:00Z");

// Each document's candidate; "none" when nothing useful is found.
TEST(ParseJSONCandidate, KeyTablesFillTheirFields) {
    const std::vector<std::pair<std::string, const char*>> cases = {
        {R"({"rate":{"used_percent":0.42}})", "used=0.42"},
        {R"({"Usage-Percentage":"  63 "})", "used=63"},
        {R"({"limitRemainingPercent":12})", "left=12"},
        {R"({"prompt_tokens":5,"completion_tokens":7})", "in=5 out=7"},
        {R"({"total_cost_usd":1.25})", "cost=1.25"},
        {R"({"remaining":"  3 of 10 remaining\n"})", "text=[3 of 10 remaining]"},
        {R"({"nextResetAt":1767607200000})", "resets=2026-01-05T10:00:00Z"},
        {R"({"state":"RATE LIMITED","window":"5h","updated_at":1767607200})",
         "label=5h status=limited at=2026-01-05T10:00:00Z"},
        // Array elements inherit their parent's key; the first value wins.
        {R"({"input_tokens":[4,9]})", "in=4"},
        {R"({"inputTokens":"many","prompt_tokens":8})", "in=8"},
        {R"({"cache_creation_input_tokens":10,"cache_read_input_tokens":5,"cached_tokens":99})",
         "cached=15"},
        // The plain key only fills a gap; the two cache counts add up after it.
        {R"({"cached_tokens":99,"cache_creation_input_tokens":10,"cache_read_input_tokens":5})",
         "cached=114"},
        {R"({"window":"5h","timestamp":"2026-01-05T10:00:00Z"})", "none"},
        {R"({"used_percent":null,"cost":"n/a","status":"mystery"})", "none"},
        {R"([1,2,3])", "none"},
    };
    for (const auto& [json, expected] : cases) {
        EXPECT_EQ(candidateText(parseJSONCandidate(json)), expected) << json;
    }
}

// The value parsers, each shown as text; "none" when absent.
TEST(ValueParsers, NumbersDatesAndStatusTexts) {
    using simdjson::dom::element;
    const auto number = [](element v) { return FieldText::shown(parseNumber(v)); };
    const auto date = [](element v) { return FieldText::shown(parseDate(v)); };
    const auto status = [](element v) { return FieldText::shown(parseStatusText(v)); };
    const auto otelDate = [](element v) { return FieldText::shown(parseOTelDate(v)); };
    // A parser, the text it gives, and the inputs that each give it.
    const std::vector<
        std::tuple<std::function<std::string(element)>, std::string, std::vector<const char*>>>
        cases = {
            {number, "12", {"12"}},
            {number, "-3.5", {"-3.5"}},
            {number, "1.8446744073709552e+19", {"18446744073709551615"}},
            {number, "1500", {R"(" 1.5e3\n")"}},
            {number, "7", {R"("+7")"}},
            {number, "none", {R"("1,5")", R"("12abc")", R"("")", R"("nan")", R"("0x10")", "true"}},
            // Epoch units follow the size of the number.
            {date,
             "2026-01-05T10:00:00Z",
             {"1767607200", "1767607200000", "1767607200000000", "1767607200000000000",
              R"("1767607200")", R"("2026-01-05T10:00:00Z")",
              R"("2026-01-05T11:00:00.000+01:00")"}},
            {date, "none", {R"("2026-01-05 10:00:00")", "1e300"}},
            // Status keywords in priority order.
            {status, "limited", {R"("quota EXHAUSTED, warning")"}},
            {status, "critical", {R"("critical warning")"}},
            {status, "warning", {R"("warn")"}},
            {status, "offline", {R"("offline")"}},
            {status, "stale", {R"("stale")"}},
            {status, "ok", {R"("OK")", R"("active")"}},
            {status, "none", {R"("unknown")"}},
            // OpenTelemetry times also come as [seconds, nanoseconds].
            {otelDate, "2024-12-05T00:00:00.250Z", {"[1733356800, 250000000]"}},
            {otelDate, "2024-12-05T00:00:00Z", {"1733356800000"}},
            {otelDate, "none", {"[1733356800, 1000000000]", "[1733356800.5, 0]", "[1e300, 0]"}},
        };
    simdjson::dom::parser parser;
    for (const auto& [parse, expected, inputs] : cases) {
        for (const char* json : inputs) {
            element value;
            ASSERT_FALSE(parser.parse(std::string(json)).get(value)) << json;
            EXPECT_EQ(parse(value), expected) << json;
        }
    }
}

// A candidate with `input` tokens, observed `seconds` after now when given.
SanitizedUsageCandidate dated(double input, std::optional<int> seconds) {
    return {.inputTokens = input,
            .observedAt =
                seconds ? std::optional(kNow + std::chrono::seconds(*seconds)) : std::nullopt};
}

TEST(CandidateTests, WhatCountsAsUsefulLimitAndTokenData) {
    const std::vector<std::tuple<const char*, SanitizedUsageCandidate, bool, bool, bool>> cases = {
        {"label only", {.windowLabel = "5h"}, false, false, false},
        {"observation time only", {.observedAt = kNow}, false, false, false},
        {"text without the word", {.remainingText = "plenty left"}, true, false, false},
        {"remaining text", {.remainingText = "7d 40% REMAINING"}, true, true, false},
        {"reset time", {.resetAt = kNow}, true, true, false},
        {"zero cost", {.costUsd = 0}, true, false, true},
        {"status", {.status = ProviderStatus::ok}, true, false, false},
    };
    for (const auto& [name, candidate, useful, limit, token] : cases) {
        EXPECT_EQ(candidate.hasUsefulData(), useful) << name;
        EXPECT_EQ(candidate.hasLimitData(), limit) << name;
        EXPECT_EQ(candidate.hasTokenData(), token) << name;
    }
}

TEST(PreferNewer, OnlyAStrictlyLaterDatedSampleReplaces) {
    const std::vector<std::tuple<const char*, std::optional<SanitizedUsageCandidate>,
                                 SanitizedUsageCandidate, double>>
        cases = {
            {"nothing kept", std::nullopt, dated(2, std::nullopt), 2},
            {"undated newcomer", dated(1, 0), dated(2, std::nullopt), 1},
            {"dated over undated", dated(1, std::nullopt), dated(2, -60), 2},
            {"later", dated(1, 0), dated(2, 1), 2},
            {"same moment", dated(1, 0), dated(2, 0), 1},
            {"earlier", dated(1, 0), dated(2, -1), 1},
        };
    for (const auto& [name, kept, candidate, input] : cases) {
        EXPECT_EQ(preferNewer(kept, candidate).inputTokens, input) << name;
    }
}

TEST(MergeCandidates, EachFieldFromTheFirstThatHasIt) {
    const SanitizedUsageCandidate bridge{.usedPercent = 42, .windowLabel = "5h"};
    const SanitizedUsageCandidate status{.usedPercent = 10, .remainingText = "from status"};
    const SanitizedUsageCandidate logs{.inputTokens = 100, .observedAt = kNow};
    EXPECT_EQ(candidateText(mergeCandidates({bridge, std::nullopt, status, logs})),
              "used=42 in=100 text=[from status] label=5h at=2026-01-05T10:00:00Z");
    EXPECT_FALSE(mergeCandidates({std::nullopt, std::nullopt}));
    EXPECT_FALSE(mergeCandidates({SanitizedUsageCandidate{.windowLabel = "5h"}}));
}

TEST(MakeProviderUsage, PercentagesStatusThresholdsAndTheResetRule) {
    // The row without the constant "cli_reported" and time.
    const std::string reset = "text=[" + std::string(kWindowResetText);
    const std::vector<std::pair<SanitizedUsageCandidate, std::string>> cases = {
        {{.usedPercent = 0.42}, "ok used=42 left=58"},
        {{.usedPercent = 0.8}, "warning used=80 left=20"},
        {{.usedPercent = 95}, "critical used=95 left=5"},
        {{.usedPercent = 1}, "limited used=100 left=0"},
        {{.remainingPercent = 0}, "limited used=100 left=0"},
        {{.usedPercent = -20}, "ok used=0 left=100"},
        {{.usedPercent = 97, .status = ProviderStatus::stale}, "stale used=97 left=3"},
        {{}, "unknown"},
        // An exhausted window whose reset has passed is dropped: half a percent left counts.
        {{.usedPercent = 100, .resetAt = kNow - 1min}, "unknown " + reset + "]"},
        {{.usedPercent = 99.6, .remainingText = "7d", .resetAt = kNow - 1min},
         "unknown " + reset + " · 7d]"},
        {{.usedPercent = 99.25, .resetAt = kNow - 1min},
         "critical used=99.25 left=0.75 resets=2026-01-05T09:59:00Z"},
        {{.usedPercent = 100, .resetAt = kNow + 1min},
         "limited used=100 left=0 resets=2026-01-05T10:01:00Z"},
    };
    for (const auto& [candidate, row] : cases) {
        auto text = rowText(makeProviderUsage("x", "X", SourceType::localCli,
                                              Confidence::cliReported, candidate, kNow));
        text.erase(text.find(" cli_reported"), 13);
        text.erase(text.rfind(" at="));
        EXPECT_EQ(text, row);
    }
}

} // namespace
} // namespace korvo

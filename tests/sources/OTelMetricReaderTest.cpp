#include "sources/OTelMetricReader.h"

#include "TestHome.h"
#include "sources/AccumulateCandidate.h"
#include "sources/OTelTokenTotal.h"

#include <array>
#include <gtest/gtest.h>
#include <string>

namespace korvo {
namespace {

using korvo::testing::candidateText;

constexpr std::array<std::string_view, 2> kGeminiNames{"gemini_cli.token.usage",
                                                       "gen_ai.client.token.usage"};
constexpr std::array<std::string_view, 1> kCopilotNames{"gen_ai.client.token.usage"};

// What the reader makes of the documents, each read as one document of a file.
std::optional<SanitizedUsageCandidate> readDocuments(std::span<const std::string_view> names,
                                                     const std::vector<std::string>& documents) {
    simdjson::dom::parser parser;
    OTelTokenTotal total("local telemetry");
    for (const auto& text : documents) {
        simdjson::dom::element document;
        EXPECT_EQ(parser.parse(text).get(document), simdjson::SUCCESS) << text;
        walkMetrics(document, names, total);
    }
    return total.total();
}

std::string flat(const std::string& name, const std::string& attributes, const std::string& value) {
    return R"({"name":")" + name + R"(","attributes":)" + attributes + R"(,"value":)" + value + "}";
}

// A flat record of the Gemini metric with one token type.
std::string typed(const std::string& type, const std::string& value) {
    return flat("gemini_cli.token.usage", R"({"type":")" + type + R"("})", value);
}

TEST(OTelShapes, ReadsTokenPoints) {
    struct Case {
        const char* name;
        bool copilotNames;
        std::vector<std::string> documents;
        std::string expected; // the total, without its constant label
    };
    const std::vector<Case> cases = {
        {"OTLP typed attribute list",
         true,
         {R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[
           {"name":"gen_ai.client.token.usage","sum":{"dataPoints":[
           {"attributes":[{"key":"gen_ai.token.type","value":{"stringValue":"input"}}],"asInt":"120"},
           {"attributes":[{"key":"gen_ai.token.type","value":{"stringValue":"output"}}],"asInt":"30"}]}}]}]}]})"},
         "in=120 out=30"},
        {"vendor prefix matches",
         false,
         {flat("vendor.gemini_cli.token.usage", R"({"type":"input"})", "9")},
         "in=9"},
        {"other names do not match",
         false,
         {flat("token.usage", R"({"type":"input"})", "9"),
          flat("gen_ai.client.token.usage.total", R"({"type":"input"})", "9"),
          flat("xgen_ai.client.token.usage", R"({"type":"input"})", "9")},
         "none"},
        {"Copilot ignores the Gemini metric", true, {typed("input", "9")}, "none"},
        {"thought rounds half away", false, {typed("thought", "41.5")}, "text=[Thought 42 tokens]"},
        {"other types sum per label in order, reasoning as thought",
         false,
         {typed("thought", "3"), typed("tool", "4"), typed("tool", "4"), typed("Reasoning", "2.5"),
          typed("Audio", "2")},
         "text=[Thought 6 tokens · Tool 8 tokens · Audio 2 tokens]"},
        {"cache and cached input",
         false,
         {typed("cache", "7"), typed("cached_input", "3")},
         "in=3 cached=7"},
        {"type on the point, typed value",
         false,
         {R"({"name":"gemini_cli.token.usage","attributes":42,"type":"output","value":{"asInt":"7"}})"},
         "out=7"},
        {"nested typed values",
         false,
         {R"({"name":"gemini_cli.token.usage","attributes":[{"name":" type ","value":{"value":{"stringValue":"input"}}}],"value":{"intValue":"812"}})"},
         "in=812"},
        // In a list the later of two equal keys wins; entries without a usable key are skipped.
        {"attribute list entries",
         false,
         {R"({"name":"gemini_cli.token.usage","attributes":[{"key":"type","value":{"stringValue":"thought"}},
           {"key":null,"name":"x"},{"key":"type","value":{"stringValue":"input"}},{"key":"  "},7],"value":5})"},
         "in=5"},
        {"normalized attribute key",
         true,
         {flat("gen_ai.client.token.usage", R"({"Gen_AI.Token.Type":"completion"})", "6")},
         "out=6"},
        {"missing type or value adds nothing",
         false,
         {flat("gemini_cli.token.usage", R"({"model":"m"})", "5"), typed("input", R"("many")"),
          typed("   ", "5")},
         "none"},
        {"nanosecond time as text and number, the later kept",
         false,
         {R"({"name":"gemini_cli.token.usage","dataPoints":[
           {"attributes":{"type":"input"},"value":1,"timeUnixNano":"1733356800000000000"},
           {"attributes":{"type":"input"},"value":1,"timeUnixNano":1733356700000000000}]})"},
         "in=2 at=2024-12-05T00:00:00Z"},
        {"time from attributes",
         false,
         {flat("gemini_cli.token.usage", R"({"type":"input","time":"2024-12-05T00:00:00Z"})", "1")},
         "in=1 at=2024-12-05T00:00:00Z"},
        {"attribute overrides",
         false,
         {R"({"name":"gemini_cli.token.usage","attributes":{"type":"tool"},
           "sum":{"attributes":{"type":"output"},"dataPoints":[{"value":4},
           {"attributes":{"type":"input"},"value":9}]},"dataPoints":[{"value":2}]})"},
         "in=9 out=4 text=[Tool 2 tokens]"},
        {"OTLP histogram counts its sum, not its count",
         true,
         {R"({"name":"gen_ai.client.token.usage","histogram":{"dataPoints":[
           {"attributes":[{"key":"gen_ai.token.type","value":{"stringValue":"input"}}],
           "count":"3","sum":1450,"bucketCounts":["0","3"]}]}})"},
         "in=1450"},
        {"JavaScript descriptor, histogram value and array times",
         true,
         {R"({"descriptor":{"name":"gen_ai.client.token.usage","type":"HISTOGRAM"},
           "dataPointType":0,"dataPoints":[{"attributes":{"gen_ai.token.type":"output"},
           "startTime":[1733356000,0],"endTime":[1733356800,0],
           "value":{"min":10,"max":90,"sum":100,"count":2}}]})"},
         "out=100 at=2024-12-05T00:00:00Z"},
        {"unrepresentable counts add nothing",
         false,
         {typed("thought", "1e300"), typed("input", R"("1e999")")},
         "none"},
        {"a matching metric is not searched further",
         false,
         {R"({"name":"gemini_cli.token.usage","extra":{"name":"gemini_cli.token.usage",
           "attributes":{"type":"input"},"value":5}})"},
         "none"},
    };
    for (const auto& c : cases) {
        const auto names = c.copilotNames ? std::span<const std::string_view>(kCopilotNames)
                                          : std::span<const std::string_view>(kGeminiNames);
        auto total = readDocuments(names, c.documents);
        if (total) {
            EXPECT_EQ(total->windowLabel, "local telemetry") << c.name;
            total->windowLabel.reset();
        }
        EXPECT_EQ(candidateText(total), c.expected) << c.name;
    }
}

// Exporters write the same cumulative counter again at every interval.
TEST(OTelSeries, CumulativePointsCountOnce) {
    const auto point = [](const std::string& session, std::int64_t start, std::int64_t end,
                          int value) {
        return R"({"name":"gemini_cli.token.usage","attributes":{"type":"input","session.id":")" +
               session + R"("},"startTimeUnixNano":")" + std::to_string(start) +
               R"(000000000","timeUnixNano":")" + std::to_string(end) + R"(000000000","value":)" +
               std::to_string(value) + "}";
    };
    struct Case {
        const char* what;
        std::vector<std::string> documents;
        double input;
    };
    const std::vector<Case> cases{
        {"newest export of one series", {point("a", 100, 160, 10), point("a", 100, 220, 25)}, 25},
        {"newest by time, not file order",
         {point("a", 100, 220, 25), point("a", 100, 160, 10)},
         25},
        {"attribute sets are separate series",
         {point("a", 100, 160, 10), point("b", 100, 160, 7), point("a", 100, 220, 25)},
         32},
        {"a restart starts a new series", {point("a", 100, 160, 10), point("a", 300, 360, 4)}, 14},
        {"points without start time add up", {typed("input", "10"), typed("input", "10")}, 20},
        {"same time: the one read last", {point("a", 100, 160, 10), point("a", 100, 160, 12)}, 12},
    };
    for (const auto& c : cases) {
        const auto total = readDocuments(kGeminiNames, c.documents);
        ASSERT_TRUE(total) << c.what;
        EXPECT_EQ(total->inputTokens, c.input) << c.what;
    }
}

TEST(AccumulateCandidate, SumsJoinsAndKeepsFirstAndLatest) {
    SanitizedUsageCandidate first;
    first.inputTokens = 1;
    first.costUsd = 0.5;
    first.remainingText = "Tool 1 tokens";
    first.windowLabel = "first";
    first.usedPercent = 10;
    first.observedAt = instantFromUnixSeconds(200);
    SanitizedUsageCandidate second;
    second.inputTokens = 2;
    second.outputTokens = 3;
    second.remainingText = "Thought 2 tokens";
    second.windowLabel = "second";
    second.usedPercent = 90;
    second.status = ProviderStatus::warning;
    second.observedAt = instantFromUnixSeconds(100);
    EXPECT_EQ(candidateText(accumulateCandidate(first, second)),
              "used=10 in=3 out=3 cost=0.5 text=[Tool 1 tokens · Thought 2 tokens] label=first "
              "status=warning at=1970-01-01T00:03:20Z");
    EXPECT_EQ(accumulateCandidate(std::nullopt, second), second);
    SanitizedUsageCandidate undated = second;
    undated.observedAt.reset();
    EXPECT_EQ(accumulateCandidate(undated, first).observedAt, instantFromUnixSeconds(200));
}

} // namespace
} // namespace korvo

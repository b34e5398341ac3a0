#include "sources/OTelMetricReader.h"

#include "sources/AccumulateCandidate.h"
#include "sources/OTelTokenTotal.h"

#include <array>
#include <gtest/gtest.h>
#include <string>

namespace korvo {
namespace {

constexpr std::array<std::string_view, 2> kGeminiNames{"gemini_cli.token.usage",
                                                       "gen_ai.client.token.usage"};
constexpr std::array<std::string_view, 1> kCopilotNames{"gen_ai.client.token.usage"};

struct Expected {
    std::optional<double> input = {};
    std::optional<double> output = {};
    std::optional<double> cached = {};
    std::optional<std::string> text = {};
    std::optional<std::int64_t> observedSeconds = {};
};

// What the reader makes of the documents, each read as one document of a file.
std::optional<SanitizedUsageCandidate> readDocuments(std::span<const std::string_view> names,
                                                     const std::vector<std::string>& documents) {
    simdjson::dom::parser parser;
    OTelTokenTotal total;
    for (const auto& text : documents) {
        simdjson::dom::element document;
        EXPECT_EQ(parser.parse(text).get(document), simdjson::SUCCESS) << text;
        std::vector<OTelTokenPoint> points;
        walkMetrics(document, names, "local telemetry", points);
        for (auto& point : points) {
            total.add(std::move(point));
        }
    }
    return total.total();
}

void expectCandidate(const std::optional<SanitizedUsageCandidate>& actual,
                     const std::optional<Expected>& expected) {
    ASSERT_EQ(actual.has_value(), expected.has_value());
    if (!expected) {
        return;
    }
    EXPECT_EQ(actual->inputTokens, expected->input);
    EXPECT_EQ(actual->outputTokens, expected->output);
    EXPECT_EQ(actual->cachedInputTokens, expected->cached);
    EXPECT_EQ(actual->remainingText, expected->text);
    EXPECT_EQ(actual->windowLabel, std::optional<std::string>("local telemetry"));
    if (expected->observedSeconds) {
        EXPECT_EQ(actual->observedAt, instantFromUnixSeconds(*expected->observedSeconds));
    }
    EXPECT_FALSE(actual->usedPercent || actual->remainingPercent || actual->costUsd ||
                 actual->resetAt || actual->status);
}

struct ShapeCase {
    const char* name;
    bool copilotNames;
    std::vector<std::string> documents;
    std::optional<Expected> expected;

    friend void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }
};

const std::string kOtlpInputOutput = R"({"resourceMetrics":[{"scopeMetrics":[{"metrics":[
  {"name":"gen_ai.client.token.usage","sum":{"dataPoints":[
    {"attributes":[{"key":"gen_ai.token.type","value":{"stringValue":"input"}}],"asInt":"120"},
    {"attributes":[{"key":"gen_ai.token.type","value":{"stringValue":"output"}}],"asInt":"30"}]}}]}]}]})";

std::string flat(const std::string& name, const std::string& attributes, const std::string& value) {
    return R"({"name":")" + name + R"(","attributes":)" + attributes + R"(,"value":)" + value + "}";
}

class OTelShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(OTelShapes, ReadsTokenPoints) {
    const ShapeCase& c = GetParam();
    const auto names = c.copilotNames ? std::span<const std::string_view>(kCopilotNames)
                                      : std::span<const std::string_view>(kGeminiNames);
    expectCandidate(readDocuments(names, c.documents), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, OTelShapes,
    ::testing::Values(
        ShapeCase{"OtlpTypedAttributeList",
                  true,
                  {kOtlpInputOutput},
                  Expected{.input = 120, .output = 30}},
        ShapeCase{"VendorPrefixMatches",
                  false,
                  {flat("vendor.gemini_cli.token.usage", R"({"type":"input"})", "9")},
                  Expected{.input = 9}},
        ShapeCase{"OtherNamesDoNotMatch",
                  false,
                  {flat("token.usage", R"({"type":"input"})", "9"),
                   flat("gen_ai.client.token.usage.total", R"({"type":"input"})", "9"),
                   flat("xgen_ai.client.token.usage", R"({"type":"input"})", "9")},
                  std::nullopt},
        ShapeCase{"CopilotIgnoresGeminiMetric",
                  true,
                  {flat("gemini_cli.token.usage", R"({"type":"input"})", "9")},
                  std::nullopt},
        ShapeCase{"FlatThoughtRoundsHalfAway",
                  false,
                  {flat("gemini_cli.token.usage", R"({"type":"thought"})", "41.5")},
                  Expected{.text = "Thought 42 tokens"}},
        ShapeCase{"InputsAddUp",
                  false,
                  {flat("gemini_cli.token.usage", R"({"type":"input"})", "10"),
                   flat("gemini_cli.token.usage", R"({"type":"input"})", "5")},
                  Expected{.input = 15}},
        ShapeCase{"OtherTypesSumPerLabelInOrder",
                  false,
                  {flat("gemini_cli.token.usage", R"({"type":"thought"})", "3"),
                   flat("gemini_cli.token.usage", R"({"type":"tool"})", "4"),
                   flat("gemini_cli.token.usage", R"({"type":"tool"})", "4")},
                  Expected{.text = "Thought 3 tokens · Tool 8 tokens"}},
        ShapeCase{"ReasoningCountsAsThought",
                  false,
                  {flat("gemini_cli.token.usage", R"({"type":"thought"})", "3"),
                   flat("gemini_cli.token.usage", R"({"type":"Reasoning"})", "2.5")},
                  Expected{.text = "Thought 6 tokens"}},
        ShapeCase{"OtherTypeKeepsItsSpelling",
                  false,
                  {flat("gemini_cli.token.usage", R"({"type":"Audio"})", "2")},
                  Expected{.text = "Audio 2 tokens"}},
        ShapeCase{"CacheAndCachedInput",
                  false,
                  {flat("gemini_cli.token.usage", R"({"type":"cache"})", "7"),
                   flat("gemini_cli.token.usage", R"({"type":"cached_input"})", "3")},
                  Expected{.input = 3, .cached = 7}},
        ShapeCase{"TypeOnPointValueTyped",
                  false,
                  {R"({"name":"gemini_cli.token.usage","type":"output","value":{"asInt":"7"}})"},
                  Expected{.output = 7}},
        ShapeCase{
            "NestedTypedValues",
            false,
            {R"({"name":"gemini_cli.token.usage","attributes":[{"name":" type ","value":{"value":{"stringValue":"input"}}}],"value":{"intValue":"812"}})"},
            Expected{.input = 812}},
        ShapeCase{"NormalizedAttributeKey",
                  true,
                  {flat("gen_ai.client.token.usage", R"({"Gen_AI.Token.Type":"completion"})", "6")},
                  Expected{.output = 6}},
        ShapeCase{"MissingTypeOrValueAddsNothing",
                  false,
                  {flat("gemini_cli.token.usage", R"({"model":"m"})", "5"),
                   flat("gemini_cli.token.usage", R"({"type":"input"})", R"("many")"),
                   flat("gemini_cli.token.usage", R"({"type":"   "})", "5")},
                  std::nullopt},
        ShapeCase{"NanosecondTextTimeAndLaterKept",
                  false,
                  {R"({"name":"gemini_cli.token.usage","dataPoints":[
                      {"attributes":{"type":"input"},"value":1,"timeUnixNano":"1733356800000000000"},
                      {"attributes":{"type":"input"},"value":1,"timeUnixNano":1733356700000000000}]})"},
                  Expected{.input = 2, .observedSeconds = 1733356800}},
        ShapeCase{"TimeFromAttributes",
                  false,
                  {flat("gemini_cli.token.usage",
                        R"({"type":"input","time":"2024-12-05T00:00:00Z"})", "1")},
                  Expected{.input = 1, .observedSeconds = 1733356800}},
        ShapeCase{"AttributeOverrides",
                  false,
                  {R"({"name":"gemini_cli.token.usage","attributes":{"type":"tool"},
                      "sum":{"attributes":{"type":"output"},"dataPoints":[{"value":4},
                        {"attributes":{"type":"input"},"value":9}]},
                      "dataPoints":[{"value":2}]})"},
                  Expected{.input = 9, .output = 4, .text = "Tool 2 tokens"}},
        ShapeCase{"OtlpHistogramCountsSumNotCount",
                  true,
                  {R"({"name":"gen_ai.client.token.usage","histogram":{"dataPoints":[
                      {"attributes":[{"key":"gen_ai.token.type","value":{"stringValue":"input"}}],
                       "count":"3","sum":1450,"bucketCounts":["0","3"]}]}})"},
                  Expected{.input = 1450}},
        ShapeCase{"JavaScriptDescriptorHistogramAndArrayTimes",
                  true,
                  {R"({"descriptor":{"name":"gen_ai.client.token.usage","type":"HISTOGRAM"},
                      "dataPointType":0,"dataPoints":[{"attributes":{"gen_ai.token.type":"output"},
                      "startTime":[1733356000,0],"endTime":[1733356800,0],
                      "value":{"min":10,"max":90,"sum":100,"count":2}}]})"},
                  Expected{.output = 100, .observedSeconds = 1733356800}},
        ShapeCase{"UnrepresentableCountsAddNothing",
                  false,
                  {flat("gemini_cli.token.usage", R"({"type":"thought"})", "1e300"),
                   flat("gemini_cli.token.usage", R"({"type":"input"})", R"("1e999")")},
                  std::nullopt},
        ShapeCase{"MatchingMetricIsNotSearchedFurther",
                  false,
                  {R"({"name":"gemini_cli.token.usage","extra":{"name":"gemini_cli.token.usage",
                      "attributes":{"type":"input"},"value":5}})"},
                  std::nullopt}),
    [](const auto& info) { return info.param.name; });

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
        {"points without start time add up",
         {flat("gemini_cli.token.usage", R"({"type":"input"})", "10"),
          flat("gemini_cli.token.usage", R"({"type":"input"})", "10")},
         20},
        {"same time: the one read last", {point("a", 100, 160, 10), point("a", 100, 160, 12)}, 12},
    };
    for (const auto& c : cases) {
        const auto total = readDocuments(kGeminiNames, c.documents);
        ASSERT_TRUE(total) << c.what;
        EXPECT_EQ(total->inputTokens, c.input) << c.what;
    }
}

TEST(OTelAttributes, ListAndObjectForms) {
    simdjson::dom::parser parser;
    simdjson::dom::element list;
    ASSERT_EQ(
        parser
            .parse(std::string(R"([{"key":"a","value":{"stringValue":"1"}},{"key":null,"name":"b"},
        {"name":"c","value":{"intValue":"3"}},{"key":"a","value":{"stringValue":"2"}},{"key":"  "},7])"))
            .get(list),
        simdjson::SUCCESS);
    const auto attributes = parseAttributes(list).effective();
    ASSERT_EQ(attributes.size(), 2u);
    EXPECT_EQ(attributes[0].first, "a");
    EXPECT_EQ(attributes[0].second->get_string().value(), "2");
    EXPECT_EQ(attributes[1].first, "c");
    EXPECT_EQ(attributes[1].second->get_string().value(), "3");

    simdjson::dom::parser other;
    simdjson::dom::element scalar;
    ASSERT_EQ(other.parse(std::string("42")).get(scalar), simdjson::SUCCESS);
    EXPECT_TRUE(parseAttributes(scalar).empty());
    EXPECT_TRUE(parseAttributes(std::nullopt).empty());
}

TEST(OTelDates, SecondNanosecondPairs) {
    struct Case {
        const char* json;
        std::optional<Instant> expected;
    };
    const std::vector<Case> cases{
        {"[1733356800, 250000000]",
         instantFromUnixSeconds(1733356800) + std::chrono::milliseconds(250)},
        {"[1733356800, 1000000000]", std::nullopt},
        {"[1733356800.5, 0]", std::nullopt},
        {"[1e300, 0]", std::nullopt},
        {"[1733356800]", std::nullopt},
        {R"(["1733356800", 0])", std::nullopt},
        {"1733356800000", instantFromUnixSeconds(1733356800)},
    };
    for (const auto& c : cases) {
        simdjson::dom::parser parser;
        simdjson::dom::element value;
        ASSERT_EQ(parser.parse(std::string(c.json)).get(value), simdjson::SUCCESS) << c.json;
        EXPECT_EQ(parseOTelDate(value), c.expected) << c.json;
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

    const auto sum = accumulateCandidate(first, second);
    EXPECT_EQ(sum.inputTokens, 3);
    EXPECT_EQ(sum.outputTokens, 3);
    EXPECT_EQ(sum.costUsd, 0.5);
    EXPECT_EQ(sum.cachedInputTokens, std::nullopt);
    EXPECT_EQ(sum.remainingText, "Tool 1 tokens · Thought 2 tokens");
    EXPECT_EQ(sum.windowLabel, "first");
    EXPECT_EQ(sum.usedPercent, 10);
    EXPECT_EQ(sum.status, ProviderStatus::warning);
    EXPECT_EQ(sum.observedAt, instantFromUnixSeconds(200));
    EXPECT_EQ(accumulateCandidate(std::nullopt, second), second);
    SanitizedUsageCandidate undated = second;
    undated.observedAt.reset();
    EXPECT_EQ(accumulateCandidate(undated, first).observedAt, instantFromUnixSeconds(200));
}

} // namespace
} // namespace korvo

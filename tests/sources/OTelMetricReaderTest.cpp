#include "sources/otel/OTelMetricReader.h"

#include "AdapterCases.h"
#include "sources/otel/OTelTokenTotal.h"

#include <array>
#include <gtest/gtest.h>
#include <string>

namespace korvo {
namespace {

using korvo::test::candidateText;

constexpr std::array<std::string_view, 2> kGeminiNames{"gemini_cli.token.usage",
                                                       "gen_ai.client.token.usage"};

// The Gemini adapter's total of the documents, each read as one document of a file.
std::optional<SanitizedUsageCandidate> readDocuments(const std::vector<std::string>& documents) {
    simdjson::dom::parser parser;
    OTelTokenTotal total("local telemetry");
    for (const auto& text : documents) {
        simdjson::dom::element document;
        EXPECT_EQ(parser.parse(text).get(document), simdjson::SUCCESS) << text;
        walkMetrics(document, kGeminiNames, total);
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

// A point of a cumulative series, its times in seconds after 2024-12-05T00:00:00Z: exporters
// write the same counter again at every interval.
std::string cumulative(const std::string& session, int start, int end, int value) {
    const auto nanos = [](int seconds) {
        return std::to_string(1733356800 + seconds) + "000000000";
    };
    return R"({"name":"gemini_cli.token.usage","attributes":{"type":"input","session.id":")" +
           session + R"("},"startTimeUnixNano":")" + nanos(start) + R"(","timeUnixNano":")" +
           nanos(end) + R"(","value":)" + std::to_string(value) + "}";
}

// The total of the documents, without its constant label, and the documents. The OTLP shapes
// exporters write (typed attribute lists, histograms) are read from the adapters' fixtures.
TEST(OTelShapes, ReadsTokenPoints) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        // Names: an accepted one, or one ending in "." and an accepted one.
        {"in=9", {flat("vendor.gemini_cli.token.usage", R"({"type":"input"})", "9")}},
        {"none",
         {flat("token.usage", R"({"type":"input"})", "9"),
          flat("gen_ai.client.token.usage.total", R"({"type":"input"})", "9"),
          flat("xgen_ai.client.token.usage", R"({"type":"input"})", "9")}},
        // Token types: other types sum per label in order, reasoning as thought, half rounded
        // away from zero.
        {"text=[Thought 42 tokens]", {typed("thought", "41.5")}},
        {"text=[Thought 6 tokens · Tool 8 tokens · Audio 2 tokens]",
         {typed("thought", "3"), typed("tool", "4"), typed("tool", "4"), typed("Reasoning", "2.5"),
          typed("Audio", "2")}},
        {"in=3 cached=7", {typed("cache", "7"), typed("cached_input", "3")}},
        {"out=6",
         {flat("gen_ai.client.token.usage", R"({"Gen_AI.Token.Type":"completion"})", "6")}},
        // Missing type, missing or unrepresentable value: nothing.
        {"none",
         {flat("gemini_cli.token.usage", R"({"model":"m"})", "5"), typed("input", R"("many")"),
          typed("   ", "5"), typed("thought", "1e300"), typed("input", R"("1e999")")}},
        // Typed values, the type on the point, typed attribute lists.
        {"out=7",
         {R"({"name":"gemini_cli.token.usage","attributes":42,"type":"output","value":{"asInt":"7"}})"}},
        {"in=812",
         {R"({"name":"gemini_cli.token.usage","attributes":[{"name":" type ","value":{"value":{"stringValue":"input"}}}],"value":{"intValue":"812"}})"}},
        // In a list the later of two equal keys wins; entries without a usable key are skipped.
        {"in=5",
         {R"({"name":"gemini_cli.token.usage","attributes":[{"key":"type","value":{"stringValue":"thought"}},
           {"key":null,"name":"x"},{"key":"type","value":{"stringValue":"input"}},{"key":"  "},7],"value":5})"}},
        // The nearer attributes win: point over container over metric.
        {"in=9 out=4 text=[Tool 2 tokens]",
         {R"({"name":"gemini_cli.token.usage","attributes":{"type":"tool"},
           "sum":{"attributes":{"type":"output"},"dataPoints":[{"value":4},
           {"attributes":{"type":"input"},"value":9}]},"dataPoints":[{"value":2}]})"}},
        // Times: nanoseconds as text and number (the later kept), from attributes, [s, ns].
        {"in=2 at=2024-12-05T00:00:00Z", {R"({"name":"gemini_cli.token.usage","dataPoints":[
           {"attributes":{"type":"input"},"value":1,"timeUnixNano":"1733356800000000000"},
           {"attributes":{"type":"input"},"value":1,"timeUnixNano":1733356700000000000}]})"}},
        {"in=1 at=2024-12-05T00:00:00Z",
         {flat("gemini_cli.token.usage", R"({"type":"input","time":"2024-12-05T00:00:00Z"})",
               "1")}},
        // The JavaScript SDK: name in a descriptor, a histogram's sum, [s, ns] times.
        {"out=100 at=2024-12-05T00:00:00Z",
         {R"({"descriptor":{"name":"gen_ai.client.token.usage","type":"HISTOGRAM"},
           "dataPointType":0,"dataPoints":[{"attributes":{"gen_ai.token.type":"output"},
           "startTime":[1733356000,0],"endTime":[1733356800,0],
           "value":{"min":10,"max":90,"sum":100,"count":2}}]})"}},
        // A matching metric is not searched for further metrics.
        {"none", {R"({"name":"gemini_cli.token.usage","extra":{"name":"gemini_cli.token.usage",
           "attributes":{"type":"input"},"value":5}})"}},
        // Cumulative series: the newest point by time, else the one read last, of each metric,
        // attribute set and start time; points without a start time add up.
        {"in=25 at=2024-12-05T00:03:40Z",
         {cumulative("a", 0, 60, 10), cumulative("a", 0, 220, 25)}},
        {"in=25 at=2024-12-05T00:03:40Z",
         {cumulative("a", 0, 220, 25), cumulative("a", 0, 60, 10)}},
        {"in=12 at=2024-12-05T00:01:00Z", {cumulative("a", 0, 60, 10), cumulative("a", 0, 60, 12)}},
        {"in=32 at=2024-12-05T00:03:40Z",
         {cumulative("a", 0, 60, 10), cumulative("b", 0, 60, 7), cumulative("a", 0, 220, 25)}},
        {"in=14 at=2024-12-05T00:06:00Z",
         {cumulative("a", 0, 60, 10), cumulative("a", 300, 360, 4)}},
        {"in=20", {typed("input", "10"), typed("input", "10")}},
    };
    for (const auto& [expected, documents] : cases) {
        auto total = readDocuments(documents);
        if (total) {
            total->windowLabel.reset();
        }
        EXPECT_EQ(candidateText(total), expected) << documents.front();
    }
}

} // namespace
} // namespace korvo

#include "sources/OTelMetricReader.h"

#include "TestHome.h"
#include "sources/OTelTokenTotal.h"

#include <array>
#include <gtest/gtest.h>
#include <string>

namespace korvo {
namespace {

using korvo::testing::candidateText;

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

// The total of the documents, without its constant label. The OTLP shapes exporters write (typed
// attribute lists, histograms) are read from the adapters' fixtures.
TEST(OTelShapes, ReadsTokenPoints) {
    struct Case {
        const char* name;
        std::vector<std::string> documents;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"vendor prefix matches",
         {flat("vendor.gemini_cli.token.usage", R"({"type":"input"})", "9")},
         "in=9"},
        {"other names do not match",
         {flat("token.usage", R"({"type":"input"})", "9"),
          flat("gen_ai.client.token.usage.total", R"({"type":"input"})", "9"),
          flat("xgen_ai.client.token.usage", R"({"type":"input"})", "9")},
         "none"},
        {"thought rounds half away", {typed("thought", "41.5")}, "text=[Thought 42 tokens]"},
        {"other types sum per label in order, reasoning as thought",
         {typed("thought", "3"), typed("tool", "4"), typed("tool", "4"), typed("Reasoning", "2.5"),
          typed("Audio", "2")},
         "text=[Thought 6 tokens · Tool 8 tokens · Audio 2 tokens]"},
        {"cache and cached input",
         {typed("cache", "7"), typed("cached_input", "3")},
         "in=3 cached=7"},
        {"type on the point, typed value",
         {R"({"name":"gemini_cli.token.usage","attributes":42,"type":"output","value":{"asInt":"7"}})"},
         "out=7"},
        {"nested typed values",
         {R"({"name":"gemini_cli.token.usage","attributes":[{"name":" type ","value":{"value":{"stringValue":"input"}}}],"value":{"intValue":"812"}})"},
         "in=812"},
        // In a list the later of two equal keys wins; entries without a usable key are skipped.
        {"attribute list entries",
         {R"({"name":"gemini_cli.token.usage","attributes":[{"key":"type","value":{"stringValue":"thought"}},
           {"key":null,"name":"x"},{"key":"type","value":{"stringValue":"input"}},{"key":"  "},7],"value":5})"},
         "in=5"},
        {"normalized attribute key",
         {flat("gen_ai.client.token.usage", R"({"Gen_AI.Token.Type":"completion"})", "6")},
         "out=6"},
        {"missing type or value adds nothing",
         {flat("gemini_cli.token.usage", R"({"model":"m"})", "5"), typed("input", R"("many")"),
          typed("   ", "5")},
         "none"},
        {"nanosecond time as text and number, the later kept",
         {R"({"name":"gemini_cli.token.usage","dataPoints":[
           {"attributes":{"type":"input"},"value":1,"timeUnixNano":"1733356800000000000"},
           {"attributes":{"type":"input"},"value":1,"timeUnixNano":1733356700000000000}]})"},
         "in=2 at=2024-12-05T00:00:00Z"},
        {"time from attributes",
         {flat("gemini_cli.token.usage", R"({"type":"input","time":"2024-12-05T00:00:00Z"})", "1")},
         "in=1 at=2024-12-05T00:00:00Z"},
        {"attribute overrides",
         {R"({"name":"gemini_cli.token.usage","attributes":{"type":"tool"},
           "sum":{"attributes":{"type":"output"},"dataPoints":[{"value":4},
           {"attributes":{"type":"input"},"value":9}]},"dataPoints":[{"value":2}]})"},
         "in=9 out=4 text=[Tool 2 tokens]"},
        {"JavaScript descriptor, histogram value and array times",
         {R"({"descriptor":{"name":"gen_ai.client.token.usage","type":"HISTOGRAM"},
           "dataPointType":0,"dataPoints":[{"attributes":{"gen_ai.token.type":"output"},
           "startTime":[1733356000,0],"endTime":[1733356800,0],
           "value":{"min":10,"max":90,"sum":100,"count":2}}]})"},
         "out=100 at=2024-12-05T00:00:00Z"},
        {"unrepresentable counts add nothing",
         {typed("thought", "1e300"), typed("input", R"("1e999")")},
         "none"},
        {"a matching metric is not searched further",
         {R"({"name":"gemini_cli.token.usage","extra":{"name":"gemini_cli.token.usage",
           "attributes":{"type":"input"},"value":5}})"},
         "none"},
        {"newest export of one series",
         {cumulative("a", 100, 160, 10), cumulative("a", 100, 220, 25)},
         "in=25 at=2024-12-05T00:03:40Z"},
        {"newest by time, not file order",
         {cumulative("a", 100, 220, 25), cumulative("a", 100, 160, 10)},
         "in=25 at=2024-12-05T00:03:40Z"},
        {"attribute sets are separate series",
         {cumulative("a", 100, 160, 10), cumulative("b", 100, 160, 7),
          cumulative("a", 100, 220, 25)},
         "in=32 at=2024-12-05T00:03:40Z"},
        {"a restart starts a new series",
         {cumulative("a", 100, 160, 10), cumulative("a", 300, 360, 4)},
         "in=14 at=2024-12-05T00:06:00Z"},
        {"points without start time add up", {typed("input", "10"), typed("input", "10")}, "in=20"},
        {"same time: the one read last",
         {cumulative("a", 100, 160, 10), cumulative("a", 100, 160, 12)},
         "in=12 at=2024-12-05T00:02:40Z"},
    };
    for (const auto& c : cases) {
        auto total = readDocuments(c.documents);
        if (total) {
            EXPECT_EQ(total->windowLabel, "local telemetry") << c.name;
            total->windowLabel.reset();
        }
        EXPECT_EQ(candidateText(total), c.expected) << c.name;
    }
}

} // namespace
} // namespace korvo

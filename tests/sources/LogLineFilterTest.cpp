#include "sources/io/LogLineFilter.h"

#include "sources/fields/FieldExtraction.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace korvo {
namespace {

std::vector<std::string> commaSeparated(const std::string& list) {
    std::vector<std::string> items;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        items.push_back(item);
    }
    return items;
}

// Every key the extraction rules turn into a field that makes a candidate useful, in the
// spellings tools write, must pass the filter, and the rules must agree; keys the rules read into
// no useful field, or none at all, must not.
TEST(LogLineFilter, EveryUsefulKeySpellingPassesAndTheRulesAgree) {
    for (const std::string& key : commaSeparated(
             "used_percent,usedPercent,Used-Percent,usage_percent,usagePercentage,percent_used,"
             "limit.used.percent,remaining_percent,remainingPercentage,percentRemaining,"
             "limit_remaining_percent,input_tokens,promptTokens,total_input_tokens,output_tokens,"
             "completion_tokens,totalOutputTokens,cache_creation_input_tokens,"
             "cacheReadInputTokens,cached_input_tokens,cache_input_tokens,cachedTokens,costUSD,"
             "total_cost_usd,usd,COST,remaining_text,remaining,rate_limit_remaining,"
             "limitRemaining,status,state,rateLimitStatus,resets_at,resetsInSeconds,nextReset,"
             "INPUT__TOKENS,input tokens")) {
        for (const char* value : {"42", "\"ok\"", "\"2026-01-05T08:00:00Z\""}) {
            const std::string line = "{\"" + key + "\": " + value + "}";
            EXPECT_TRUE(mayHoldUsefulKey(line)) << line;
        }
        EXPECT_TRUE(keyCanMakeUseful(normalizeKey(key))) << key;
    }
    for (const std::string& key :
         commaSeparated("timestamp,observed_at,time,window,window_label,period,type,message,"
                        "content,text,tokens,input,percent")) {
        const std::string line = R"({"text":"refactor the parser","x":{")" + key + R"(":42}})";
        EXPECT_FALSE(mayHoldUsefulKey(line)) << line;
        EXPECT_FALSE(parseJSONCandidate(line)) << line;
    }
}

// The property the scan relies on: whenever the rules take a candidate from a line, the filter
// lets that line through. The adapters' own line readers meet the filter on their fixtures.
TEST(LogLineFilter, NeverHidesALineThatGivesACandidate) {
    const std::vector<std::tuple<const char*, std::string, bool>> cases = {
        {"plain usage key", R"({"input_tokens":5})", true},
        {"space and line breaks before the colon", "{\"output_tokens\" \r\n\t: 5}", true},
        {"key spelt with a unicode escape", R"({"\u0075sed_percent":40})", true},
        {"key spelt with an escaped underscore", R"({"input\u005ftokens":3})", true},
        {"key spelt with an escaped tab", R"({"input\ttokens":3})", true},
        {"useful key inside an array of objects", R"({"a":[{"b":1},{"costUSD":0.5}]})", true},
        {"useful key after a value ending in an escaped backslash",
         R"({"text":"C:\\","input_tokens":7})", true},
        {"useful key after a value holding escaped quotes",
         R"({"text":"say \"hi\"","cached_tokens":2})", true},
        {"value opening with a colon after a usage key", R"({"n":1,"usd":":5"})", true},
        {"usage key only inside a string value", R"({"text":"\"input_tokens\": 5"})", false},
        {"usage words only as values", R"({"type":"input_tokens","name":"status"})", false},
        {"only a time and a window", R"({"timestamp":"2026-01-05T08:00:00Z","window":"5h"})",
         false},
        {"usage key in a top-level array of strings", R"(["input_tokens", "5"])", false},
        {"unterminated string", R"({"text":"never closed)", false},
        {"empty line", "", false},
    };
    for (const auto& [name, line, passes] : cases) {
        EXPECT_EQ(mayHoldUsefulKey(line), passes) << name;
        EXPECT_TRUE(passes || !parseJSONCandidate(line)) << name;
    }
}

} // namespace
} // namespace korvo

#include "AdapterCases.h"
#include "sources/adapters/ClaudeCodeAdapter.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::test;

// An assistant line of message `id` as builds that record cost write it: one line per content
// block, each with the message's usage and its cost repeated.
std::string costLine(const std::string& id, int input, double cost, int second) {
    return R"({"type":"assistant","timestamp":"2026-01-05T08:20:)" +
           std::string(second < 10 ? "0" : "") + std::to_string(second) +
           R"(.000Z","message":{"id":")" + id + R"(","role":"assistant","usage":{"input_tokens":)" +
           std::to_string(input) + R"(,"output_tokens":1}},"costUSD":)" + std::to_string(cost) +
           "}\n";
}

// The cost a Claude Code row shows is what the newest transcript's messages cost: a message
// written as several lines costs once, the last line's figure.
TEST(TranscriptCost, EachMessageCostsOnceInTheRow) {
    const std::vector<std::tuple<const char*, std::string, std::string>> cases{
        {"a message over three lines, then another",
         costLine("msg_A", 10, 0.5, 1) + costLine("msg_A", 10, 0.5, 2) +
             costLine("msg_A", 10, 0.5, 3) + costLine("msg_B", 5, 0.25, 4),
         "in=15 out=2 cost=0.75"},
        {"a later line of a message corrects its cost",
         costLine("msg_A", 10, 0.5, 1) + costLine("msg_A", 12, 0.625, 2), "in=12 out=1 cost=0.625"},
        {"messages without an id are each their own",
         R"({"message":{"usage":{"input_tokens":1}},"costUSD":0.125})"
         "\n"
         R"({"message":{"usage":{"input_tokens":1}},"costUSD":0.125})"
         "\n",
         "in=2 out=0 cost=0.25"},
    };
    for (const auto& [name, transcript, expected] : cases) {
        TestHome home;
        home.write(".claude/projects/-home-dev-app/s.jsonl", transcript);
        const auto read =
            ClaudeCodeAdapter(home.path(), {}, fixedClock(kFixtureNow), fixedEnvironment({}))
                .readUsage();
        ASSERT_TRUE(read.row) << name;
        const std::string row = rowText(read.row);
        EXPECT_NE(row.find(expected), std::string::npos) << name << ": " << row;
    }
}

} // namespace
} // namespace korvo

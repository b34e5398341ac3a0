#include "sources/adapters/ClaudeCodeAdapter.h"

#include "AdapterCases.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::test;

ClaudeCodeAdapter adapterFor(const std::filesystem::path& home,
                             std::map<std::string, std::string, std::less<>> env = {}) {
    return ClaudeCodeAdapter(home, {home / "bin"}, fixedClock(kFixtureNow),
                             fixedEnvironment(std::move(env)));
}

// Each home's row, and its ladder rung where the case names one.
TEST(ClaudeCodeAdapter, RowAndLadderOfEachHome) {
    const std::string noCommand = "• command claude: not found";
    const std::string noBridge = "~/.korvo/claude-statusline.json - missing";
    const std::string noStatus = "~/.claude/usage-status.json - missing";
    const std::string noProjects = "~/.claude/projects - missing, 0 jsonl files";
    const std::string observed = R"({"observed_at":"2026-01-05T08:59:00Z","rate_limits":{)";
    const std::string at = " at=2026-01-05T08:59:00Z";
    const auto bridge = [&](const std::string& file, const std::string& used) {
        return "file " + file + "=" + observed +
               R"("seven_day":{"resets_at":"2026-01-09T10:00:00Z","used_percentage":)" + used +
               "}}}";
    };
    const std::vector<RowCase> cases = {
        // Bridge windows lead; the status file's count comes before the logs', which fill the rest.
        {rung("bridge windows", {"fixture claude-bridge-windows"}, "Tracked with quota",
              "Limit data ready", {}, kSource | kTokens | kLimits,
              {noCommand, "~/.korvo/claude-statusline.json - found, rate_limits available",
               "~/.claude/usage-status.json - found", "~/.claude/projects - found, 1 jsonl files"}),
         "ok cli_reported used=42 left=58 in=11 out=300 cached=100 cost=0.12 label=5h "
         "resets=2026-01-05T10:00:00Z text=[7d 40% remaining · 60% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:59:30Z"},
        // A window whose reset passed counts as reset, used up or not.
        {{"bridge in camel case, reset passed", {"fixture claude-bridge-reset-passed"}, {}},
         "ok cli_reported used=0 left=100 label=5h at=2026-01-05T08:58:20Z"},
        // The newest transcript's messages added up, with the cost older builds wrote.
        {rung("logs with tokens",
              {"fixture claude-logs-tokens",
               "touch .claude/projects/-home-dev-api/a1.jsonl=1767600000",
               "touch .claude/projects/-home-dev-web/b2.jsonl=1767590000"},
              "Tracked without quota", "Token data only; limit data missing",
              "Claude subscription-limit percentages require sanitized statusLine rate_limits.",
              kCli | kSource | kTokens,
              {"✓ command claude: BIN/claude", noBridge, noStatus,
               "~/.claude/projects - found, 2 jsonl files"}),
         "unknown cli_reported in=2600 out=660 cached=25000 cost=0.43 at=2026-01-05T08:30:00Z"},
        // A current transcript: one line per content block with the message's usage repeated
        // (the last line's counts), a message that only reads the cache, a synthetic error
        // message at the end that counts for nothing.
        {{"current transcript", {"fixture claude-transcript-current"}, {}},
         "unknown cli_reported in=19 out=220 cached=15600 at=2026-01-05T08:21:30Z"},
        {{"bridge without rate limits", {"fixture claude-bridge-generic"}, {}},
         "ok cli_reported used=33 left=67 at=2026-01-05T08:58:00Z"},
        {{"log line without message usage", {"fixture claude-log-generic-tokens"}, {}},
         "unknown cli_reported in=777 at=2026-01-05T08:40:00Z"},
        // Read at 09:00: a weekly window alone is the row's window; one whose reset passed, beside
        // the five-hour one, counts as reset in the text. A usage-status file is read alike.
        {{"weekly bridge window", {bridge(".korvo/claude-statusline.json", "64")}, {}},
         "ok cli_reported used=64 left=36 label=7d resets=2026-01-09T10:00:00Z" + at},
        {{"five-hour window beside a weekly one reset",
          {"file .korvo/claude-statusline.json=" + observed +
           R"("five_hour":{"resets_at":"2026-01-05T10:00:00Z","used_percentage":12},)"
           R"("seven_day":{"resets_at":"2026-01-05T08:00:00Z","used_percentage":88}}})"},
          {}},
         "ok cli_reported used=12 left=88 label=5h resets=2026-01-05T10:00:00Z text=[7d 100% "
         "remaining · 0% used]" +
             at},
        {{"weekly usage-status window", {bridge(".claude/usage-status.json", "0.25")}, {}},
         "ok cli_reported used=25 left=75 label=7d resets=2026-01-09T10:00:00Z" + at},
        {rung("empty bridge", {"fixture claude-bridge-empty"}, "Source found, no usage data",
              "statusLine bridge installed; no usage fields found",
              "The statusLine bridge exists, but no parseable rate_limits were found.", kSource,
              {noCommand, "~/.korvo/claude-statusline.json - found, rate_limits missing", noStatus,
               noProjects}),
         "none"},
        {rung("unrecognized logs", {"fixture claude-logs-unrecognized"},
              "Source found, parser needs sample", "Source detected; usage format not recognized",
              "Local Claude files exist, but no recognized token or limit fields were found.",
              kSource,
              {noCommand, noBridge, noStatus, "~/.claude/projects - found, 1 jsonl files"}),
         "unknown inferred text=[Local Claude Code logs detected; usage format not recognized "
         "yet] at=2026-01-05T09:00:00Z"},
        {rung("command only", {"exe bin/claude"}, "CLI detected, no local data",
              "CLI installed; no usage source found",
              "Claude CLI is installed, but Korvo did not find usage-status, statusLine bridge, "
              "or project JSONL data.",
              kCli, {"✓ command claude: BIN/claude", noBridge, noStatus, noProjects}),
         "none"},
        {rung("nothing", {}, "Not found", "No local Claude Code source found", {}, 0,
              {noCommand, noBridge, noStatus, noProjects}),
         "none"},
    };
    expectRowsAndRungs(
        cases, [](const std::filesystem::path& home) { return adapterFor(home); },
        "claude-code / Claude Code",
        std::vector<std::string>{
            "Claude limit percentages require Claude Code statusLine rate_limits",
            "Claude statusLine bridge stores sanitized rate limit fields only",
            "Read-only probe; raw Claude logs are not uploaded",
            "Only sanitized usage fields are collected"});
}

// A conversation is its main transcript and its subagents' transcripts below
// <session-id>/subagents/, whichever was written last; the lifecycle journal beside them is no
// transcript, and neither counts nor is read.
TEST(ClaudeCodeAdapter, ConversationWithItsSubagents) {
    const std::string project = ".claude/projects/-home-dev-app/";
    const std::string main = project + "5b0e7c2a-91d4-4f6e-8a3b-2c7d1e9f0a44.jsonl";
    const std::string subagents = project + "5b0e7c2a-91d4-4f6e-8a3b-2c7d1e9f0a44/subagents/";
    const std::string older = project + "1c9d8e7f-6a5b-4c3d-2e1f-0a9b8c7d6e5f.jsonl";
    const std::string both =
        "unknown cli_reported in=516 out=820 cached=14000 at=2026-01-05T08:14:30Z";
    const auto touched = [&](long long mainTime, long long agentTime, long long journalTime,
                             long long olderTime = 1767590000) {
        return std::vector<std::string>{
            "fixture claude-subagents", "touch " + main + "=" + std::to_string(mainTime),
            "touch " + subagents + "agent-a7f3c21.jsonl=" + std::to_string(agentTime),
            "touch " + subagents + "journal.jsonl=" + std::to_string(journalTime),
            "touch " + older + "=" + std::to_string(olderTime)};
    };
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases{
        {"the subagent wrote last", touched(1767600000, 1767601000, 1767600500), both},
        {"the journal wrote last", touched(1767600000, 1767600500, 1767601000), both},
        {"the main transcript wrote last", touched(1767601000, 1767600000, 1767600500), both},
        // An older conversation without subagents written last is the current one.
        {"another conversation wrote last", touched(1767600000, 1767600100, 1767600200, 1767609000),
         "unknown cli_reported in=70 out=7 at=2026-01-05T07:00:05Z"},
        // A subagent never stands for its conversation alone: without its main transcript,
        // what is left of the conversation is its subagents.
        {"the main transcript is gone",
         [&] {
             auto steps = touched(1767600000, 1767601000, 1767600500);
             steps.push_back("mode000 " + main);
             return steps;
         }(),
         modesAreIgnored() ? both
                           : "unknown cli_reported in=500 out=400 cached=6000 "
                             "at=2026-01-05T08:13:50Z"},
    };
    for (const auto& [what, steps, expected] : cases) {
        TestHome home;
        home.build(steps);
        const auto adapter = adapterFor(home.path());
        EXPECT_EQ(rowText(adapter.readUsage().row), expected) << what;
        EXPECT_EQ(adapter.diagnose().checkedPaths.back(),
                  "~/.claude/projects - found, 3 jsonl files")
            << what;
    }
}

TEST(ClaudeCodeAdapter, ConfigurationFolderFromTheEnvironment) {
    const auto home = fixtureHome("claude-config-dir");
    const auto moved = adapterFor(home, {{"CLAUDE_CONFIG_DIR", (home / "custom-claude").string()}});
    EXPECT_EQ(rowText(moved.readUsage().row),
              "ok cli_reported used=55 left=45 in=31 out=9 label=5h resets=2026-01-05T10:00:00Z "
              "at=2026-01-05T08:45:00Z");
    const auto paths = moved.diagnose().checkedPaths;
    EXPECT_EQ(std::vector<std::string>(paths.begin() + 1, paths.end()),
              (std::vector<std::string>{"~/.korvo/claude-statusline.json - missing",
                                        "~/custom-claude/usage-status.json - found",
                                        "~/custom-claude/projects - found, 1 jsonl files"}));
    // An empty variable means the default folder.
    EXPECT_EQ(adapterFor(home, {{"CLAUDE_CONFIG_DIR", ""}}).readUsage().row->usage.usedPercent, 99);
}

} // namespace
} // namespace korvo

#include "sources/ClaudeCodeAdapter.h"

#include "TestHome.h"
#include "sources/ProviderUsageBuilder.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::testing;

ClaudeCodeAdapter adapterFor(const std::filesystem::path& home,
                             std::map<std::string, std::string, std::less<>> env = {}) {
    return ClaudeCodeAdapter(home, {home / "bin"}, fixedClock(fixtureNow()),
                             fixedEnvironment(std::move(env)));
}

// Each home's row, and its ladder rung where the case names one.
TEST(ClaudeCodeAdapter, RowAndLadderOfEachHome) {
    const std::string noCommand = "• command claude: not found";
    const std::string noBridge = "~/.korvo/claude-statusline.json - missing";
    const std::string noStatus = "~/.claude/usage-status.json - missing";
    const std::string noProjects = "~/.claude/projects - missing, 0 jsonl files";
    const std::vector<RowCase> cases = {
        // Bridge windows lead; the status file's count comes before the logs', which fill the rest.
        {rung("bridge windows", {"fixture claude-bridge-windows"}, "Tracked with quota",
              "Limit data ready", {}, kSource | kTokens | kLimits,
              {noCommand, "~/.korvo/claude-statusline.json - found, rate_limits available",
               "~/.claude/usage-status.json - found", "~/.claude/projects - found, 1 jsonl files"}),
         "ok cli_reported used=42 left=58 in=11 out=300 cached=100 cost=0.12 label=5h "
         "resets=2026-01-05T10:00:00Z text=[7d 40% remaining · 60% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:59:30Z"},
        {{"bridge in camel case, reset passed", {"fixture claude-bridge-reset-passed"}, {}},
         "unknown cli_reported label=5h text=[" + std::string(kWindowResetText) +
             "] at=2026-01-05T08:58:20Z"},
        // The newest dated line of any log; an undated one never wins.
        {rung("logs with tokens", {"fixture claude-logs-tokens"}, "Tracked without quota",
              "Token data only; limit data missing",
              "Claude subscription-limit percentages require sanitized statusLine rate_limits.",
              kCli | kSource | kTokens,
              {"✓ command claude: BIN/claude", noBridge, noStatus,
               "~/.claude/projects - found, 2 jsonl files"}),
         "unknown cli_reported in=2500 out=640 cached=25000 cost=0.42 at=2026-01-05T08:30:00Z"},
        {{"bridge without rate limits", {"fixture claude-bridge-generic"}, {}},
         "ok cli_reported used=33 left=67 at=2026-01-05T08:58:00Z"},
        {{"log line without message usage", {"fixture claude-log-generic-tokens"}, {}},
         "unknown cli_reported in=777 at=2026-01-05T08:40:00Z"},
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

TEST(ClaudeCodeAdapter, ConfigurationFolderFromTheEnvironment) {
    const auto home = fixtureHome("claude-config-dir");
    const auto moved = adapterFor(home, {{"CLAUDE_CONFIG_DIR", (home / "custom-claude").string()}});
    EXPECT_EQ(rowText(moved.readUsage()),
              "ok cli_reported used=55 left=45 in=31 out=9 label=5h resets=2026-01-05T10:00:00Z "
              "at=2026-01-05T08:45:00Z");
    const auto paths = moved.diagnose().checkedPaths;
    EXPECT_EQ(std::vector<std::string>(paths.begin() + 1, paths.end()),
              (std::vector<std::string>{"~/.korvo/claude-statusline.json - missing",
                                        "~/custom-claude/usage-status.json - found",
                                        "~/custom-claude/projects - found, 1 jsonl files"}));
    // An empty variable means the default folder.
    EXPECT_EQ(adapterFor(home, {{"CLAUDE_CONFIG_DIR", ""}}).readUsage()->usage.usedPercent, 99);
}

} // namespace
} // namespace korvo

#include "sources/ClaudeCodeAdapter.h"

#include "AdapterFixtures.h"
#include "sources/ProviderUsageBuilder.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::testing;

ClaudeCodeAdapter adapterFor(const std::string& fixture,
                             std::map<std::string, std::string, std::less<>> env = {}) {
    const auto home = fixtureHome(fixture);
    for (auto& [name, value] : env) {
        value = (home / value).string();
    }
    return ClaudeCodeAdapter(home, fixtureSearchPaths(home), fixedClock(fixtureNow()),
                             fixedEnvironment(std::move(env)));
}

TEST(ClaudeCodeAdapter, BridgeWindowsLeadAndOtherSourcesFillTheGaps) {
    const auto row = adapterFor("claude-bridge-windows").readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->id, "claude-code");
    EXPECT_EQ(row->displayName, "Claude Code");
    EXPECT_EQ(row->source, SourceType::localCli);
    EXPECT_EQ(row->confidence, Confidence::cliReported);
    EXPECT_EQ(row->status, ProviderStatus::ok);
    EXPECT_EQ(row->usage.usedPercent, 42);
    EXPECT_EQ(row->usage.remainingPercent, 58);
    ASSERT_TRUE(row->window);
    EXPECT_EQ(row->window->label, "5h");
    EXPECT_EQ(row->window->resetAt, instantAt("2026-01-05T10:00:00Z"));
    EXPECT_EQ(row->usage.remainingText,
              "7d 40% remaining · 60% used · resets 2026-01-12T10:00:00Z");
    // The status file's count comes before the logs'; the logs fill what both others lack.
    EXPECT_EQ(row->usage.inputTokens, 11);
    EXPECT_EQ(row->usage.outputTokens, 300);
    EXPECT_EQ(row->usage.cachedInputTokens, 100);
    EXPECT_EQ(row->usage.costUsd, 0.12);
    EXPECT_EQ(row->observedAt, instantAt("2026-01-05T08:59:30Z"));
}

TEST(ClaudeCodeAdapter, RowsOfTheOtherSituations) {
    struct Case {
        const char* fixture;
        ProviderStatus status;
        std::optional<double> used;
        std::optional<double> input;
        std::optional<double> cached;
        std::optional<double> cost;
        std::optional<std::string> remainingText;
        Confidence confidence;
    };
    const std::vector<Case> cases = {
        {"claude-bridge-reset-passed",
         ProviderStatus::unknown,
         {},
         {},
         {},
         {},
         std::string(kWindowResetText),
         Confidence::cliReported},
        {"claude-logs-tokens",
         ProviderStatus::unknown,
         {},
         2500,
         25000,
         0.42,
         {},
         Confidence::cliReported},
        {"claude-bridge-generic", ProviderStatus::ok, 33, {}, {}, {}, {}, Confidence::cliReported},
        {"claude-log-generic-tokens",
         ProviderStatus::unknown,
         {},
         777,
         {},
         {},
         {},
         Confidence::cliReported},
        {"claude-logs-unrecognized",
         ProviderStatus::unknown,
         {},
         {},
         {},
         {},
         "Local Claude Code logs detected; usage format not recognized yet",
         Confidence::inferred},
    };
    for (const auto& c : cases) {
        const auto row = adapterFor(c.fixture).readUsage();
        ASSERT_TRUE(row) << c.fixture;
        EXPECT_EQ(row->status, c.status) << c.fixture;
        EXPECT_EQ(row->usage.usedPercent, c.used) << c.fixture;
        EXPECT_EQ(row->usage.inputTokens, c.input) << c.fixture;
        EXPECT_EQ(row->usage.cachedInputTokens, c.cached) << c.fixture;
        EXPECT_EQ(row->usage.costUsd, c.cost) << c.fixture;
        EXPECT_EQ(row->usage.remainingText, c.remainingText) << c.fixture;
        EXPECT_EQ(row->confidence, c.confidence) << c.fixture;
        ASSERT_TRUE(row->window) << c.fixture;
        EXPECT_EQ(row->window->kind, UsageWindowKind::unknown) << c.fixture;
    }
    EXPECT_FALSE(adapterFor("claude-bridge-empty").readUsage());
    EXPECT_FALSE(adapterFor("claude-cli-only").readUsage());
}

TEST(ClaudeCodeAdapter, UnrecognizedLogsGiveAPlaceholderStampedNow) {
    const auto row = adapterFor("claude-logs-unrecognized").readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->observedAt, fixtureNow());
    EXPECT_FALSE(row->window->label);
    EXPECT_FALSE(row->usage.usedPercent);
}

TEST(ClaudeCodeAdapter, DiagnosticLadder) {
    struct Case {
        const char* fixture;
        const char* tracking;
        const char* summary;
        std::optional<std::string> whyNoQuota;
        bool cli, source, tokens, limits;
        std::vector<std::string> checkedPathsAfterCommand;
    };
    const std::vector<Case> cases = {
        {"claude-bridge-windows",
         "Tracked with quota",
         "Limit data ready",
         std::nullopt,
         false,
         true,
         true,
         true,
         {"~/.korvo/claude-statusline.json - found, rate_limits available",
          "~/.claude/usage-status.json - found", "~/.claude/projects - found, 1 jsonl files"}},
        {"claude-logs-tokens",
         "Tracked without quota",
         "Token data only; limit data missing",
         "Claude subscription-limit percentages require sanitized statusLine rate_limits.",
         true,
         true,
         true,
         false,
         {"~/.korvo/claude-statusline.json - missing", "~/.claude/usage-status.json - missing",
          "~/.claude/projects - found, 2 jsonl files"}},
        {"claude-bridge-empty",
         "Source found, no usage data",
         "statusLine bridge installed; no usage fields found",
         "The statusLine bridge exists, but no parseable rate_limits were found.",
         false,
         true,
         false,
         false,
         {"~/.korvo/claude-statusline.json - found, rate_limits missing",
          "~/.claude/usage-status.json - missing", "~/.claude/projects - missing, 0 jsonl files"}},
        {"claude-logs-unrecognized",
         "Source found, parser needs sample",
         "Source detected; usage format not recognized",
         "Local Claude files exist, but no recognized token or limit fields were found.",
         false,
         true,
         false,
         false,
         {"~/.korvo/claude-statusline.json - missing", "~/.claude/usage-status.json - missing",
          "~/.claude/projects - found, 1 jsonl files"}},
        {"claude-cli-only",
         "CLI detected, no local data",
         "CLI installed; no usage source found",
         "Claude CLI is installed, but Korvo did not find usage-status, statusLine bridge, or "
         "project JSONL data.",
         true,
         false,
         false,
         false,
         {"~/.korvo/claude-statusline.json - missing", "~/.claude/usage-status.json - missing",
          "~/.claude/projects - missing, 0 jsonl files"}},
        {"no-such-fixture",
         "Not found",
         "No local Claude Code source found",
         std::nullopt,
         false,
         false,
         false,
         false,
         {"~/.korvo/claude-statusline.json - missing", "~/.claude/usage-status.json - missing",
          "~/.claude/projects - missing, 0 jsonl files"}},
    };
    for (const auto& c : cases) {
        const auto home = fixtureHome(c.fixture);
        const auto d = adapterFor(c.fixture).diagnose();
        EXPECT_EQ(d.id, "claude-code");
        EXPECT_EQ(d.displayName, "Claude Code");
        EXPECT_EQ(d.trackingStatus, c.tracking) << c.fixture;
        EXPECT_EQ(d.summary, c.summary) << c.fixture;
        EXPECT_EQ(d.whyNoQuota, c.whyNoQuota) << c.fixture;
        EXPECT_EQ(d.cliInstalled, c.cli) << c.fixture;
        EXPECT_EQ(d.usageSourceFound, c.source) << c.fixture;
        EXPECT_EQ(d.tokenDataFound, c.tokens) << c.fixture;
        EXPECT_EQ(d.limitDataFound, c.limits) << c.fixture;
        EXPECT_EQ(d.canUploadProvider, c.tokens || c.limits) << c.fixture;
        EXPECT_EQ(d.isAvailable, c.cli || c.source) << c.fixture;
        std::vector<std::string> expected = {c.cli ? "✓ command claude: " +
                                                         (home / "bin/claude").string()
                                                   : std::string("• command claude: not found")};
        expected.insert(expected.end(), c.checkedPathsAfterCommand.begin(),
                        c.checkedPathsAfterCommand.end());
        EXPECT_EQ(d.checkedPaths, expected) << c.fixture;
        EXPECT_EQ(d.warnings,
                  (std::vector<std::string>{
                      "Claude limit percentages require Claude Code statusLine rate_limits",
                      "Claude statusLine bridge stores sanitized rate limit fields only",
                      "Read-only probe; raw Claude logs are not uploaded",
                      "Only sanitized usage fields are collected"}))
            << c.fixture;
    }
}

TEST(ClaudeCodeAdapter, ConfigurationFolderFromTheEnvironment) {
    const auto home = fixtureHome("claude-config-dir");
    const auto moved = adapterFor("claude-config-dir", {{"CLAUDE_CONFIG_DIR", "custom-claude"}});
    const auto row = moved.readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->usage.usedPercent, 55);
    EXPECT_EQ(row->window->label, "5h");
    EXPECT_EQ(row->window->resetAt, instantAt("2026-01-05T10:00:00Z"));
    EXPECT_EQ(row->usage.inputTokens, 31);
    const auto d = moved.diagnose();
    EXPECT_EQ(d.checkedPaths[1], "~/.korvo/claude-statusline.json - missing");
    EXPECT_EQ(d.checkedPaths[2], "~/custom-claude/usage-status.json - found");
    EXPECT_EQ(d.checkedPaths[3], "~/custom-claude/projects - found, 1 jsonl files");

    // An empty variable means the default folder.
    ClaudeCodeAdapter emptyValue(home, {}, fixedClock(fixtureNow()),
                                 fixedEnvironment({{"CLAUDE_CONFIG_DIR", ""}}));
    EXPECT_EQ(emptyValue.usageStatusPath(), home / ".claude/usage-status.json");
    EXPECT_EQ(emptyValue.readUsage()->usage.usedPercent, 99);
}

} // namespace
} // namespace korvo

#include "sources/CodexAdapter.h"

#include "AdapterFixtures.h"
#include "ScratchHome.h"
#include "sources/ProviderUsageBuilder.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::testing;

CodexAdapter adapterFor(const std::filesystem::path& home,
                        std::map<std::string, std::string, std::less<>> env = {}) {
    return CodexAdapter(home, fixtureSearchPaths(home), fixedClock(fixtureNow()),
                        fixedEnvironment(std::move(env)));
}

CodexAdapter adapterFor(const char* fixture) {
    return adapterFor(fixtureHome(fixture));
}

struct ExpectedRow {
    const char* fixture;
    std::optional<double> used, remaining;
    ProviderStatus status;
    std::optional<std::string> label;
    std::optional<Instant> resetAt;
    std::optional<std::string> remainingText;
    std::optional<double> input, output, cached, cost;
    std::optional<Instant> observedAt;
};

TEST(CodexAdapter, RowsFromEachSessionLogShape) {
    const std::vector<ExpectedRow> cases = {
        // The newest dated token-count event wins; an undated later one never does.
        {"codex-current-shape", 30, 70, ProviderStatus::ok, "5h", instantAt("2026-01-05T10:00:00Z"),
         "Weekly 90% remaining · 10% used · resets 2026-01-12T10:00:00Z", 52000, 2100, 31000,
         std::nullopt, instantAt("2026-01-05T08:40:10.250Z")},
        // Older builds give the reset as a delay after the line's time; 1.0 is one percent.
        {"codex-resets-in-seconds", 1, 99, ProviderStatus::ok, "5h",
         instantAt("2026-01-05T10:00:00Z"),
         "Weekly 80% remaining · 20% used · resets 2026-01-12T08:00:00Z", 400, 50, 100,
         std::nullopt, instantAt("2026-01-05T08:00:00Z")},
        {"codex-documented-shape", 30, 70, ProviderStatus::ok, "5h",
         instantAt("2026-01-05T10:00:00Z"),
         "Weekly 90% remaining · 10% used · resets 2026-01-12T10:00:00Z", 120, 30, 60, 0.25,
         instantAt("2026-01-05T08:50:00Z")},
        {"codex-tokens-only", std::nullopt, std::nullopt, ProviderStatus::unknown, std::nullopt,
         std::nullopt, std::nullopt, 640, 64, 128, std::nullopt, instantAt("2026-01-05T08:20:00Z")},
    };
    for (const auto& c : cases) {
        const auto row = adapterFor(c.fixture).readUsage();
        ASSERT_TRUE(row) << c.fixture;
        EXPECT_EQ(row->id, "codex") << c.fixture;
        EXPECT_EQ(row->displayName, "Codex CLI") << c.fixture;
        EXPECT_EQ(row->source, SourceType::localCli) << c.fixture;
        EXPECT_EQ(row->confidence, Confidence::cliReported) << c.fixture;
        EXPECT_EQ(row->usage.usedPercent, c.used) << c.fixture;
        EXPECT_EQ(row->usage.remainingPercent, c.remaining) << c.fixture;
        EXPECT_EQ(row->status, c.status) << c.fixture;
        ASSERT_TRUE(row->window) << c.fixture;
        EXPECT_EQ(row->window->label, c.label) << c.fixture;
        EXPECT_EQ(row->window->resetAt, c.resetAt) << c.fixture;
        EXPECT_EQ(row->usage.remainingText, c.remainingText) << c.fixture;
        EXPECT_EQ(row->usage.inputTokens, c.input) << c.fixture;
        EXPECT_EQ(row->usage.outputTokens, c.output) << c.fixture;
        EXPECT_EQ(row->usage.cachedInputTokens, c.cached) << c.fixture;
        EXPECT_EQ(row->usage.costUsd, c.cost) << c.fixture;
        EXPECT_EQ(row->observedAt, c.observedAt) << c.fixture;
    }
}

TEST(CodexAdapter, PlaceholderWhenFilesExistButSayNothing) {
    for (const char* fixture : {"codex-state-only", "codex-sessions-unrecognized"}) {
        const auto row = adapterFor(fixture).readUsage();
        ASSERT_TRUE(row) << fixture;
        EXPECT_EQ(row->confidence, Confidence::inferred) << fixture;
        EXPECT_EQ(row->status, ProviderStatus::unknown) << fixture;
        EXPECT_EQ(row->usage.remainingText,
                  "Local Codex state detected; usage format not recognized yet")
            << fixture;
        EXPECT_EQ(row->observedAt, fixtureNow()) << fixture;
    }
    EXPECT_FALSE(adapterFor("codex-cli-only").readUsage());
    EXPECT_FALSE(adapterFor("no-such-fixture").readUsage());
}

TEST(CodexAdapter, StatusFollowsThePrimaryWindow) {
    struct Case {
        const char* line;
        ProviderStatus status;
        std::optional<double> used;
    };
    const std::vector<Case> cases = {
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":85}}}})", ProviderStatus::warning,
         85},
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":97}}}})", ProviderStatus::critical,
         97},
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":100,"resets_at":1767600000}}}})",
         ProviderStatus::unknown, std::nullopt},
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":100,"window_minutes":300,"resets_at":1767610800}}}})",
         ProviderStatus::limited, 100},
        // Fractions still mean shares where the tool's window length is not given.
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":0.9}}}})", ProviderStatus::warning,
         90},
    };
    for (const auto& c : cases) {
        ScratchHome home;
        home.write(".codex/sessions/s.jsonl", std::string(c.line) + "\n");
        const auto row = adapterFor(home.path()).readUsage();
        ASSERT_TRUE(row) << c.line;
        EXPECT_EQ(row->status, c.status) << c.line;
        EXPECT_EQ(row->usage.usedPercent, c.used) << c.line;
    }
}

TEST(CodexAdapter, WindowLabels) {
    struct Case {
        const char* primary;
        const char* label;
    };
    const std::vector<Case> cases = {
        {R"({"used_percent":5,"window_minutes":300})", "5h"},
        {R"({"used_percent":5,"window_minutes":10080})", "7d"},
        {R"({"used_percent":5,"window_minutes":1440})", "1d"},
        {R"({"used_percent":5,"window_minutes":120})", "2h"},
        {R"({"used_percent":5,"window_minutes":90})", "90m"},
        {R"({"used_percent":5,"window_minutes":0})", "5h"},
        {R"({"used_percent":5,"window":"daily","window_minutes":300})", "daily"},
        {R"({"used_percent":5,"window":7,"label":"weekly"})", "weekly"},
        {R"({"used_percent":5})", "5h"},
    };
    simdjson::dom::parser parser;
    for (const auto& c : cases) {
        const std::string line =
            std::string(R"({"payload":{"rate_limits":{"primary":)") + c.primary + "}}}";
        const auto candidate =
            CodexAdapter::sessionLineCandidate(parser, simdjson::padded_string(line));
        ASSERT_TRUE(candidate) << c.primary;
        EXPECT_EQ(candidate->windowLabel, c.label) << c.primary;
    }
}

TEST(CodexAdapter, WeeklyTextReadsTheToolsOwnWindowsAsPercentages) {
    struct Case {
        const char* secondary;
        const char* text;
    };
    const std::vector<Case> cases = {
        {R"({"used_percent":0.5,"window_minutes":10080})", "Weekly 99% remaining · 1% used"},
        {R"({"used_percent":0.5})", "Weekly 50% remaining · 50% used"},
        {R"({"used_percent":140,"window_minutes":10080})", "Weekly 0% remaining · 100% used"},
    };
    simdjson::dom::parser parser;
    for (const auto& c : cases) {
        const std::string line =
            std::string(R"({"payload":{"rate_limits":{"secondary":)") + c.secondary + "}}}";
        const auto candidate =
            CodexAdapter::sessionLineCandidate(parser, simdjson::padded_string(line));
        ASSERT_TRUE(candidate) << c.secondary;
        EXPECT_EQ(candidate->remainingText, c.text) << c.secondary;
    }
}

TEST(CodexAdapter, DiagnosticLadder) {
    struct Case {
        const char* fixture;
        const char* tracking;
        const char* summary;
        std::optional<std::string> whyNoQuota;
        bool cli, source, tokens, limits;
        std::string sessionsLine, stateLine;
    };
    const std::vector<Case> cases = {
        {"codex-current-shape", "Tracked with quota", "Limit and token data ready", std::nullopt,
         false, true, true, true, "~/.codex/sessions - found, 2 jsonl files",
         "~/.codex/state_5.sqlite - found"},
        {"codex-tokens-only", "Tracked without quota", "Token data only; limit data missing",
         "Codex local session data exposed token counts, but no rate_limits fields were found.",
         true, true, true, false, "~/.codex/sessions - found, 1 jsonl files",
         "~/.codex/state_5.sqlite - missing"},
        {"codex-sessions-unrecognized", "Source found, parser needs sample",
         "Session logs found; usage format not recognized",
         "Codex session JSONL exists, but no recognized token_count or rate_limits fields were "
         "found.",
         false, true, false, false, "~/.codex/sessions - found, 1 jsonl files",
         "~/.codex/state_5.sqlite - missing"},
        {"codex-state-only", "Source found, no usage data",
         "State database found; parser not enabled",
         "Korvo does not query Codex sqlite state for limits yet, and never reads auth.json.",
         false, true, false, false, "~/.codex/sessions - missing, 0 jsonl files",
         "~/.codex/state_5.sqlite - found"},
        {"codex-cli-only", "CLI detected, no local data", "CLI installed; no usage source found",
         "Codex CLI is installed, but Korvo did not find session JSONL or state data.", true, false,
         false, false, "~/.codex/sessions - missing, 0 jsonl files",
         "~/.codex/state_5.sqlite - missing"},
        {"no-such-fixture", "Not found", "No local Codex source found", std::nullopt, false, false,
         false, false, "~/.codex/sessions - missing, 0 jsonl files",
         "~/.codex/state_5.sqlite - missing"},
    };
    for (const auto& c : cases) {
        const auto home = fixtureHome(c.fixture);
        const auto d = adapterFor(c.fixture).diagnose();
        EXPECT_EQ(d.id, "codex");
        EXPECT_EQ(d.displayName, "Codex CLI");
        EXPECT_EQ(d.trackingStatus, c.tracking) << c.fixture;
        EXPECT_EQ(d.summary, c.summary) << c.fixture;
        EXPECT_EQ(d.whyNoQuota, c.whyNoQuota) << c.fixture;
        EXPECT_EQ(d.cliInstalled, c.cli) << c.fixture;
        EXPECT_EQ(d.usageSourceFound, c.source) << c.fixture;
        EXPECT_EQ(d.tokenDataFound, c.tokens) << c.fixture;
        EXPECT_EQ(d.limitDataFound, c.limits) << c.fixture;
        EXPECT_EQ(d.canUploadProvider, c.tokens || c.limits) << c.fixture;
        EXPECT_EQ(d.isAvailable, c.cli || c.source) << c.fixture;
        const std::string command = c.cli ? "✓ command codex: " + (home / "bin/codex").string()
                                          : std::string("• command codex: not found");
        EXPECT_EQ(d.checkedPaths, (std::vector<std::string>{command, c.sessionsLine, c.stateLine}))
            << c.fixture;
        EXPECT_EQ(d.warnings,
                  (std::vector<std::string>{"~/.codex/auth.json is intentionally ignored",
                                            "Read-only probe; raw Codex logs are not uploaded",
                                            "Only sanitized usage fields are collected"}))
            << c.fixture;
    }
}

TEST(CodexAdapter, LimitDataWithoutTokensIsLimitDataReady) {
    ScratchHome home;
    home.write(".codex/sessions/s.jsonl",
               R"({"timestamp":"2026-01-05T08:00:00Z","payload":{"type":"token_count","info":null,)"
               R"("rate_limits":{"primary":{"used_percent":12.0,"window_minutes":300}}}})"
               "\n");
    EXPECT_EQ(adapterFor(home.path()).diagnose().summary, "Limit data ready");
}

TEST(CodexAdapter, FolderFromTheEnvironment) {
    const auto home = fixtureHome("codex-home-env");
    const auto moved = adapterFor(home, {{"CODEX_HOME", (home / "elsewhere").string()}});
    const auto row = moved.readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->usage.usedPercent, 64);
    EXPECT_EQ(moved.diagnose().checkedPaths[1], "~/elsewhere/sessions - found, 1 jsonl files");
    EXPECT_EQ(moved.diagnose().checkedPaths[2], "~/elsewhere/state_5.sqlite - missing");

    const auto defaulted = adapterFor(home, {{"CODEX_HOME", ""}});
    EXPECT_EQ(defaulted.readUsage()->usage.usedPercent, 5);
}

TEST(CodexAdapter, CredentialFileChangesNothing) {
    ScratchHome home;
    const auto line =
        R"({"timestamp":"2026-01-05T08:00:00Z","payload":{"token_count":{"input_tokens":3}}})";
    home.write(".codex/sessions/s.jsonl", std::string(line) + "\n");
    const auto adapter = adapterFor(home.path());
    const auto rowBefore = adapter.readUsage();
    const auto diagnosticBefore = adapter.diagnose();
    home.write(".codex/auth.json", R"({"used_percent":99,"input_tokens":1,"status":"limited"})");
    EXPECT_EQ(adapter.readUsage(), rowBefore);
    EXPECT_EQ(adapter.diagnose(), diagnosticBefore);
}

} // namespace
} // namespace korvo

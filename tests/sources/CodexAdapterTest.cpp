#include "sources/CodexAdapter.h"

#include "TestHome.h"
#include "sources/ProviderUsageBuilder.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::testing;

CodexAdapter adapterFor(const std::filesystem::path& home,
                        std::map<std::string, std::string, std::less<>> env = {}) {
    return CodexAdapter(home, {home / "bin"}, fixedClock(fixtureNow()),
                        fixedEnvironment(std::move(env)));
}

const std::string kLimitsOnlyLine =
    R"({"timestamp":"2026-01-05T08:00:00Z","payload":{"type":"token_count","info":null,)"
    R"("rate_limits":{"primary":{"used_percent":12.0,"window_minutes":300}}}})";

// Fixture homes and single session lines; the credential file beside them is never read.
TEST(CodexAdapter, RowOfEachHome) {
    struct Case {
        std::string home; // a fixture's name, or one session line
        std::string row;
    };
    const std::string placeholder =
        "unknown inferred text=[Local Codex state detected; usage format not recognized yet] "
        "at=2026-01-05T09:00:00Z";
    const std::vector<Case> cases = {
        // The newest dated token-count event wins; an undated later one never does.
        {"codex-current-shape",
         "ok cli_reported used=30 left=70 in=52000 out=2100 cached=31000 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 90% remaining · 10% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:40:10.250Z"},
        // Older builds give the reset as a delay after the line's time; 1.0 is one percent.
        {"codex-resets-in-seconds",
         "ok cli_reported used=1 left=99 in=400 out=50 cached=100 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 80% remaining · 20% used · resets "
         "2026-01-12T08:00:00Z] at=2026-01-05T08:00:00Z"},
        {"codex-documented-shape",
         "ok cli_reported used=30 left=70 in=120 out=30 cached=60 cost=0.25 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 90% remaining · 10% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:50:00Z"},
        {"codex-tokens-only",
         "unknown cli_reported in=640 out=64 cached=128 at=2026-01-05T08:20:00Z"},
        {"codex-state-only", placeholder},
        {"codex-sessions-unrecognized", placeholder},
        {"codex-cli-only", "none"},
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":100,"resets_at":1767600000}}}})",
         "unknown cli_reported label=5h text=[" + std::string(kWindowResetText) +
             "] at=2026-01-05T09:00:00Z"},
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":100,"window_minutes":300,"resets_at":1767610800}}}})",
         "limited cli_reported used=100 left=0 label=5h resets=2026-01-05T11:00:00Z "
         "at=2026-01-05T09:00:00Z"},
        // Fractions still mean shares where the tool's window length is not given.
        {R"({"payload":{"rate_limits":{"primary":{"used_percent":0.9}}}})",
         "warning cli_reported used=90 left=10 label=5h at=2026-01-05T09:00:00Z"},
        {kLimitsOnlyLine, "ok cli_reported used=12 left=88 label=5h at=2026-01-05T08:00:00Z"},
        {R"({"timestamp":"2026-01-05T08:00:00Z","payload":{"token_count":{"input_tokens":3}}})",
         "unknown cli_reported in=3 at=2026-01-05T08:00:00Z"},
        {"", "none"},
    };
    for (const auto& c : cases) {
        ScratchHome home;
        if (c.home.starts_with("codex-")) {
            home.build({"fixture " + c.home});
        } else if (!c.home.empty()) {
            home.write(".codex/sessions/s.jsonl", c.home + "\n");
        }
        const auto adapter = adapterFor(home.path());
        const auto row = adapter.readUsage();
        const auto diagnostic = adapter.diagnose();
        EXPECT_EQ(rowText(row), c.row) << c.home;
        if (row) {
            EXPECT_EQ(row->id + " / " + row->displayName, "codex / Codex CLI");
            EXPECT_EQ(row->source, SourceType::localCli);
        }
        home.write(".codex/auth.json",
                   R"({"used_percent":99,"input_tokens":1,"status":"limited"})");
        EXPECT_EQ(adapter.readUsage(), row) << c.home;
        EXPECT_EQ(adapter.diagnose(), diagnostic) << c.home;
    }
}

TEST(CodexAdapter, WindowLabelAndWeeklyText) {
    struct Case {
        const char* rateLimits;
        std::optional<std::string> label;
        std::optional<std::string> text;
    };
    const std::vector<Case> cases = {
        {R"({"primary":{"used_percent":5,"window_minutes":300}})", "5h", {}},
        {R"({"primary":{"used_percent":5,"window_minutes":10080}})", "7d", {}},
        {R"({"primary":{"used_percent":5,"window_minutes":1440}})", "1d", {}},
        {R"({"primary":{"used_percent":5,"window_minutes":120}})", "2h", {}},
        {R"({"primary":{"used_percent":5,"window_minutes":90}})", "90m", {}},
        {R"({"primary":{"used_percent":5,"window_minutes":0}})", "5h", {}},
        {R"({"primary":{"used_percent":5,"window":"daily","window_minutes":300}})", "daily", {}},
        {R"({"primary":{"used_percent":5,"window":7,"label":"weekly"}})", "weekly", {}},
        {R"({"primary":{"used_percent":5}})", "5h", {}},
        // The tool's own windows count in percent; plain shares where no length is given.
        {R"({"secondary":{"used_percent":0.5,"window_minutes":10080}})",
         {},
         "Weekly 99% remaining · 1% used"},
        {R"({"secondary":{"used_percent":0.5}})", {}, "Weekly 50% remaining · 50% used"},
        {R"({"secondary":{"used_percent":140,"window_minutes":10080}})",
         {},
         "Weekly 0% remaining · 100% used"},
    };
    simdjson::dom::parser parser;
    for (const auto& c : cases) {
        const std::string line = std::string(R"({"payload":{"rate_limits":)") + c.rateLimits + "}}";
        const auto candidate =
            CodexAdapter::sessionLineCandidate(parser, simdjson::padded_string(line));
        ASSERT_TRUE(candidate) << c.rateLimits;
        EXPECT_EQ(candidate->windowLabel, c.label) << c.rateLimits;
        EXPECT_EQ(candidate->remainingText, c.text) << c.rateLimits;
    }
}

TEST(CodexAdapter, DiagnosticLadder) {
    const std::string noCommand = "• command codex: not found";
    const std::string noSessions = "~/.codex/sessions - missing, 0 jsonl files";
    const std::string oneSession = "~/.codex/sessions - found, 1 jsonl files";
    const std::string noState = "~/.codex/state_5.sqlite - missing";
    const std::vector<LadderCase> cases = {
        rung("current shape", {"fixture codex-current-shape"}, "Tracked with quota",
             "Limit and token data ready", {}, kSource | kTokens | kLimits,
             {noCommand, "~/.codex/sessions - found, 2 jsonl files",
              "~/.codex/state_5.sqlite - found"}),
        rung("tokens only", {"fixture codex-tokens-only"}, "Tracked without quota",
             "Token data only; limit data missing",
             "Codex local session data exposed token counts, but no rate_limits fields were found.",
             kCli | kSource | kTokens, {"✓ command codex: BIN/codex", oneSession, noState}),
        rung("limits only", {"file .codex/sessions/s.jsonl=" + kLimitsOnlyLine},
             "Tracked with quota", "Limit data ready", {}, kSource | kLimits,
             {noCommand, oneSession, noState}),
        rung("unrecognized sessions", {"fixture codex-sessions-unrecognized"},
             "Source found, parser needs sample", "Session logs found; usage format not recognized",
             "Codex session JSONL exists, but no recognized token_count or rate_limits fields were "
             "found.",
             kSource, {noCommand, oneSession, noState}),
        rung("state only", {"fixture codex-state-only"}, "Source found, no usage data",
             "State database found; parser not enabled",
             "Korvo does not query Codex sqlite state for limits yet, and never reads auth.json.",
             kSource, {noCommand, noSessions, "~/.codex/state_5.sqlite - found"}),
        rung("command only", {"fixture codex-cli-only"}, "CLI detected, no local data",
             "CLI installed; no usage source found",
             "Codex CLI is installed, but Korvo did not find session JSONL or state data.", kCli,
             {"✓ command codex: BIN/codex", noSessions, noState}),
        rung("nothing", {}, "Not found", "No local Codex source found", {}, 0,
             {noCommand, noSessions, noState}),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchHome home;
        home.build(c.home);
        const auto d = adapterFor(home.path()).diagnose();
        EXPECT_EQ(d.id, "codex");
        EXPECT_EQ(d.displayName, "Codex CLI");
        expectLadder(d, c.expected, home.path());
        EXPECT_EQ(d.warnings,
                  (std::vector<std::string>{"~/.codex/auth.json is intentionally ignored",
                                            "Read-only probe; raw Codex logs are not uploaded",
                                            "Only sanitized usage fields are collected"}));
    }
}

TEST(CodexAdapter, FolderFromTheEnvironment) {
    const auto home = fixtureHome("codex-home-env");
    const auto moved = adapterFor(home, {{"CODEX_HOME", (home / "elsewhere").string()}});
    EXPECT_EQ(moved.readUsage()->usage.usedPercent, 64);
    EXPECT_EQ(moved.diagnose().checkedPaths[1], "~/elsewhere/sessions - found, 1 jsonl files");
    EXPECT_EQ(moved.diagnose().checkedPaths[2], "~/elsewhere/state_5.sqlite - missing");
    EXPECT_EQ(adapterFor(home, {{"CODEX_HOME", ""}}).readUsage()->usage.usedPercent, 5);
}

} // namespace
} // namespace korvo

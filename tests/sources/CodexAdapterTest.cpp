#include "sources/adapters/CodexAdapter.h"

#include "AdapterCases.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::test;

CodexAdapter adapterFor(const std::filesystem::path& home,
                        std::map<std::string, std::string, std::less<>> env = {}) {
    return CodexAdapter(home, {home / "bin"}, fixedClock(kFixtureNow),
                        fixedEnvironment(std::move(env)));
}

// Each home's row, and its ladder rung where the case names one.
TEST(CodexAdapter, RowAndLadderOfEachHome) {
    const std::string noCommand = "• command codex: not found";
    const std::string noSessions = "~/.codex/sessions - missing, 0 jsonl files";
    const std::string oneSession = "~/.codex/sessions - found, 1 jsonl files";
    const std::string noState = "~/.codex/state_5.sqlite - missing";
    const std::string placeholder =
        "unknown inferred text=[Local Codex state detected; usage format not recognized yet] "
        "at=2026-01-05T09:00:00Z";
    const std::vector<RowCase> cases = {
        // The newest dated token-count event wins; an undated later one never does. Input is
        // what was not read from the cache: the tool counts the cached input in its input.
        {rung("current shape", {"fixture codex-current-shape"}, "Tracked with quota",
              "Limit and token data ready", {}, kSource | kTokens | kLimits,
              {noCommand, "~/.codex/sessions - found, 2 jsonl files",
               "~/.codex/state_5.sqlite - found"}),
         "ok cli_reported used=30 left=70 in=21000 out=2100 cached=31000 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 90% remaining · 10% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:40:10.250Z"},
        // Older builds give the reset as a delay after the line's time; 1.0 is one percent.
        {{"resets in seconds", {"fixture codex-resets-in-seconds"}, {}},
         "ok cli_reported used=1 left=99 in=300 out=50 cached=100 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 80% remaining · 20% used · resets "
         "2026-01-12T08:00:00Z] at=2026-01-05T08:00:00Z"},
        // Only the account's bucket gives the quota; tokens come from the newest count whatever
        // its bucket, and the empty premium marker hides nothing.
        {{"model bucket last", {"fixture codex-account-buckets"}, {}},
         "ok cli_reported used=27 left=73 in=9000 out=1500 cached=12000 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 39% remaining · 61% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:12:31.400Z"},
        {{"premium marker last",
          {"fixture codex-account-buckets",
           R"(file .codex/sessions/2026/01/05/rollout-2026-01-05T08-19-00-019b8c40.jsonl=)"
           R"({"timestamp":"2026-01-05T08:20:00.000Z","type":"event_msg","payload":{"type":)"
           R"("token_count","info":{"total_token_usage":{"input_tokens":30000,)"
           R"("cached_input_tokens":15000,"output_tokens":2000,"total_tokens":32000}},)"
           R"("rate_limits":{"limit_id":"premium","limit_name":null,"primary":null,)"
           R"("secondary":null,"credits":null,"plan_type":null}}})"},
          {}},
         "ok cli_reported used=27 left=73 in=15000 out=2000 cached=15000 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 39% remaining · 61% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:20:00Z"},
        // Both windows reset an hour ago: the exhausted figures belong to windows that ended.
        {rung("windows reset an hour ago", {"fixture codex-window-reset"}, "Tracked with quota",
              "Limit and token data ready", {}, kSource | kTokens | kLimits,
              {noCommand, oneSession, noState}),
         "ok cli_reported used=0 left=100 in=18000 out=5200 cached=70000 label=5h "
         "text=[Weekly 100% remaining · 0% used] at=2026-01-05T02:55:12.300Z"},
        {{"documented shape", {"fixture codex-documented-shape"}, {}},
         "ok cli_reported used=30 left=70 in=60 out=30 cached=60 cost=0.25 label=5h "
         "resets=2026-01-05T10:00:00Z text=[Weekly 90% remaining · 10% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:50:00Z"},
        {rung("tokens only", {"fixture codex-tokens-only"}, "Tracked without quota",
              "Token data only; limit data missing",
              "Codex local session data exposed token counts, but no rate_limits fields were "
              "found.",
              kCli | kSource | kTokens, {"✓ command codex: BIN/codex", oneSession, noState}),
         "unknown cli_reported in=512 out=64 cached=128 at=2026-01-05T08:20:00Z"},
        {rung("limits only",
              {R"(file .codex/sessions/s.jsonl={"timestamp":"2026-01-05T08:00:00Z","payload":)"
               R"({"type":"token_count","info":null,"rate_limits":{"primary":)"
               R"({"used_percent":12.0,"window_minutes":300}}}})"},
              "Tracked with quota", "Limit data ready", {}, kSource | kLimits,
              {noCommand, oneSession, noState}),
         "ok cli_reported used=12 left=88 label=5h at=2026-01-05T08:00:00Z"},
        {rung("unrecognized sessions", {"fixture codex-sessions-unrecognized"},
              "Source found, parser needs sample",
              "Session logs found; usage format not recognized",
              "Codex session JSONL exists, but no recognized token_count or rate_limits fields "
              "were found.",
              kSource, {noCommand, oneSession, noState}),
         placeholder},
        {rung("state only", {"fixture codex-state-only"}, "Source found, no usage data",
              "State database found; parser not enabled",
              "Korvo does not query Codex sqlite state for limits yet, and never reads auth.json.",
              kSource, {noCommand, noSessions, "~/.codex/state_5.sqlite - found"}),
         placeholder},
        {rung("command only", {"exe bin/codex"}, "CLI detected, no local data",
              "CLI installed; no usage source found",
              "Codex CLI is installed, but Korvo did not find session JSONL or state data.", kCli,
              {"✓ command codex: BIN/codex", noSessions, noState}),
         "none"},
        {rung("the credential file alone, never read",
              {R"(file .codex/auth.json={"used_percent":99,"input_tokens":1})"}, "Not found",
              "No local Codex source found", {}, 0, {noCommand, noSessions, noState}),
         "none"},
    };
    expectRowsAndRungs(
        cases, [](const std::filesystem::path& home) { return adapterFor(home); },
        "codex / Codex CLI",
        std::vector<std::string>{"~/.codex/auth.json is intentionally ignored",
                                 "Read-only probe; raw Codex logs are not uploaded",
                                 "Only sanitized usage fields are collected"});
}

// The candidate of one line's rate limits, the line dated when a time is given.
TEST(CodexAdapter, CandidateOfOneSessionLine) {
    const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
        {"", R"({"primary":{"used_percent":5,"window_minutes":10080}})", "used=5 label=7d"},
        {"", R"({"primary":{"used_percent":5,"window_minutes":120}})", "used=5 label=2h"},
        {"", R"({"primary":{"used_percent":5,"window_minutes":90}})", "used=5 label=90m"},
        {"", R"({"primary":{"used_percent":5,"window_minutes":0}})", "used=5 label=5h"},
        {"", R"({"primary":{"used_percent":5,"window":"daily","window_minutes":300}})",
         "used=5 label=daily"},
        {"", R"({"primary":{"used_percent":5,"window":7,"label":"weekly"}})",
         "used=5 label=weekly"},
        // The tool's own windows count in percent; plain shares where no length is given.
        {"", R"({"secondary":{"used_percent":0.5,"window_minutes":10080}})",
         "text=[Weekly 99% remaining · 1% used]"},
        {"", R"({"secondary":{"used_percent":0.5}})", "text=[Weekly 50% remaining · 50% used]"},
        {"", R"({"secondary":{"used_percent":140,"window_minutes":10080}})",
         "text=[Weekly 0% remaining · 100% used]"},
        // The account's bucket, named or not; any other bucket gives nothing, not even through
        // the generic walk.
        {"", R"({"limit_id":"codex","primary":{"used_percent":5}})", "used=5 label=5h"},
        {"", R"({"limit_id":null,"primary":{"used_percent":5}})", "used=5 label=5h"},
        {"", R"({"limit_id":"codex_bengalfox","primary":{"used_percent":5}})", "none"},
        {"", R"({"limit_id":"premium","primary":null,"secondary":null})", "none"},
        // Reset times before the collection (09:00) end the window; later ones keep it.
        {"", R"({"primary":{"used_percent":100,"resets_at":1767603599}})",
         "used=0 left=100 label=5h"},
        {"", R"({"primary":{"used_percent":100,"resets_at":1767603600}})",
         "used=100 resets=2026-01-05T09:00:00Z label=5h"},
        {"", R"({"secondary":{"used_percent":70,"resets_at":"2026-01-05T08:59:59Z"}})",
         "text=[Weekly 100% remaining · 0% used]"},
        // A reset delay counted from a line time near the last instant would pass it: the reset
        // is dropped rather than wrapped around to a date before 1970.
        {"2262-04-11T23:00:00Z",
         R"({"primary":{"used_percent":5,"window_minutes":300,"resets_in_seconds":2000}})",
         "used=5 resets=2262-04-11T23:33:20Z label=5h at=2262-04-11T23:00:00Z"},
        {"2262-04-11T23:00:00Z",
         R"({"primary":{"used_percent":5,"window_minutes":300,"resets_in_seconds":18000}})",
         "used=5 label=5h at=2262-04-11T23:00:00Z"},
        {"2255-01-01T00:00:00Z",
         R"({"primary":{"used_percent":5,"window_minutes":300,"resets_in_seconds":999999999}})",
         "used=5 label=5h at=2255-01-01T00:00:00Z"},
        {"2262-04-11T23:00:00Z",
         R"({"secondary":{"used_percent":5,"window_minutes":10080,"resets_in_seconds":604800}})",
         "text=[Weekly 95% remaining · 5% used] at=2262-04-11T23:00:00Z"},
    };
    simdjson::dom::parser parser;
    for (const auto& [time, limits, expected] : cases) {
        const std::string dated = *time ? R"("timestamp":")" + std::string(time) + "\"," : "";
        const std::string line = "{" + dated + R"("payload":{"rate_limits":)" + limits + "}}";
        EXPECT_EQ(candidateText(CodexAdapter::sessionLineCandidate(
                      parser, simdjson::padded_string(line), kFixtureNow)),
                  expected);
    }
}

// A conversation's tokens are its main thread's and its spawned threads' (each a rollout of its
// own, naming its parent in its session_meta) added up; a subagent that names no parent never
// stands for a conversation. The quota is the account's: the newest sample of any thread, kept
// or archived, is the current one.
TEST(CodexAdapter, ConversationsAndArchivedThreads) {
    const std::string day = ".codex/sessions/2026/01/05/rollout-2026-01-05T";
    const std::string parent = day + "08-00-00-019b8e10-7c2a-7d31-9a4e-5f6b7c8d9e01.jsonl";
    const std::string child = day + "08-10-00-019b8e22-1f0b-7a55-b2c3-d4e5f6a7b802.jsonl";
    const std::string review = day + "08-41-00-019b8e30-aaaa-7bbb-8ccc-ddddeeeeff03.jsonl";
    const std::string weekly =
        " text=[Weekly 94% remaining · 6% used · resets 2026-01-12T10:00:00Z]";
    // Twenty newer rollouts of threads that wrote no count yet push the parent out of the
    // newest ones: it is then looked up by its name.
    std::vector<std::string> crowded{
        "fixture codex-subagent-thread", "touch " + parent + "=1767500000",
        "touch " + review + "=1767500000", "touch " + child + "=1767601000"};
    for (int i = 0; i < 20; ++i) {
        const std::string file = ".codex/sessions/2026/01/05/rollout-2026-01-05T08-50-" +
                                 std::to_string(10 + i) + "-019b8f00-0000-7000-8000-0000000000" +
                                 std::to_string(10 + i) + ".jsonl";
        crowded.push_back("file " + file +
                          R"(={"timestamp":"2026-01-05T08:50:00Z","type":"session_meta",)"
                          R"("payload":{"id":"x)" +
                          std::to_string(i) + R"(","source":"exec"}})");
        crowded.push_back("touch " + file + "=" + std::to_string(1767600000 + i));
    }
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases{
        {"spawned thread and a review",
         {"fixture codex-subagent-thread"},
         "ok cli_reported used=26 left=74 in=14000 out=2000 cached=35000 label=5h "
         "resets=2026-01-05T11:00:00Z" +
             weekly + " at=2026-01-05T08:45:00Z"},
        {"parent outside the newest rollouts", crowded,
         "ok cli_reported used=25 left=75 in=14000 out=2000 cached=35000 label=5h "
         "resets=2026-01-05T11:00:00Z" +
             weekly + " at=2026-01-05T08:40:00Z"},
        {"newest sample archived",
         {"fixture codex-archived-newest"},
         "ok cli_reported used=40 left=60 in=10000 out=400 cached=2000 label=5h "
         "resets=2026-01-05T11:00:00Z text=[Weekly 91% remaining · 9% used · resets "
         "2026-01-12T10:00:00Z] at=2026-01-05T08:50:00Z"},
    };
    for (const auto& [what, steps, expected] : cases) {
        TestHome home;
        home.build(steps);
        EXPECT_EQ(rowText(adapterFor(home.path()).readUsage().row), expected) << what;
    }
    TestHome archived;
    archived.build({"fixture codex-archived-newest"});
    const auto paths = adapterFor(archived.path()).diagnose().checkedPaths;
    EXPECT_EQ(std::vector<std::string>(paths.begin() + 1, paths.end()),
              (std::vector<std::string>{"~/.codex/sessions - found, 1 jsonl files",
                                        "~/.codex/state_5.sqlite - missing",
                                        "~/.codex/archived_sessions - found, 1 jsonl files"}));
}

TEST(CodexAdapter, FolderFromTheEnvironment) {
    const auto home = fixtureHome("codex-home-env");
    const auto moved = adapterFor(home, {{"CODEX_HOME", (home / "elsewhere").string()}});
    EXPECT_EQ(moved.readUsage().row->usage.usedPercent, 64);
    const auto paths = moved.diagnose().checkedPaths;
    EXPECT_EQ(std::vector<std::string>(paths.begin() + 1, paths.end()),
              (std::vector<std::string>{"~/elsewhere/sessions - found, 1 jsonl files",
                                        "~/elsewhere/state_5.sqlite - missing"}));
    EXPECT_EQ(adapterFor(home, {{"CODEX_HOME", ""}}).readUsage().row->usage.usedPercent, 5);
    // CODEX_SQLITE_HOME moves the state database alone.
    TestHome state;
    state.build({"file db/state_5.sqlite=SQLite format 3"});
    EXPECT_EQ(adapterFor(state.path(), {{"CODEX_SQLITE_HOME", (state / "db").string()}})
                  .diagnose()
                  .checkedPaths.back(),
              "~/db/state_5.sqlite - found");
}

} // namespace
} // namespace korvo

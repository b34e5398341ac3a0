#include "sources/adapters/GitHubCopilotCliAdapter.h"

#include "AdapterCases.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::test;

const std::string kEnvLabel = "COPILOT_OTEL_FILE_EXPORTER_PATH";

GitHubCopilotCliAdapter adapterFor(const std::filesystem::path& home,
                                   std::map<std::string, std::string, std::less<>> variables = {},
                                   std::optional<std::filesystem::path> explicitFile = {}) {
    return GitHubCopilotCliAdapter(home, {home / "bin"}, fixedEnvironment(std::move(variables)),
                                   std::move(explicitFile), fixedClock(kFixtureNow));
}

TEST(GitHubCopilotCliAdapter, RowAndLadderOfEachHome) {
    const std::string noCommand = "• command copilot/gh-copilot: not found";
    const std::string config = "~/.copilot - found";
    const std::string noConfig = "~/.copilot - missing";
    const std::string korvo = "~/.korvo/copilot-otel.jsonl - found, ~/.korvo/copilot-otel.jsonl";
    const std::string noKorvo =
        "~/.korvo/copilot-otel.jsonl - missing, ~/.korvo/copilot-otel.jsonl";
    const std::string noOtel =
        "~/.config/github-copilot/otel.jsonl - missing, ~/.config/github-copilot/otel.jsonl";
    const std::string onlyCommand =
        "Copilot CLI is installed, but Korvo did not find an OTel file exporter path.";
    const auto cliOnly = [&](std::string name, std::vector<std::string> home, std::string bin) {
        return RowCase{rung(std::move(name), std::move(home), "CLI detected, no local data",
                            "CLI installed; OTel not configured", onlyCommand, kCli,
                            {"✓ command copilot: BIN/" + bin, noConfig, noKorvo, noOtel}),
                       "none"};
    };
    const auto unrecognized = [&](std::string name, std::vector<std::string> home) {
        return RowCase{
            rung(std::move(name), std::move(home), "Source found, parser needs sample",
                 "OTel file found; token metrics not recognized",
                 "Korvo found a Copilot OTel file, but no gen_ai.client.token.usage metrics.",
                 kSource, {noCommand, noConfig, korvo, noOtel}),
            "none"};
    };
    const std::vector<RowCase> cases = {
        // Cumulative histograms: the newest export's sums count, never the measurement counts.
        {rung("cumulative histograms", {"fixture copilot-otel-cumulative"}, "Tracked without quota",
              "OTel token data ready",
              "Copilot OTel exposes token usage; remaining premium requests are account-level "
              "and not available from this local file.",
              kSource | kTokens,
              {noCommand, noConfig, noKorvo,
               "~/.config/github-copilot/otel.jsonl - found, ~/.config/github-copilot/otel.jsonl"}),
         "unknown cli_reported in=1500 out=300 label=local OTel at=2026-06-09T10:14:20Z"},
        unrecognized("other metrics only", {"fixture copilot-otel-other-metrics"}),
        unrecognized("a fifo is found but never opened", {"fifo .korvo/copilot-otel.jsonl"}),
        // The CLI installed and used, no exporter set up.
        {rung("config folder only", {"fixture copilot-config-only"}, "Source found, no usage data",
              "Config found; OTel file export not configured",
              "Set COPILOT_OTEL_FILE_EXPORTER_PATH to a local JSONL file to track token usage.",
              kSource, {noCommand, config, noKorvo, noOtel}),
         "none"},
        cliOnly("config as a file, and the command",
                {"file .copilot={}", "dir .config/github-copilot", "exe bin/copilot"}, "copilot"),
        cliOnly("the other command name", {"exe bin/gh-copilot"}, "gh-copilot"),
        cliOnly("the first command name wins", {"exe bin/gh-copilot", "exe bin/copilot"},
                "copilot"),
        {rung("exporter path is a folder", {"dir .korvo/copilot-otel.jsonl"}, "Not found",
              "No local Copilot CLI source found", {}, 0, {noCommand, noConfig, noKorvo, noOtel}),
         "none"},
    };
    expectRowsAndRungs(
        cases, [](const std::filesystem::path& home) { return adapterFor(home); },
        "github-copilot-cli / GitHub Copilot CLI",
        std::vector<std::string>{
            "Set COPILOT_OTEL_FILE_EXPORTER_PATH to enable local token metrics",
            "Keep OTEL_INSTRUMENTATION_GENAI_CAPTURE_MESSAGE_CONTENT unset or false",
            "Korvo parses token metrics only and never reads GitHub tokens"});
}

// Without any setting, Copilot's own session-state: the newest ended session's tokens (its
// shutdown segments added up, the input without the cache) and the premium requests, or AI
// credits, of every segment ended this calendar month. An exporter file with tokens stays the
// tokens' source; the month's figure, which it lacks, is added to it.
TEST(GitHubCopilotCliAdapter, SessionStateWithoutAnySetting) {
    const std::string state = ".copilot/session-state/";
    const std::string newest = state + "7d3f0a2c-4b1e-4c8a-9f2d-1e6b5a4c3d21/events.jsonl";
    const std::string older = state + "2a9c8b7d-6e5f-4a3b-8c2d-1e0f9a8b7c65/events.jsonl";
    const std::string running = state + "0f1e2d3c-4b5a-4968-8776-655443322110/events.jsonl";
    const std::vector<std::string> fixture{"fixture copilot-session-state",
                                           "touch " + newest + "=1767603000",
                                           "touch " + older + "=1767348000"};
    const auto with = [&](std::vector<std::string> more) {
        auto steps = fixture;
        steps.insert(steps.end(), more.begin(), more.end());
        return steps;
    };
    const std::string newestRow = "unknown cli_reported in=33000 out=5000 cached=152000 "
                                  "text=[Premium requests this month 82.5] at=2026-01-05T08:50:00Z";
    const std::string shutdownTail =
        R"(,"id":"x","timestamp":"2026-01-05T08:55:00.000Z","parentId":null})";
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string, std::string>>
        cases{
            {"two segments and an older session", fixture, "Session token data ready", newestRow},
            // A session still running has written no figures yet: the newest ended one counts.
            {"a newer session still running",
             with({"file " + running +
                   R"(={"type":"session.start","data":{"sessionId":"0f1e"},"id":"a",)"
                   R"("timestamp":"2026-01-05T08:58:00.000Z","parentId":null})"
                   "\n"}),
             "Session token data ready", newestRow},
            // Newer builds: totals by kind and AI credits.
            {"AI credits",
             {"file " + running +
              R"(={"type":"session.shutdown","data":{"totalNanoAiu":2655750000,"tokenDetails":)"
              R"({"input":{"tokenCount":10},"cache_read":{"tokenCount":0},"cache_write":)"
              R"({"tokenCount":21070},"output":{"tokenCount":42}}})" +
              shutdownTail + "\n"},
             "Session token data ready",
             "unknown cli_reported in=10 out=42 cached=21070 text=[AI credits this month 2.66] "
             "at=2026-01-05T08:55:00Z"},
            {"no session ended yet",
             {"file " + running +
              R"(={"type":"session.start","data":{},"id":"a","timestamp":"2026-01-05T08:58:00Z"})"
              "\n"},
             "Sessions found; none has ended yet",
             "none"},
            {"an exporter file beside them",
             with({"file .korvo/copilot-otel.jsonl="
                   R"({"name":"gen_ai.client.token.usage","attributes":{"gen_ai.token.type":)"
                   R"("input"},"value":700})"
                   "\n"}),
             "OTel token data ready",
             "unknown cli_reported in=700 label=local OTel text=[Premium requests this month "
             "82.5] at=2026-01-05T09:00:00Z"},
        };
    for (const auto& [what, steps, summary, row] : cases) {
        TestHome home;
        home.build(steps);
        const auto adapter = adapterFor(home.path());
        EXPECT_EQ(rowText(adapter.readUsage().row), row) << what;
        const auto d = adapter.diagnose();
        EXPECT_EQ(d.summary, summary) << what;
    }
    TestHome home;
    home.build(fixture);
    EXPECT_EQ(adapterFor(home.path()).diagnose().checkedPaths.back(),
              "~/.copilot/session-state - found, 2 sessions");
}

// $COPILOT_HOME moves the configuration folder; blank, it is ignored.
TEST(GitHubCopilotCliAdapter, ConfigurationFolderFromTheEnvironment) {
    TestHome home;
    home.build({"fixture copilot-config-only", "file moved/config.json={}"});
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {(home / "moved").string(), "~/moved - found", "Source found, no usage data"},
        {(home / "absent").string(), "~/absent - missing", "Not found"},
        {" \t", "~/.copilot - found", "Source found, no usage data"},
    };
    for (const auto& [variable, line, tracking] : cases) {
        const auto d = adapterFor(home.path(), {{"COPILOT_HOME", variable}}).diagnose();
        EXPECT_EQ(d.checkedPaths.at(1), line) << variable;
        EXPECT_EQ(d.trackingStatus, tracking) << variable;
    }
}

// The files looked up, in order: the explicit one, the variable's (trimmed), the two defaults.
// Their tokens add up; the same file spelled otherwise is listed, and read, once.
TEST(GitHubCopilotCliAdapter, ExporterFilesAddUpEachReadOnce) {
    const auto inputLine = [](int tokens) {
        return R"({"name":"gen_ai.client.token.usage","attributes":{"gen_ai.token.type":"input"},"value":)" +
               std::to_string(tokens) + "}\n";
    };
    TestHome home;
    const auto korvo = home.write(".korvo/copilot-otel.jsonl", inputLine(100));
    const auto config = home.write(".config/github-copilot/otel.jsonl", inputLine(50));
    const auto elsewhere = home.write("elsewhere/otel.jsonl", inputLine(7));
    const auto respelled = home / ".config/./github-copilot/../github-copilot/otel.jsonl";
    using Candidates = std::vector<GitHubCopilotCliAdapter::ExporterCandidate>;
    const Candidates defaults{{korvo, "~/.korvo/copilot-otel.jsonl"},
                              {config, "~/.config/github-copilot/otel.jsonl"}};
    const std::vector<
        std::tuple<std::string, std::optional<std::filesystem::path>, Candidates, double>>
        cases{
            {" \n\t ", std::nullopt, defaults, 150},
            {"  " + respelled.string() + "\n", std::nullopt,
             Candidates{{respelled, kEnvLabel}, defaults[0]}, 150},
            {elsewhere.string(), home / "explicit.jsonl",
             Candidates{{home / "explicit.jsonl", "explicit"},
                        {elsewhere, kEnvLabel},
                        defaults[0],
                        defaults[1]},
             157},
        };
    for (const auto& [variable, explicitFile, candidates, input] : cases) {
        const auto adapter = adapterFor(home.path(), {{kEnvLabel, variable}}, explicitFile);
        EXPECT_EQ(adapter.exporterCandidates(), candidates) << variable;
        EXPECT_EQ(adapter.readUsage().row->usage.inputTokens, input) << variable;
    }
}

} // namespace
} // namespace korvo

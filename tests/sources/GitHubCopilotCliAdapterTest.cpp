#include "sources/adapters/GitHubCopilotCliAdapter.h"

#include "TestHome.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::testing;

const std::string kEnvLabel = "COPILOT_OTEL_FILE_EXPORTER_PATH";

GitHubCopilotCliAdapter adapterFor(const std::filesystem::path& home,
                                   std::map<std::string, std::string, std::less<>> variables = {},
                                   std::optional<std::filesystem::path> explicitFile = {}) {
    return GitHubCopilotCliAdapter(home, {home / "bin"}, fixedEnvironment(std::move(variables)),
                                   std::move(explicitFile), fixedClock(fixtureNow()));
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

// $COPILOT_HOME moves the configuration folder; blank, it is ignored.
TEST(GitHubCopilotCliAdapter, ConfigurationFolderFromTheEnvironment) {
    ScratchHome home;
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
    ScratchHome home;
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

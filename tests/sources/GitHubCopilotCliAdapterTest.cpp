#include "sources/GitHubCopilotCliAdapter.h"

#include "TestHome.h"

#include <gtest/gtest.h>
#include <map>

namespace korvo {
namespace {

using namespace korvo::testing;

constexpr Instant kNow = instantFromUnixSeconds(1790000000);
const std::string kEnvLabel = "COPILOT_OTEL_FILE_EXPORTER_PATH";

GitHubCopilotCliAdapter adapterFor(const ScratchHome& home,
                                   std::map<std::string, std::string, std::less<>> variables = {},
                                   std::optional<std::filesystem::path> explicitFile = {}) {
    return GitHubCopilotCliAdapter(home.path(), {home / "bin"},
                                   fixedEnvironment(std::move(variables)), std::move(explicitFile),
                                   fixedClock(kNow));
}

TEST(GitHubCopilotCliAdapter, DiagnosticLadder) {
    const std::string noCommand = "• command copilot/gh-copilot: not found";
    const std::string config = "~/.config/github-copilot - found";
    const std::string noConfig = "~/.config/github-copilot - missing";
    const std::string korvo = "~/.korvo/copilot-otel.jsonl - found, ~/.korvo/copilot-otel.jsonl";
    const std::string noKorvo =
        "~/.korvo/copilot-otel.jsonl - missing, ~/.korvo/copilot-otel.jsonl";
    const std::string noOtel =
        "~/.config/github-copilot/otel.jsonl - missing, ~/.config/github-copilot/otel.jsonl";
    const std::string notRecognized =
        "Korvo found a Copilot OTel file, but no gen_ai.client.token.usage metrics.";
    const std::string onlyCommand =
        "Copilot CLI is installed, but Korvo did not find an OTel file exporter path.";
    const std::vector<LadderCase> cases = {
        rung("cumulative histograms", {"fixture copilot-otel-cumulative"}, "Tracked without quota",
             "OTel token data ready",
             "Copilot OTel exposes token usage; remaining premium requests are account-level and "
             "not available from this local file.",
             kSource | kTokens,
             {noCommand, config, noKorvo,
              "~/.config/github-copilot/otel.jsonl - found, ~/.config/github-copilot/otel.jsonl"}),
        rung("other metrics only", {"fixture copilot-otel-other-metrics"},
             "Source found, parser needs sample", "OTel file found; token metrics not recognized",
             notRecognized, kSource, {noCommand, noConfig, korvo, noOtel}),
        rung("a fifo is found but never opened", {"fifo .korvo/copilot-otel.jsonl"},
             "Source found, parser needs sample", "OTel file found; token metrics not recognized",
             notRecognized, kSource, {noCommand, noConfig, korvo, noOtel}),
        rung("config folder only", {"dir .config/github-copilot"}, "Source found, no usage data",
             "Config found; OTel file export not configured",
             "Set COPILOT_OTEL_FILE_EXPORTER_PATH to a local JSONL file to track token usage.",
             kSource, {noCommand, config, noKorvo, noOtel}),
        rung("config as a file, and the command",
             {"file .config/github-copilot={}", "exe bin/copilot"}, "CLI detected, no local data",
             "CLI installed; OTel not configured", onlyCommand, kCli,
             {"✓ command copilot: BIN/copilot", noConfig, noKorvo, noOtel}),
        rung("the other command name", {"exe bin/gh-copilot"}, "CLI detected, no local data",
             "CLI installed; OTel not configured", onlyCommand, kCli,
             {"✓ command copilot: BIN/gh-copilot", noConfig, noKorvo, noOtel}),
        rung("the first command name wins", {"exe bin/gh-copilot", "exe bin/copilot"},
             "CLI detected, no local data", "CLI installed; OTel not configured", onlyCommand, kCli,
             {"✓ command copilot: BIN/copilot", noConfig, noKorvo, noOtel}),
        rung("exporter path is a folder", {"dir .korvo/copilot-otel.jsonl"}, "Not found",
             "No local Copilot CLI source found", {}, 0, {noCommand, noConfig, noKorvo, noOtel}),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchHome home;
        home.build(c.home);
        const auto adapter = adapterFor(home);
        const auto d = adapter.diagnose();
        EXPECT_EQ(d.id, "github-copilot-cli");
        EXPECT_EQ(d.displayName, "GitHub Copilot CLI");
        expectLadder(d, c.expected, home.path());
        EXPECT_EQ(d.warnings,
                  (std::vector<std::string>{
                      "Set COPILOT_OTEL_FILE_EXPORTER_PATH to enable local token metrics",
                      "Keep OTEL_INSTRUMENTATION_GENAI_CAPTURE_MESSAGE_CONTENT unset or false",
                      "Korvo parses token metrics only and never reads GitHub tokens"}));
        // Cumulative histograms: the newest export's sums count, never the measurement counts.
        const auto row = adapter.readUsage();
        EXPECT_EQ(rowText(row), c.name == "cumulative histograms"
                                    ? "unknown cli_reported in=1500 out=300 label=local OTel "
                                      "at=2026-06-09T10:14:20Z"
                                    : "none");
        if (row) {
            EXPECT_EQ(row->id + " / " + row->displayName,
                      "github-copilot-cli / GitHub Copilot CLI");
        }
    }
}

TEST(GitHubCopilotCliAdapter, ExporterCandidates) {
    ScratchHome home;
    const auto korvo = home / ".korvo/copilot-otel.jsonl";
    const auto config = home / ".config/github-copilot/otel.jsonl";
    using Candidates = std::vector<GitHubCopilotCliAdapter::ExporterCandidate>;
    const Candidates defaults{{korvo, "~/.korvo/copilot-otel.jsonl"},
                              {config, "~/.config/github-copilot/otel.jsonl"}};
    EXPECT_EQ(adapterFor(home).exporterCandidates(), defaults);
    EXPECT_EQ(adapterFor(home, {{kEnvLabel, " \n\t "}}).exporterCandidates(), defaults);

    // The same file spelled otherwise is listed once, as the variable gives it.
    const auto spelledOtherwise = home / ".config/./github-copilot/../github-copilot/otel.jsonl";
    EXPECT_EQ(adapterFor(home, {{kEnvLabel, "  " + spelledOtherwise.string() + "\n"}})
                  .exporterCandidates(),
              (Candidates{{spelledOtherwise, kEnvLabel}, defaults[0]}));

    EXPECT_EQ(
        adapterFor(home, {{kEnvLabel, (home / "env.jsonl").string()}}, home / "explicit.jsonl")
            .exporterCandidates(),
        (Candidates{{home / "explicit.jsonl", "explicit"},
                    {home / "env.jsonl", kEnvLabel},
                    defaults[0],
                    defaults[1]}));
}

TEST(GitHubCopilotCliAdapter, FilesAddUpAndADuplicateIsReadOnce) {
    const auto inputLine = [](int tokens) {
        return R"({"name":"gen_ai.client.token.usage","attributes":{"gen_ai.token.type":"input"},"value":)" +
               std::to_string(tokens) + "}\n";
    };
    ScratchHome home;
    home.write(".korvo/copilot-otel.jsonl", inputLine(100));
    home.write(".config/github-copilot/otel.jsonl", inputLine(50));
    home.write("elsewhere/otel.jsonl", inputLine(7));
    EXPECT_EQ(adapterFor(home).readUsage()->usage.inputTokens, 150);

    const auto viaEnvironment =
        adapterFor(home, {{kEnvLabel, (home / ".config/github-copilot/otel.jsonl").string()}});
    EXPECT_EQ(viaEnvironment.readUsage()->usage.inputTokens, 150);
    const auto d = viaEnvironment.diagnose();
    ASSERT_EQ(d.checkedPaths.size(), 4u);
    EXPECT_EQ(d.checkedPaths[2], "~/.config/github-copilot/otel.jsonl - found, " + kEnvLabel);

    const auto outside = adapterFor(home, {{kEnvLabel, (home / "elsewhere/otel.jsonl").string()}});
    EXPECT_EQ(outside.readUsage()->usage.inputTokens, 157);
}

} // namespace
} // namespace korvo

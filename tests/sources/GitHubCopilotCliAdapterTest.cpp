#include "sources/GitHubCopilotCliAdapter.h"

#include "FixtureHome.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace korvo {
namespace {

using testing::copyFixture;
using testing::makeExecutable;
using testing::ScratchHome;

constexpr Instant kNow = instantFromUnixSeconds(1790000000);
const std::string kEnvLabel = "COPILOT_OTEL_FILE_EXPORTER_PATH";

GitHubCopilotCliAdapter adapterFor(const ScratchHome& home,
                                   std::map<std::string, std::string, std::less<>> variables = {},
                                   std::optional<std::filesystem::path> explicitFile = {}) {
    return GitHubCopilotCliAdapter(home.path(), {home / "bin"},
                                   fixedEnvironment(std::move(variables)), std::move(explicitFile),
                                   fixedClock(kNow));
}

std::string inputLine(int tokens) {
    return R"({"name":"gen_ai.client.token.usage","attributes":{"gen_ai.token.type":"input"},"value":)" +
           std::to_string(tokens) + "}\n";
}

struct LadderCase {
    const char* name;
    std::function<void(const ScratchHome&)> setUp;
    const char* trackingStatus;
    const char* summary;
    bool cliInstalled;
    bool usageSourceFound;
    bool tokenDataFound;
    std::vector<std::string> pathLines; // after the command line

    friend void PrintTo(const LadderCase& c, std::ostream* os) { *os << c.name; }
};

class CopilotLadder : public ::testing::TestWithParam<LadderCase> {};

TEST_P(CopilotLadder, ChoosesRungFlagsAndLines) {
    const LadderCase& c = GetParam();
    ScratchHome home;
    c.setUp(home);
    const auto adapter = adapterFor(home);
    const AdapterDiagnostic d = adapter.diagnose();

    EXPECT_EQ(d.id, "github-copilot-cli");
    EXPECT_EQ(d.displayName, "GitHub Copilot CLI");
    EXPECT_EQ(d.trackingStatus, c.trackingStatus);
    EXPECT_EQ(d.summary, c.summary);
    EXPECT_EQ(d.cliInstalled, c.cliInstalled);
    EXPECT_EQ(d.usageSourceFound, c.usageSourceFound);
    EXPECT_EQ(d.tokenDataFound, c.tokenDataFound);
    EXPECT_EQ(d.canUploadProvider, c.tokenDataFound);
    EXPECT_FALSE(d.limitDataFound);
    EXPECT_EQ(d.isAvailable, c.cliInstalled || c.usageSourceFound);
    EXPECT_EQ(d.whyNoQuota.has_value(), std::string(c.trackingStatus) != "Not found");
    EXPECT_EQ(d.warnings,
              (std::vector<std::string>{
                  "Set COPILOT_OTEL_FILE_EXPORTER_PATH to enable local token metrics",
                  "Keep OTEL_INSTRUMENTATION_GENAI_CAPTURE_MESSAGE_CONTENT unset or false",
                  "Korvo parses token metrics only and never reads GitHub tokens"}));
    ASSERT_FALSE(d.checkedPaths.empty());
    EXPECT_EQ(std::vector<std::string>(d.checkedPaths.begin() + 1, d.checkedPaths.end()),
              c.pathLines);
    EXPECT_EQ(adapter.readUsage().has_value(), c.tokenDataFound);
}

INSTANTIATE_TEST_SUITE_P(
    Adapter, CopilotLadder,
    ::testing::Values(
        LadderCase{"CumulativeHistogramsTracked",
                   [](const ScratchHome& h) { copyFixture(h, "copilot-otel-cumulative"); },
                   "Tracked without quota",
                   "OTel token data ready",
                   false,
                   true,
                   true,
                   {"~/.config/github-copilot - found",
                    "~/.korvo/copilot-otel.jsonl - missing, ~/.korvo/copilot-otel.jsonl",
                    "~/.config/github-copilot/otel.jsonl - found, "
                    "~/.config/github-copilot/otel.jsonl"}},
        LadderCase{"OtherMetricsOnly",
                   [](const ScratchHome& h) { copyFixture(h, "copilot-otel-other-metrics"); },
                   "Source found, parser needs sample",
                   "OTel file found; token metrics not recognized",
                   false,
                   true,
                   false,
                   {"~/.config/github-copilot - missing",
                    "~/.korvo/copilot-otel.jsonl - found, ~/.korvo/copilot-otel.jsonl",
                    "~/.config/github-copilot/otel.jsonl - missing, "
                    "~/.config/github-copilot/otel.jsonl"}},
        LadderCase{"ConfigDirectoryOnly",
                   [](const ScratchHome& h) { h.mkdir(".config/github-copilot"); },
                   "Source found, no usage data",
                   "Config found; OTel file export not configured",
                   false,
                   true,
                   false,
                   {"~/.config/github-copilot - found",
                    "~/.korvo/copilot-otel.jsonl - missing, ~/.korvo/copilot-otel.jsonl",
                    "~/.config/github-copilot/otel.jsonl - missing, "
                    "~/.config/github-copilot/otel.jsonl"}},
        LadderCase{"ConfigAsRegularFileAndCommand",
                   [](const ScratchHome& h) {
                       h.write(".config/github-copilot", "{}");
                       makeExecutable(h, "bin/copilot");
                   },
                   "CLI detected, no local data",
                   "CLI installed; OTel not configured",
                   true,
                   false,
                   false,
                   {"~/.config/github-copilot - missing",
                    "~/.korvo/copilot-otel.jsonl - missing, ~/.korvo/copilot-otel.jsonl",
                    "~/.config/github-copilot/otel.jsonl - missing, "
                    "~/.config/github-copilot/otel.jsonl"}},
        LadderCase{"FifoIsFoundButNeverOpened",
                   [](const ScratchHome& h) {
                       h.mkdir(".korvo");
                       ASSERT_EQ(mkfifo((h / ".korvo/copilot-otel.jsonl").c_str(), 0600), 0);
                   },
                   "Source found, parser needs sample",
                   "OTel file found; token metrics not recognized",
                   false,
                   true,
                   false,
                   {"~/.config/github-copilot - missing",
                    "~/.korvo/copilot-otel.jsonl - found, ~/.korvo/copilot-otel.jsonl",
                    "~/.config/github-copilot/otel.jsonl - missing, "
                    "~/.config/github-copilot/otel.jsonl"}},
        LadderCase{"ExporterPathIsADirectory",
                   [](const ScratchHome& h) { h.mkdir(".korvo/copilot-otel.jsonl"); },
                   "Not found",
                   "No local Copilot CLI source found",
                   false,
                   false,
                   false,
                   {"~/.config/github-copilot - missing",
                    "~/.korvo/copilot-otel.jsonl - missing, ~/.korvo/copilot-otel.jsonl",
                    "~/.config/github-copilot/otel.jsonl - missing, "
                    "~/.config/github-copilot/otel.jsonl"}}),
    [](const auto& info) { return info.param.name; });

TEST(GitHubCopilotCliAdapter, CommandLines) {
    struct Case {
        std::vector<const char*> installed;
        const char* found; // the executable the line names, or none
    };
    const std::vector<Case> cases{
        {{}, nullptr},
        {{"gh-copilot"}, "gh-copilot"},
        {{"copilot", "gh-copilot"}, "copilot"},
    };
    for (const auto& c : cases) {
        ScratchHome home;
        for (const char* name : c.installed) {
            makeExecutable(home, std::string("bin/") + name);
        }
        const auto d = adapterFor(home).diagnose();
        EXPECT_EQ(d.checkedPaths.front(),
                  c.found ? "✓ command copilot: " + (home / "bin" / c.found).string()
                          : std::string("• command copilot/gh-copilot: not found"));
        EXPECT_EQ(d.cliInstalled, c.found != nullptr);
    }
}

// Cumulative histograms: the newest export's sums count, never the measurement counts.
TEST(GitHubCopilotCliAdapter, RowFromCumulativeHistograms) {
    ScratchHome home;
    copyFixture(home, "copilot-otel-cumulative");
    const auto row = adapterFor(home).readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->id, "github-copilot-cli");
    EXPECT_EQ(row->usage.inputTokens, 1500);
    EXPECT_EQ(row->usage.outputTokens, 300);
    EXPECT_EQ(row->usage.cachedInputTokens, std::nullopt);
    ASSERT_TRUE(row->window);
    EXPECT_EQ(row->window->label, "local OTel");
    EXPECT_EQ(row->observedAt, instantFromUnixSeconds(1781000060));
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

    const std::string spelledOtherwise =
        "  " + (home / ".config/./github-copilot/../github-copilot/otel.jsonl").string() + "\n";
    const auto sameAsDefault =
        adapterFor(home, {{kEnvLabel, spelledOtherwise}}).exporterCandidates();
    ASSERT_EQ(sameAsDefault.size(), 2u);
    EXPECT_EQ(sameAsDefault[0].label, kEnvLabel);
    EXPECT_EQ(sameAsDefault[1], defaults[0]);

    const auto withExplicit =
        adapterFor(home, {{kEnvLabel, (home / "env.jsonl").string()}}, home / "explicit.jsonl")
            .exporterCandidates();
    ASSERT_EQ(withExplicit.size(), 4u);
    EXPECT_EQ(withExplicit[0],
              (GitHubCopilotCliAdapter::ExporterCandidate{home / "explicit.jsonl", "explicit"}));
    EXPECT_EQ(withExplicit[1],
              (GitHubCopilotCliAdapter::ExporterCandidate{home / "env.jsonl", kEnvLabel}));
}

TEST(GitHubCopilotCliAdapter, FilesAddUpAndADuplicateIsReadOnce) {
    ScratchHome home;
    home.write(".korvo/copilot-otel.jsonl", inputLine(100));
    home.write(".config/github-copilot/otel.jsonl", inputLine(50));
    EXPECT_EQ(adapterFor(home).readUsage()->usage.inputTokens, 150);

    const auto viaEnvironment =
        adapterFor(home, {{kEnvLabel, (home / ".config/github-copilot/otel.jsonl").string()}});
    EXPECT_EQ(viaEnvironment.readUsage()->usage.inputTokens, 150);
    const auto d = viaEnvironment.diagnose();
    ASSERT_EQ(d.checkedPaths.size(), 4u);
    EXPECT_EQ(d.checkedPaths[2], "~/.config/github-copilot/otel.jsonl - found, " + kEnvLabel);

    home.write("elsewhere/otel.jsonl", inputLine(7));
    const auto outside = adapterFor(home, {{kEnvLabel, (home / "elsewhere/otel.jsonl").string()}});
    EXPECT_EQ(outside.readUsage()->usage.inputTokens, 157);
}

} // namespace
} // namespace korvo

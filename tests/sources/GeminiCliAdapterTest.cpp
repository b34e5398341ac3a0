#include "sources/GeminiCliAdapter.h"

#include "FixtureHome.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {
namespace {

using testing::copyFixture;
using testing::makeExecutable;
using testing::ScratchHome;

constexpr Instant kNow = instantFromUnixSeconds(1790000000);

GeminiCliAdapter adapterFor(const ScratchHome& home) {
    return GeminiCliAdapter(home.path(), {home / "bin"}, fixedClock(kNow));
}

struct LadderCase {
    const char* name;
    std::function<void(const ScratchHome&)> setUp;
    const char* trackingStatus;
    const char* summary;
    bool cliInstalled;
    bool usageSourceFound;
    bool tokenDataFound;
    std::size_t warningCount;
    std::vector<std::string> pathLines; // the settings and telemetry lines

    friend void PrintTo(const LadderCase& c, std::ostream* os) { *os << c.name; }
};

class GeminiLadder : public ::testing::TestWithParam<LadderCase> {};

TEST_P(GeminiLadder, ChoosesRungFlagsAndLines) {
    const LadderCase& c = GetParam();
    ScratchHome home;
    c.setUp(home);
    const GeminiCliAdapter adapter = adapterFor(home);
    const AdapterDiagnostic d = adapter.diagnose();

    EXPECT_EQ(d.id, "gemini-cli");
    EXPECT_EQ(d.displayName, "Gemini CLI");
    EXPECT_EQ(d.trackingStatus, c.trackingStatus);
    EXPECT_EQ(d.summary, c.summary);
    EXPECT_EQ(d.cliInstalled, c.cliInstalled);
    EXPECT_EQ(d.usageSourceFound, c.usageSourceFound);
    EXPECT_EQ(d.tokenDataFound, c.tokenDataFound);
    EXPECT_FALSE(d.limitDataFound);
    EXPECT_EQ(d.canUploadProvider, c.tokenDataFound);
    EXPECT_EQ(d.isAvailable, c.cliInstalled || c.usageSourceFound);
    EXPECT_EQ(d.whyNoQuota.has_value(), std::string(c.trackingStatus) != "Not found");
    EXPECT_EQ(d.warnings.size(), c.warningCount);
    EXPECT_EQ(d.warnings.front(),
              "Gemini telemetry should be configured with logPrompts=false before parsing");
    EXPECT_EQ(d.warnings.back(), "Only sanitized token fields are collected");

    ASSERT_EQ(d.checkedPaths.size(), 3u);
    EXPECT_EQ(d.checkedPaths[0], c.cliInstalled
                                     ? "✓ command gemini: " + (home / "bin/gemini").string()
                                     : std::string("• command gemini: not found"));
    EXPECT_EQ(std::vector<std::string>(d.checkedPaths.begin() + 1, d.checkedPaths.end()),
              c.pathLines);
    EXPECT_EQ(adapter.readUsage().has_value(), c.tokenDataFound);
}

const std::vector<std::string> kBothMissing{"~/.gemini/settings.json - missing",
                                            "~/.gemini/telemetry.log - missing"};
const std::vector<std::string> kBothFound{"~/.gemini/settings.json - found",
                                          "~/.gemini/telemetry.log - found"};
const std::vector<std::string> kTelemetryOnly{"~/.gemini/settings.json - missing",
                                              "~/.gemini/telemetry.log - found"};

INSTANTIATE_TEST_SUITE_P(
    Adapter, GeminiLadder,
    ::testing::Values(
        LadderCase{"PromptLoggingPausesCollection",
                   [](const ScratchHome& h) { copyFixture(h, "gemini-log-prompts"); },
                   "Needs settings change",
                   "Telemetry prompt logging is enabled; collection paused for privacy", false,
                   true, false, 4, kBothFound},
        LadderCase{"OtlpLinesTracked",
                   [](const ScratchHome& h) { copyFixture(h, "gemini-otlp-lines"); },
                   "Tracked without quota", "Local telemetry token data ready", false, true, true,
                   3, kBothFound},
        LadderCase{"PrettyPrintedExportsTracked",
                   [](const ScratchHome& h) { copyFixture(h, "gemini-pretty-cumulative"); },
                   "Tracked without quota", "Local telemetry token data ready", false, true, true,
                   3, kBothFound},
        LadderCase{"PrettyPrintedWithoutTokenMetrics",
                   [](const ScratchHome& h) { copyFixture(h, "gemini-pretty-no-token-metrics"); },
                   "Source found, parser needs sample",
                   "Telemetry file found; token metrics not recognized", false, true, false, 3,
                   kTelemetryOnly},
        LadderCase{"SettingsOnlyWithLogPromptsAsText",
                   [](const ScratchHome& h) {
                       copyFixture(h, "gemini-settings-only");
                       makeExecutable(h, "bin/gemini");
                   },
                   "Source found, no usage data",
                   "Settings found; local telemetry not enabled",
                   true,
                   true,
                   false,
                   3,
                   {"~/.gemini/settings.json - found", "~/.gemini/telemetry.log - missing"}},
        LadderCase{"CommandOnly", [](const ScratchHome& h) { makeExecutable(h, "bin/gemini"); },
                   "CLI detected, no local data", "CLI installed; telemetry not configured", true,
                   false, false, 3, kBothMissing},
        LadderCase{"NotExecutableIsNotACommand",
                   [](const ScratchHome& h) { h.write("bin/gemini", "#!/bin/sh\n"); }, "Not found",
                   "No local Gemini CLI source found", false, false, false, 3, kBothMissing},
        LadderCase{"DirectoriesInPlaceOfFiles",
                   [](const ScratchHome& h) {
                       h.mkdir(".gemini/telemetry.log");
                       h.mkdir(".gemini/settings.json");
                   },
                   "Not found", "No local Gemini CLI source found", false, false, false, 3,
                   kBothMissing},
        LadderCase{"Nothing", [](const ScratchHome&) {}, "Not found",
                   "No local Gemini CLI source found", false, false, false, 3, kBothMissing}),
    [](const auto& info) { return info.param.name; });

TEST(GeminiCliAdapter, RowFromOtlpLines) {
    ScratchHome home;
    copyFixture(home, "gemini-otlp-lines");
    const auto row = adapterFor(home).readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->id, "gemini-cli");
    EXPECT_EQ(row->source, SourceType::localCli);
    EXPECT_EQ(row->confidence, Confidence::cliReported);
    EXPECT_EQ(row->status, ProviderStatus::unknown);
    EXPECT_EQ(row->usage.inputTokens, 100);
    EXPECT_EQ(row->usage.outputTokens, 20);
    EXPECT_EQ(row->usage.cachedInputTokens, 7);
    EXPECT_EQ(row->usage.remainingText, "Thought 5 tokens");
    EXPECT_FALSE(row->usage.usedPercent || row->usage.remainingPercent);
    ASSERT_TRUE(row->window);
    EXPECT_EQ(row->window->kind, UsageWindowKind::unknown);
    EXPECT_EQ(row->window->label, "local telemetry");
    EXPECT_EQ(row->observedAt, instantFromUnixSeconds(1733356803));
}

// Three cumulative exports and a second session: only the newest export of each series counts.
TEST(GeminiCliAdapter, RowFromPrettyPrintedCumulativeExports) {
    ScratchHome home;
    copyFixture(home, "gemini-pretty-cumulative");
    const auto row = adapterFor(home).readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->usage.inputTokens, 4010);
    EXPECT_EQ(row->usage.outputTokens, 1002);
    EXPECT_EQ(row->usage.cachedInputTokens, 1500);
    EXPECT_EQ(row->usage.remainingText, "Thought 120 tokens");
    EXPECT_EQ(row->observedAt, instantFromUnixSeconds(1780000180) + std::chrono::milliseconds(250));
}

std::string tokenLine(int input) {
    return R"({"name":"gemini_cli.token.usage","attributes":{"type":"input"},"value":)" +
           std::to_string(input) + "}\n";
}

TEST(GeminiCliAdapter, OnlyTheLastTwoThousandDocumentsCount) {
    ScratchHome home;
    std::string log;
    for (int i = 0; i < 3000; ++i) {
        log += tokenLine(1);
    }
    home.write(".gemini/telemetry.log", log);
    const auto row = adapterFor(home).readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->usage.inputTokens, 2000);
}

TEST(GeminiCliAdapter, TokensBeforeTheLastTwoThousandDocumentsDoNotCount) {
    ScratchHome home;
    std::string log;
    for (int i = 0; i < 500; ++i) {
        log += tokenLine(1);
    }
    for (int i = 0; i < 2000; ++i) {
        log += R"({"name":"gemini_cli.api.request.count","attributes":{"type":"input"},"value":1})"
               "\n";
    }
    home.write(".gemini/telemetry.log", log);
    const auto adapter = adapterFor(home);
    EXPECT_EQ(adapter.diagnose().trackingStatus, "Source found, parser needs sample");
    EXPECT_FALSE(adapter.readUsage());
}

// A pretty-printed document cut by the start of the 512 KiB tail is skipped whole.
TEST(GeminiCliAdapter, DocumentCutByTheTailIsSkipped) {
    ScratchHome home;
    std::string log = "{\n  \"name\": \"gemini_cli.token.usage\",\n  \"dataPoints\": [\n";
    const std::string filler =
        "    {\n      \"attributes\": {\"model\": \"m\"},\n      \"value\": 1\n    },\n";
    while (log.size() < 600 * 1024) {
        log += filler;
    }
    log += "    {\n      \"attributes\": {\"type\": \"input\"},\n      \"value\": 999999\n    }\n  "
           "]\n}\n";
    log += "{\n  \"name\": \"gemini_cli.token.usage\",\n  \"attributes\": {\"type\": \"input\"},\n"
           "  \"value\": 12\n}\n";
    log += "{\n  \"name\": \"gemini_cli.token.usage\",\n  \"attributes\": {\"type\": \"output\"},\n"
           "  \"value\": 3\n}";
    home.write(".gemini/telemetry.log", log);
    const auto row = adapterFor(home).readUsage();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->usage.inputTokens, 12);
    EXPECT_EQ(row->usage.outputTokens, 3);
}

TEST(GeminiCliAdapter, OversizedSettingsCountAsPromptLoggingOff) {
    ScratchHome home;
    copyFixture(home, "gemini-otlp-lines");
    std::string settings = R"({"telemetry":{"logPrompts":true},"padding":")";
    settings.append(1'048'576, 'x');
    settings += "\"}";
    home.write(".gemini/settings.json", settings);
    const auto adapter = adapterFor(home);
    EXPECT_FALSE(adapter.promptLoggingEnabled());
    EXPECT_EQ(adapter.diagnose().trackingStatus, "Tracked without quota");
}

TEST(GeminiCliAdapter, PromptLoggingSettings) {
    struct Case {
        const char* settings;
        bool enabled;
    };
    const std::vector<Case> cases{
        {R"({"telemetry":{"logPrompts":true}})", true},
        {R"({"telemetry":{"logPrompts":"true"}})", false},
        {R"({"telemetry":{"logPrompts":1}})", false},
        {R"({"telemetry":{"logPrompts":null}})", false},
        {R"({"telemetry":true,"logPrompts":true})", false},
        {R"([{"telemetry":{"logPrompts":true}}])", false},
        {R"({"telemetry":{"logPrompts":true})", false},
        {"", false},
    };
    for (const auto& c : cases) {
        ScratchHome home;
        home.write(".gemini/settings.json", c.settings);
        const auto adapter = adapterFor(home);
        EXPECT_EQ(adapter.promptLoggingEnabled(), c.enabled) << c.settings;
        EXPECT_EQ(adapter.promptLoggingWarning().has_value(), c.enabled) << c.settings;
    }
}

// Broken telemetry files never crash and never yield tokens.
TEST(GeminiCliAdapter, BadTelemetryFiles) {
    struct Case {
        const char* what;
        std::string content;
    };
    std::string deep(5000, '[');
    deep += std::string(5000, ']');
    // As deep as the parser accepts: the walk recurses this far.
    std::string deepest;
    for (int i = 0; i < 500; ++i) {
        deepest += R"({"type":"input","value":1,"a":[)";
    }
    for (int i = 0; i < 500; ++i) {
        deepest += "]}";
    }
    const std::vector<Case> cases{
        {"empty", ""},
        {"invalid JSON", "{\"name\": \"gemini_cli.token.usage\", \n}}}\n"},
        {"invalid UTF-8",
         R"({"name":"gemini_cli.token.usage","attributes":{"type":"input"},"value":5,"x":")" +
             std::string("\xff\xfe") + "\"}\n"},
        {"number beyond 64 bits",
         R"({"name":"gemini_cli.token.usage","attributes":{"type":"thought"},"value":123456789012345678901234567890})"
         "\n"},
        {"nested thousands deep", deep + "\n"},
        {"nested as deep as parsed", deepest + "\n"},
        {"cut last line", R"({"name":"gemini_cli.token.usage","attributes":{"type":"input"},"val)"},
        {"one line longer than the tail",
         R"({"name":"gemini_cli.token.usage","attributes":{"type":"input"},"value":5,"pad":")" +
             std::string(600 * 1024, 'p') + "\"}\n"},
    };
    for (const auto& c : cases) {
        ScratchHome home;
        home.write(".gemini/telemetry.log", c.content);
        const auto adapter = adapterFor(home);
        const auto d = adapter.diagnose();
        EXPECT_EQ(d.trackingStatus, "Source found, parser needs sample") << c.what;
        EXPECT_FALSE(adapter.readUsage()) << c.what;
    }
}

TEST(GeminiCliAdapter, UnreadableTelemetryFile) {
    ScratchHome home;
    copyFixture(home, "gemini-otlp-lines");
    ASSERT_EQ(chmod((home / ".gemini/telemetry.log").c_str(), 0), 0);
    const auto adapter = adapterFor(home);
    const auto d = adapter.diagnose();
    EXPECT_TRUE(d.usageSourceFound);
    if (!testing::modesAreIgnored()) {
        EXPECT_EQ(d.trackingStatus, "Source found, parser needs sample");
        EXPECT_FALSE(adapter.readUsage());
    }
}

} // namespace
} // namespace korvo

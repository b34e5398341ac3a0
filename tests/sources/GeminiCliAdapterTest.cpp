#include "sources/GeminiCliAdapter.h"

#include "TestHome.h"

#include <gtest/gtest.h>
#include <map>

namespace korvo {
namespace {

using namespace korvo::testing;

constexpr Instant kNow = instantFromUnixSeconds(1790000000);

GeminiCliAdapter adapterFor(const ScratchHome& home) {
    return GeminiCliAdapter(home.path(), {home / "bin"}, fixedClock(kNow));
}

TEST(GeminiCliAdapter, DiagnosticLadder) {
    const std::string noCommand = "• command gemini: not found";
    const std::string settings = "~/.gemini/settings.json - found";
    const std::string telemetry = "~/.gemini/telemetry.log - found";
    const std::string noSettings = "~/.gemini/settings.json - missing";
    const std::string noTelemetry = "~/.gemini/telemetry.log - missing";
    const std::string tracked = "Gemini telemetry exposes token usage; subscription/API remaining "
                                "quota is not exposed as a stable local snapshot.";
    const std::vector<LadderCase> cases = {
        rung("prompt logging pauses collection", {"fixture gemini-log-prompts"},
             "Needs settings change",
             "Telemetry prompt logging is enabled; collection paused for privacy",
             "Set Gemini telemetry logPrompts=false before Korvo reads local telemetry token "
             "metrics.",
             kSource, {noCommand, settings, telemetry}),
        rung("OTLP lines", {"fixture gemini-otlp-lines"}, "Tracked without quota",
             "Local telemetry token data ready", tracked, kSource | kTokens,
             {noCommand, settings, telemetry}),
        rung("pretty-printed exports", {"fixture gemini-pretty-cumulative"},
             "Tracked without quota", "Local telemetry token data ready", tracked,
             kSource | kTokens, {noCommand, settings, telemetry}),
        rung("pretty-printed without token metrics", {"fixture gemini-pretty-no-token-metrics"},
             "Source found, parser needs sample",
             "Telemetry file found; token metrics not recognized",
             "Korvo found Gemini telemetry, but no gemini_cli.token.usage or "
             "gen_ai.client.token.usage metrics.",
             kSource, {noCommand, noSettings, telemetry}),
        rung("settings only, logPrompts as text",
             {"fixture gemini-settings-only", "exe bin/gemini"}, "Source found, no usage data",
             "Settings found; local telemetry not enabled",
             "Enable Gemini CLI local telemetry with prompt logging disabled to track token usage.",
             kCli | kSource, {"✓ command gemini: BIN/gemini", settings, noTelemetry}),
        rung("command only", {"exe bin/gemini"}, "CLI detected, no local data",
             "CLI installed; telemetry not configured",
             "Gemini CLI is installed, but Korvo did not find ~/.gemini/telemetry.log.", kCli,
             {"✓ command gemini: BIN/gemini", noSettings, noTelemetry}),
        rung("not executable is not a command", {"file bin/gemini=#!/bin/sh\n"}, "Not found",
             "No local Gemini CLI source found", {}, 0, {noCommand, noSettings, noTelemetry}),
        rung("directories in place of files",
             {"dir .gemini/telemetry.log", "dir .gemini/settings.json"}, "Not found",
             "No local Gemini CLI source found", {}, 0, {noCommand, noSettings, noTelemetry}),
        rung("nothing", {}, "Not found", "No local Gemini CLI source found", {}, 0,
             {noCommand, noSettings, noTelemetry}),
    };
    // Three cumulative exports and a second session: only the newest export of each series counts.
    const std::map<std::string, std::string> rows = {
        {"OTLP lines", "unknown cli_reported in=100 out=20 cached=7 label=local telemetry "
                       "text=[Thought 5 tokens] at=2024-12-05T00:00:03Z"},
        {"pretty-printed exports",
         "unknown cli_reported in=4010 out=1002 cached=1500 label=local telemetry text=[Thought "
         "120 tokens] at=2026-05-28T20:29:40.250Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchHome home;
        home.build(c.home);
        const auto adapter = adapterFor(home);
        const auto d = adapter.diagnose();
        EXPECT_EQ(d.id, "gemini-cli");
        EXPECT_EQ(d.displayName, "Gemini CLI");
        expectLadder(d, c.expected, home.path());
        EXPECT_EQ(d.warnings.size(), c.expected.tracking == "Needs settings change" ? 4u : 3u);
        EXPECT_EQ(d.warnings.front(),
                  "Gemini telemetry should be configured with logPrompts=false before parsing");
        EXPECT_EQ(d.warnings.back(), "Only sanitized token fields are collected");
        const auto row = adapter.readUsage();
        EXPECT_EQ(rowText(row), rows.contains(c.name) ? rows.at(c.name) : "none");
        if (row) {
            EXPECT_EQ(row->id + " / " + row->displayName, "gemini-cli / Gemini CLI");
            EXPECT_EQ(row->source, SourceType::localCli);
        }
    }
}

std::string inputPoint(const std::string& metric, int value = 1, const std::string& more = "") {
    return R"({"name":")" + metric + R"(","attributes":{"type":"input"},"value":)" +
           std::to_string(value) + more + "}\n";
}

std::string repeated(int count, const std::string& line) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += line;
    }
    return text;
}

// The last 2,000 documents count, whatever their lines; a name may be spelled with escapes.
TEST(GeminiCliAdapter, DocumentsThatCount) {
    const auto series = [](int end, int value) {
        return inputPoint("gemini_cli.token.usage", value,
                          R"(,"startTimeUnixNano":"1","timeUnixNano":)" + std::to_string(end));
    };
    const std::string point = inputPoint("gemini_cli.token.usage");
    const std::string other = inputPoint("other");
    const std::string pad(600 * 1024, 'p');
    const std::vector<std::tuple<const char*, std::string, double>> cases{
        {"3,000 documents", repeated(3000, point), 2000},
        {"lines that are no documents", repeated(2000, point) + repeated(700, "x\n"), 2000},
        {"escaped name", inputPoint(R"(gemini_cli.token\u002eusage)", 5) + other, 5},
        {"cut by the tail",
         inputPoint("gemini_cli.token.usage", 9, ",\n\"p\":\"" + pad + "\"") + point, 1},
        {"newest of a series outside the window",
         series(200, 9) + repeated(1999, other) + series(100, 3), 3},
        {"newest of a series inside the window",
         series(200, 9) + repeated(1998, other) + series(100, 3), 9},
    };
    for (const auto& [what, log, input] : cases) {
        ScratchHome home;
        home.write(".gemini/telemetry.log", log);
        EXPECT_EQ(adapterFor(home).readUsage().value_or(ProviderUsage{}).usage.inputTokens, input)
            << what;
    }
}

TEST(GeminiCliAdapter, PromptLoggingSettings) {
    struct Case {
        std::string settings;
        bool enabled;
    };
    // Over the 1 MiB limit the file is not read, so prompt logging counts as off.
    const std::string oversized =
        R"({"telemetry":{"logPrompts":true},"padding":")" + std::string(1'048'576, 'x') + "\"}";
    const std::vector<Case> cases{
        {R"({"telemetry":{"logPrompts":true}})", true},
        {R"({"telemetry":{"logPrompts":"true"}})", false},
        {R"({"telemetry":{"logPrompts":1}})", false},
        {R"({"telemetry":{"logPrompts":null}})", false},
        {R"({"telemetry":true,"logPrompts":true})", false},
        {R"([{"telemetry":{"logPrompts":true}}])", false},
        {R"({"telemetry":{"logPrompts":true})", false},
        {"", false},
        {oversized, false},
    };
    for (const auto& c : cases) {
        ScratchHome home;
        home.build({"fixture gemini-otlp-lines"});
        home.write(".gemini/settings.json", c.settings);
        const auto adapter = adapterFor(home);
        const auto shown = c.settings.substr(0, 60);
        EXPECT_EQ(adapter.promptLoggingEnabled(), c.enabled) << shown;
        EXPECT_EQ(adapter.diagnose().trackingStatus,
                  c.enabled ? "Needs settings change" : "Tracked without quota")
            << shown;
    }
}

// Broken telemetry files never crash and never yield tokens.
TEST(GeminiCliAdapter, BadTelemetryFiles) {
    const std::string metric = R"({"name":"gemini_cli.token.usage","attributes":{"type":"input"},)";
    // As deep as the parser accepts: the walk recurses this far.
    const std::string deepest =
        repeated(500, R"({"type":"input","value":1,"a":[)") + repeated(500, "]}");
    const std::vector<std::pair<const char*, std::string>> cases{
        {"empty", ""},
        {"invalid JSON", "{\"name\": \"gemini_cli.token.usage\", \n}}}\n"},
        {"invalid UTF-8", metric + R"("value":5,"x":")" + "\xff\xfe\"}\n"},
        {"number beyond 64 bits",
         R"({"name":"gemini_cli.token.usage","attributes":{"type":"thought"},"value":123456789012345678901234567890})"
         "\n"},
        {"nested thousands deep", std::string(5000, '[') + std::string(5000, ']') + "\n"},
        {"nested as deep as parsed", deepest + "\n"},
        {"cut last line", metric + R"("val)"},
        {"one line longer than the tail",
         metric + R"("value":5,"pad":")" + std::string(600 * 1024, 'p') + "\"}\n"},
        {"token metrics only before the last 2,000 documents",
         repeated(500, inputPoint("gemini_cli.token.usage")) +
             repeated(2000, inputPoint("gemini_cli.api.request.count"))},
        {"unreadable", "mode 000"},
    };
    for (const auto& [what, content] : cases) {
        ScratchHome home;
        if (content == "mode 000") {
            if (modesAreIgnored()) {
                continue;
            }
            home.build({"fixture gemini-otlp-lines"});
            ::chmod((home / ".gemini/telemetry.log").c_str(), 0);
        } else {
            home.write(".gemini/telemetry.log", content);
        }
        const auto adapter = adapterFor(home);
        EXPECT_EQ(adapter.diagnose().trackingStatus, "Source found, parser needs sample") << what;
        EXPECT_FALSE(adapter.readUsage()) << what;
    }
}

} // namespace
} // namespace korvo

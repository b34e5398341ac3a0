#include "sources/adapters/GeminiCliAdapter.h"

#include "AdapterCases.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::test;

GeminiCliAdapter adapterFor(const std::filesystem::path& home,
                            std::map<std::string, std::string, std::less<>> env = {}) {
    // The system settings stay inside the test's home unless a case moves them.
    env.try_emplace("GEMINI_CLI_SYSTEM_SETTINGS_PATH",
                    (home / "etc/gemini-cli/settings.json").string());
    return GeminiCliAdapter(home, {home / "bin"}, fixedClock(kFixtureNow),
                            fixedEnvironment(std::move(env)));
}

// Each home's row and ladder rung; the warnings, which depend on the settings, are checked below.
TEST(GeminiCliAdapter, RowAndLadderOfEachHome) {
    const std::string noCommand = "• command gemini: not found";
    const std::string settings = "~/.gemini/settings.json - found";
    const std::string telemetry = "~/.gemini/telemetry.log - found";
    const std::string noSettings = "~/.gemini/settings.json - missing";
    const std::string noTelemetry = "~/.gemini/telemetry.log - missing";
    const std::string tracked = "Gemini telemetry exposes token usage; subscription/API remaining "
                                "quota is not exposed as a stable local snapshot.";
    const std::vector<RowCase> cases = {
        {rung("prompt logging pauses collection", {"fixture gemini-log-prompts"},
              "Needs settings change",
              "Telemetry prompt logging is enabled; collection paused for privacy",
              "Set Gemini telemetry logPrompts=false before Korvo reads local telemetry token "
              "metrics.",
              kSource, {noCommand, settings, telemetry}),
         "none"},
        {rung("OTLP lines", {"fixture gemini-otlp-lines"}, "Tracked without quota",
              "Local telemetry token data ready", tracked, kSource | kTokens,
              {noCommand, settings, telemetry}),
         "unknown cli_reported in=100 out=20 cached=7 label=local telemetry text=[Thought 5 "
         "tokens] at=2024-12-05T00:00:03Z"},
        // Three cumulative exports and a second session: only the newest export of each series
        // counts.
        {rung("pretty-printed exports", {"fixture gemini-pretty-cumulative"},
              "Tracked without quota", "Local telemetry token data ready", tracked,
              kSource | kTokens, {noCommand, settings, telemetry}),
         "unknown cli_reported in=4010 out=1002 cached=1500 label=local telemetry text=[Thought "
         "120 tokens] at=2026-05-28T20:29:40.250Z"},
        // Both metrics record every response: the CLI's own counts, the generic one does not add.
        // The settings carry comments and trailing commas and point at a file under ~/.
        {rung("both metrics, outfile under home", {"fixture gemini-both-metrics"},
              "Tracked without quota", "Local telemetry token data ready", tracked,
              kSource | kTokens, {noCommand, settings, "~/logs/gemini-otel.json - found"}),
         "unknown cli_reported in=2600 out=450 cached=800 label=local telemetry text=[Thought 90 "
         "tokens · Tool 25 tokens] at=2026-01-05T08:40:20.500Z"},
        {{"generic metric only", {"fixture gemini-generic-metric-only"}, {}},
         "unknown cli_reported in=2600 out=450 label=local telemetry at=2026-01-05T08:40:20.500Z"},
        {rung("settings that cannot be read",
              {"fixture gemini-otlp-lines",
               R"(file .gemini/settings.json={"telemetry": {"enabled": true, "logPrompts": false)"},
              "Needs settings change", "Settings unreadable; collection paused for privacy",
              "Korvo could not read ~/.gemini/settings.json as JSON, so it cannot tell whether "
              "Gemini telemetry logs prompts; the telemetry file is left unread.",
              kSource, {noCommand, settings, telemetry}),
         "none"},
        {rung("relative outfile",
              {R"(file .gemini/settings.json={"telemetry":{"enabled":true,"logPrompts":false,)"
               R"("outfile":"logs/otel.json"}})"},
              "Needs settings change", "Telemetry outfile is relative; Korvo cannot locate it",
              "Gemini telemetry.outfile \"logs/otel.json\" is relative to the folder Gemini "
              "starts in; make it absolute (or start it with ~/) so Korvo can read it.",
              kSource,
              {noCommand, settings, noTelemetry,
               "telemetry.outfile logs/otel.json - relative path, not resolved"}),
         "none"},
        {rung("pretty-printed without token metrics", {"fixture gemini-pretty-no-token-metrics"},
              "Source found, parser needs sample",
              "Telemetry file found; token metrics not recognized",
              "Korvo found Gemini telemetry, but no gemini_cli.token.usage or "
              "gen_ai.client.token.usage metrics.",
              kSource, {noCommand, noSettings, telemetry}),
         "none"},
        {rung("settings only, telemetry off", {"fixture gemini-settings-only", "exe bin/gemini"},
              "Source found, no usage data", "Settings found; local telemetry not enabled",
              "Enable Gemini CLI local telemetry with prompt logging disabled to track token "
              "usage.",
              kCli | kSource, {"✓ command gemini: BIN/gemini", settings, noTelemetry}),
         "none"},
        {rung("command only", {"exe bin/gemini"}, "CLI detected, no local data",
              "CLI installed; telemetry not configured",
              "Gemini CLI is installed, but Korvo did not find ~/.gemini/telemetry.log.", kCli,
              {"✓ command gemini: BIN/gemini", noSettings, noTelemetry}),
         "none"},
        {rung("directories in place of files",
              {"dir .gemini/telemetry.log", "dir .gemini/settings.json"}, "Not found",
              "No local Gemini CLI source found", {}, 0, {noCommand, noSettings, noTelemetry}),
         "none"},
    };
    expectRowsAndRungs(
        cases, [](const std::filesystem::path& home) { return adapterFor(home); },
        "gemini-cli / Gemini CLI", std::nullopt);
}

// Prompt logging as the CLI decides it: logPrompts by its truth, its default (on) while telemetry
// is enabled; settings read after their comments and trailing commas are stripped, strings kept
// whole. A settings file that cannot be read (broken, not an object, over 1 MiB, a comment left
// open) leaves the telemetry unread too.
TEST(GeminiCliAdapter, PromptLoggingSettings) {
    enum Verdict { logging, tracked, unreadable };
    const std::vector<std::pair<std::string, Verdict>> cases{
        {R"({"telemetry":{"logPrompts":true}})", logging},
        {R"({"telemetry":{"enabled":true}})", logging},
        {R"({"telemetry":{"enabled":true,"logPrompts":null}})", logging},
        {R"({"telemetry":{"enabled":true,"logPrompts":"false"}})", logging},
        {R"({"telemetry":{"enabled":false,"logPrompts":"true"}})", logging},
        {R"({"telemetry":{"enabled":true,"logPrompts":0}})", tracked},
        {R"({"telemetry":{"enabled":false}})", tracked},
        {R"({"telemetry":{}})", tracked},
        {R"({"telemetry":true,"logPrompts":true})", tracked},
        {"// mine\n{\"telemetry\": {/* on */ \"enabled\": true, \"logPrompts\": false,},}\n",
         tracked},
        {"{\"telemetry\": {\"enabled\": true, // \"logPrompts\": false\n}}", logging},
        {R"({"theme":"a//b/*c*/,}","telemetry":{"enabled":true,"logPrompts":false}})", tracked},
        {R"({"q":"\" // ","telemetry":{/* , } */"enabled":false,"b":[1,2,],},})", tracked},
        {R"({"telemetry":{"enabled":true,"log/*x*/Prompts":false}})", logging},
        {R"({"telemetry":{"enabled":false} /* }})", unreadable}, // the rest is blanked, not misread
        {R"([{"telemetry":{"logPrompts":true}}])", unreadable},
        {R"({"telemetry":{"logPrompts":true})", unreadable},
        {R"({"telemetry":{"logPrompts":false},"padding":")" + std::string(1'048'576, 'x') + "\"}",
         unreadable},
    };
    for (const auto& [settings, verdict] : cases) {
        SCOPED_TRACE(settings.substr(0, 60));
        TestHome home;
        home.build({"fixture gemini-otlp-lines"});
        home.write(".gemini/settings.json", settings);
        const auto adapter = adapterFor(home.path());
        EXPECT_EQ(adapter.promptLoggingEnabled(), verdict == logging);
        EXPECT_EQ(adapter.readUsage().row.has_value(), verdict == tracked);
        const auto d = adapter.diagnose();
        EXPECT_EQ(d.summary,
                  verdict == logging
                      ? "Telemetry prompt logging is enabled; collection paused for privacy"
                  : verdict == unreadable ? "Settings unreadable; collection paused for privacy"
                                          : "Local telemetry token data ready");
        std::vector<std::string> warnings{
            "Gemini telemetry should be configured with logPrompts=false before parsing",
            "Detailed traces may include prompts or tool output; Korvo parses token metrics only",
            "Only sanitized token fields are collected"};
        if (verdict == logging) {
            warnings.insert(warnings.end() - 1, "Gemini telemetry logPrompts is true; set it to "
                                                "false before using Korvo telemetry parsing.");
        }
        EXPECT_EQ(d.warnings, warnings);
    }
}

// The connector cannot see Gemini's command line, environment or project settings, so the file
// itself is checked: a record holding prompt, request or response text stops the read, whatever
// the settings in sight say. The settings in sight resolve as the CLI resolves them: system
// defaults < user < system settings < GEMINI_TELEMETRY_* variables; GEMINI_CLI_HOME moves the
// user's folder.
TEST(GeminiCliAdapter, PromptsWhereverTheyAreLogged) {
    const std::string tracked = "Local telemetry token data ready";
    const std::string promptRecord = "Telemetry holds prompt text; collection paused for privacy";
    const std::string logging =
        "Telemetry prompt logging is enabled; collection paused for privacy";
    const std::string row = "unknown cli_reported in=100 out=20 cached=7 label=local telemetry "
                            "text=[Thought 5 tokens] at=2024-12-05T00:00:03Z";
    const std::string otlpRecord =
        R"({"resourceLogs":[{"scopeLogs":[{"logRecords":[{"attributes":[{"key":"event.name",)"
        R"("value":{"stringValue":"gemini_cli.api_response"}},{"key":"KEY","value":)"
        R"({"stringValue":"SECRET-PROMPT answer"}}]}]}]}]})";
    const auto withKey = [&](const std::string& key) {
        std::string record = otlpRecord;
        record.replace(record.find("KEY"), 3, key);
        return "file .gemini/telemetry.log=" + record + "\n" + "{\"resourceMetrics\":[]}\n";
    };
    const std::string on = R"({"telemetry":{"enabled":true,"logPrompts":true}})";
    const std::string off = R"({"telemetry":{"enabled":true,"logPrompts":false}})";
    using Env = std::map<std::string, std::string, std::less<>>;
    struct Case {
        std::string what;
        std::vector<std::string> steps;
        Env env;
        std::string summary;
        std::string row; // "none" for no row
    };
    const std::vector<Case> cases{
        {"a user prompt record under logPrompts false",
         {"fixture gemini-prompt-records"},
         {},
         promptRecord,
         "none"},
        {"the same telemetry without it", {"fixture gemini-otlp-lines"}, {}, tracked, row},
        {"system settings turn prompt logging on",
         {"fixture gemini-otlp-lines", "file etc/gemini-cli/settings.json=" + on},
         {},
         logging,
         "none"},
        {"system settings turn it off over the user's",
         {"fixture gemini-otlp-lines", "file .gemini/settings.json=" + on,
          "file etc/gemini-cli/settings.json=" + off},
         {},
         tracked,
         row},
        {"system defaults yield to the user's settings",
         {"fixture gemini-otlp-lines", "file etc/gemini-cli/system-defaults.json=" + on},
         {},
         tracked,
         row},
        {"system settings elsewhere",
         {"fixture gemini-otlp-lines", "file opt/gemini.json=" + on},
         {{"GEMINI_CLI_SYSTEM_SETTINGS_PATH", "OPT"}},
         logging,
         "none"},
        {"unreadable system settings",
         {"fixture gemini-otlp-lines", "file etc/gemini-cli/settings.json={"},
         {},
         "Settings unreadable; collection paused for privacy",
         "none"},
        {"the variable turns it on",
         {"fixture gemini-otlp-lines"},
         {{"GEMINI_TELEMETRY_LOG_PROMPTS", "1"}},
         logging,
         "none"},
        {"the variable turns it off",
         {"fixture gemini-otlp-lines", "file .gemini/settings.json=" + on},
         {{"GEMINI_TELEMETRY_LOG_PROMPTS", "false"}},
         tracked,
         row},
        {"the outfile variable",
         {"dir .gemini", "fixture gemini-otlp-lines", "file .gemini/settings.json=" + off,
          "file .gemini/moved.log={\"resourceMetrics\":[]}"},
         {{"GEMINI_TELEMETRY_OUTFILE", "MOVED"}},
         "Telemetry file found; token metrics not recognized",
         "none"},
        {"GEMINI_CLI_HOME moves the folder",
         {"file alt/.gemini/settings.json=" + off, "file .gemini/settings.json=" + on},
         {{"GEMINI_CLI_HOME", "ALT"}},
         "Settings found; local telemetry not enabled",
         "none"},
        {"GEMINI_CLI_HOME with prompt logging on",
         {"file alt/.gemini/settings.json=" + on, "file .gemini/settings.json=" + off},
         {{"GEMINI_CLI_HOME", "ALT"}},
         logging,
         "none"},
        {"request text",
         {"file .gemini/settings.json=" + off, withKey("request_text")},
         {},
         promptRecord,
         "none"},
        {"response text",
         {"file .gemini/settings.json=" + off, withKey("response_text")},
         {},
         promptRecord,
         "none"},
        {"semantic input messages",
         {"file .gemini/settings.json=" + off, withKey("gen_ai.input.messages")},
         {},
         promptRecord,
         "none"},
        {"tool arguments",
         {"file .gemini/settings.json=" + off, withKey("function_args")},
         {},
         promptRecord,
         "none"},
        {"lengths only",
         {"file .gemini/settings.json=" + off, withKey("prompt_length")},
         {},
         "Telemetry file found; token metrics not recognized",
         "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestHome home;
        home.build(c.steps);
        Env env = c.env;
        for (auto& [name, value] : env) {
            if (value == "OPT") {
                value = (home / "opt/gemini.json").string();
            } else if (value == "ALT") {
                value = (home / "alt").string();
            } else if (value == "MOVED") {
                value = (home / ".gemini/moved.log").string();
            }
        }
        const auto adapter = adapterFor(home.path(), env);
        const auto reading = adapter.readUsage();
        EXPECT_EQ(rowText(reading.row), c.row);
        const auto d = adapter.diagnose();
        EXPECT_EQ(d.summary, c.summary);
        // No prompt text reaches any output.
        std::string all = rowText(reading.row);
        for (const auto& line : d.detailLines()) {
            all += line;
        }
        for (const auto& line : d.checkedPaths) {
            all += line;
        }
        EXPECT_EQ(all.find("SECRET-PROMPT"), std::string::npos);
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

// The input tokens of each telemetry log (0: no row, and diagnose asks for a sample). The last
// 2,000 documents count, whatever their lines; a name may be spelled with escapes; broken
// documents never crash and never yield tokens.
TEST(GeminiCliAdapter, TelemetryDocumentsThatCount) {
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
        // The generic metric counts only without the CLI's own, wherever they are.
        {"both metrics", inputPoint("gen_ai.client.token.usage", 7) + point, 1},
        {"cut by the tail",
         inputPoint("gemini_cli.token.usage", 9, ",\n\"p\":\"" + pad + "\"") + point, 1},
        {"newest of a series outside the window",
         series(200, 9) + repeated(1999, other) + series(100, 3), 3},
        {"newest of a series inside the window",
         series(200, 9) + repeated(1998, other) + series(100, 3), 9},
        {"token metrics only before the last 2,000 documents",
         repeated(500, point) + repeated(2000, inputPoint("gemini_cli.api.request.count")), 0},
        {"empty", "", 0},
        {"invalid JSON", "{\"name\": \"gemini_cli.token.usage\", \n}}}\n", 0},
        {"cut last line", R"({"name":"gemini_cli.token.usage","attributes":{"type":"input"},"val)",
         0},
        {"nested thousands deep", std::string(5000, '[') + std::string(5000, ']') + "\n", 0},
        // As deep as the parser accepts: the walk recurses this far.
        {"nested as deep as parsed",
         repeated(500, R"({"type":"input","value":1,"a":[)") + repeated(500, "]}") + "\n", 0},
    };
    for (const auto& [what, log, input] : cases) {
        TestHome home;
        home.write(".gemini/telemetry.log", log);
        const auto adapter = adapterFor(home.path());
        const auto row = adapter.readUsage().row;
        EXPECT_EQ(row ? row->usage.inputTokens.value_or(-1) : 0, input) << what;
        EXPECT_EQ(adapter.diagnose().trackingStatus,
                  input > 0 ? "Tracked without quota" : "Source found, parser needs sample")
            << what;
    }
}

} // namespace
} // namespace korvo

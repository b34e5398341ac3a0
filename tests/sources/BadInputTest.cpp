#include "AdapterCases.h"
#include "sources/adapters/ClaudeCodeAdapter.h"
#include "sources/adapters/CodexAdapter.h"
#include "sources/io/FileReaders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace korvo {
namespace {

using namespace korvo::test;

const std::string kClaudeLine =
    R"({"type":"assistant","timestamp":"2026-01-05T08:00:00Z","message":{"usage":{"input_tokens":42,"output_tokens":4}}})";
const std::string kCodexLine =
    R"({"timestamp":"2026-01-05T08:00:00Z","type":"event_msg","payload":{"type":"token_count","info":{"total_token_usage":{"input_tokens":42,"output_tokens":4}},"rate_limits":null}})";
const std::string kClaudeLog = ".claude/projects/p/log.jsonl";
const std::string kCodexLog = ".codex/sessions/log.jsonl";

std::string nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += R"({"a":)";
    }
    return text + R"({"input_tokens":9})" + std::string(static_cast<std::size_t>(depth), '}');
}

// Both adapters' logs: `before`, each adapter's own good line, then `after`.
std::vector<std::string> aroundGoodLines(const std::string& before, const std::string& after) {
    return {"file " + kClaudeLog + "=" + before + kClaudeLine + "\n" + after,
            "file " + kCodexLog + "=" + before + kCodexLine + "\n" + after};
}

// What an adapter makes of a home: its ladder rung, its row and the source it could not use, on
// one line.
template <class Adapter> std::string outcome(const TestHome& home) {
    const Adapter adapter(home.path(), {}, fixedClock(kFixtureNow), fixedEnvironment({}));
    const UsageReading reading = adapter.readUsage();
    return adapter.diagnose().trackingStatus + " | " + rowText(reading.row) +
           (reading.error ? " | " + reading.error->text() : "");
}

template <class Adapter> std::vector<std::string> pathsAfterCommand(const TestHome& home) {
    const auto lines = Adapter(home.path(), {}, fixedClock(kFixtureNow), fixedEnvironment({}))
                           .diagnose()
                           .checkedPaths;
    return {lines.begin() + 1, lines.end()};
}

TEST(BadInput, AdaptersDegradeWithoutThrowing) {
    const std::string tokens42 =
        "Tracked without quota | unknown cli_reported in=42 out=4 at=2026-01-05T08:00:00Z";
    const std::string claudeRow = "unknown inferred text=[Local Claude Code logs detected; usage "
                                  "format not recognized yet] at=2026-01-05T09:00:00Z";
    const std::string claudePlaceholder = "Source found, parser needs sample | " + claudeRow;
    const std::string codexPlaceholder =
        "Source found, parser needs sample | unknown inferred text=[Local Codex state detected; "
        "usage format not recognized yet] at=2026-01-05T09:00:00Z";
    const std::string huge =
        R"({"timestamp":"2026-01-05T08:30:00Z","input_tokens":123456789012345678901234567890})"
        "\n"
        R"({"timestamp":"2026-01-05T08:40:00Z","input_tokens":"1e999","cost":1e999})"
        "\n";
    // A newer good line, then invalid UTF-8: the whole log is discarded.
    const std::string badText = R"({"timestamp":"2026-01-05T08:50:00Z","input_tokens":7})"
                                "\n"
                                R"({"timestamp":"2026-01-05T08:51:00Z","x":")"
                                "\xC3\x28"
                                R"("})"
                                "\n";
    std::vector<std::string> manyLogs;
    for (int i = 0; i < 510; ++i) {
        manyLogs.push_back("file .claude/projects/p/" + std::to_string(i) + ".jsonl");
        manyLogs.push_back("file .codex/sessions/" + std::to_string(i) + ".jsonl");
    }
    struct Case {
        const char* name;
        std::vector<std::string> home;
        std::string claude, codex;
        std::vector<std::string> claudePaths = {}, codexPaths = {}; // after the command line
    };
    const std::vector<Case> cases = {
        // Deeper nesting than the parser allows, numbers beyond 64 bits and beyond double, and a
        // last line cut in half give nothing; the good line between them still counts.
        {"broken lines around a good one",
         aroundGoodLines(nested(5000) + "\n",
                         huge + R"({"timestamp":"2026-01-05T08:59:00Z","input_tokens":5,"out)"),
         tokens42, tokens42},
        {"nesting just inside the parser's depth",
         {"file " + kClaudeLog + "=" + nested(1000), "file " + kCodexLog + "=" + nested(1000)},
         "Tracked without quota | unknown cli_reported in=9 at=2026-01-05T09:00:00Z",
         "Tracked without quota | unknown cli_reported in=9 at=2026-01-05T09:00:00Z"},
        {"invalid UTF-8 in one log discards that log's newer good lines too",
         {"file .claude/projects/p/bad.jsonl=" + badText,
          "file .claude/projects/p/good.jsonl=" + kClaudeLine + "\n",
          "file .codex/sessions/bad.jsonl=" + badText,
          "file .codex/sessions/good.jsonl=" + kCodexLine + "\n"},
         tokens42,
         tokens42},
        {"empty files everywhere",
         {"file .korvo/claude-statusline.json", "file .claude/usage-status.json",
          "file " + kClaudeLog, "file " + kCodexLog, "file .codex/state_5.sqlite"},
         "Source found, no usage data | " + claudeRow +
             " | ~/.korvo/claude-statusline.json is not valid JSON",
         codexPlaceholder},
        {"folders where files belong and files where folders belong",
         {"dir .korvo/claude-statusline.json", "dir .claude/usage-status.json",
          "file .claude/projects=" + kClaudeLine, "file .codex/sessions=" + kCodexLine,
          "dir .codex/state_5.sqlite"},
         "Not found | none",
         "Not found | none",
         {"~/.korvo/claude-statusline.json - missing", "~/.claude/usage-status.json - missing",
          "~/.claude/projects - missing, 0 jsonl files"},
         {"~/.codex/sessions - missing, 0 jsonl files", "~/.codex/state_5.sqlite - missing"}},
        {"more log files than the count stops at",
         manyLogs,
         claudePlaceholder,
         codexPlaceholder,
         {"~/.korvo/claude-statusline.json - missing", "~/.claude/usage-status.json - missing",
          "~/.claude/projects - found, 500 jsonl files"},
         {"~/.codex/sessions - found, 500 jsonl files", "~/.codex/state_5.sqlite - missing"}},
        // Nothing can be read, but the bridge file and the logs are there: a log that cannot be
        // opened still counts as a log, so each adapter gives its placeholder row.
        {"unreadable files",
         {"file .korvo/claude-statusline.json={\"used_percent\":5}",
          "file .claude/projects/p/a.jsonl=" + kClaudeLine,
          "file .codex/sessions/a.jsonl=" + kCodexLine, "dir .codex/sessions/locked",
          "mode000 .korvo/claude-statusline.json", "mode000 .claude/projects/p/a.jsonl",
          "mode000 .codex/sessions/a.jsonl", "mode000 .codex/sessions/locked"},
         "Source found, no usage data | " + claudeRow +
             " | ~/.korvo/claude-statusline.json could not be read",
         codexPlaceholder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.name == std::string("unreadable files") && modesAreIgnored()) {
            continue; // file modes do not restrict this user
        }
        TestHome home;
        home.build(c.home);
        EXPECT_EQ(outcome<ClaudeCodeAdapter>(home), c.claude);
        EXPECT_EQ(outcome<CodexAdapter>(home), c.codex);
        if (!c.claudePaths.empty()) {
            EXPECT_EQ(pathsAfterCommand<ClaudeCodeAdapter>(home), c.claudePaths);
            EXPECT_EQ(pathsAfterCommand<CodexAdapter>(home), c.codexPaths);
        }
    }
}

} // namespace
} // namespace korvo

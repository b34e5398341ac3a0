#include "TestHome.h"
#include "sources/ClaudeCodeAdapter.h"
#include "sources/CodexAdapter.h"
#include "sources/FileReaders.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace korvo {
namespace {

using namespace korvo::testing;

const std::string kClaudeLine =
    R"({"type":"assistant","timestamp":"2026-01-05T08:00:00Z","message":{"usage":{"input_tokens":42,"output_tokens":4}}})";
const std::string kCodexLine =
    R"({"timestamp":"2026-01-05T08:00:00Z","type":"event_msg","payload":{"type":"token_count","info":{"total_token_usage":{"input_tokens":42,"output_tokens":4}},"rate_limits":null}})";

std::string nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += R"({"a":)";
    }
    text += R"({"input_tokens":9})";
    text += std::string(static_cast<std::size_t>(depth), '}');
    return text;
}

// What both adapters report for one damaged home.
struct Outcome {
    std::optional<ProviderUsage> row;
    AdapterDiagnostic diagnostic;
};

struct Case {
    const char* name;
    std::function<void(const ScratchHome&)> build;
    std::function<void(const Outcome& claude, const Outcome& codex)> check;
};

std::vector<Case> badHomes() {
    const auto inputIs = [](std::optional<double> expected) {
        return [expected](const Outcome& claude, const Outcome& codex) {
            ASSERT_TRUE(claude.row);
            ASSERT_TRUE(codex.row);
            EXPECT_EQ(claude.row->usage.inputTokens, expected);
            EXPECT_EQ(codex.row->usage.inputTokens, expected);
        };
    };
    const auto placeholders = [](const Outcome& claude, const Outcome& codex) {
        ASSERT_TRUE(claude.row);
        ASSERT_TRUE(codex.row);
        EXPECT_EQ(claude.row->confidence, Confidence::inferred);
        EXPECT_EQ(codex.row->confidence, Confidence::inferred);
        EXPECT_EQ(claude.diagnostic.trackingStatus, "Source found, parser needs sample");
        EXPECT_EQ(codex.diagnostic.trackingStatus, "Source found, parser needs sample");
    };
    const auto writeBoth = [](const ScratchHome& home, const std::string& content) {
        home.write(".claude/projects/p/log.jsonl", content);
        home.write(".codex/sessions/log.jsonl", content);
    };
    return {
        {"symlink loops below the log folders",
         [=](const ScratchHome& home) {
             home.write(".claude/projects/p/a.jsonl", kClaudeLine + "\n");
             home.write(".codex/sessions/2026/a.jsonl", kCodexLine + "\n");
             std::filesystem::create_directory_symlink(home / ".claude/projects",
                                                       home / ".claude/projects/p/loop");
             std::filesystem::create_directory_symlink(home / ".codex",
                                                       home / ".codex/sessions/2026/up");
         },
         [=](const Outcome& claude, const Outcome& codex) {
             inputIs(42)(claude, codex);
             EXPECT_EQ(claude.diagnostic.checkedPaths[3],
                       "~/.claude/projects - found, 1 jsonl files");
             EXPECT_EQ(codex.diagnostic.checkedPaths[1],
                       "~/.codex/sessions - found, 1 jsonl files");
         }},
        {"a last line cut in half",
         [=](const ScratchHome& home) {
             home.write(".claude/projects/p/a.jsonl",
                        kClaudeLine + "\n" + kClaudeLine.substr(0, kClaudeLine.size() / 2));
             home.write(".codex/sessions/a.jsonl",
                        kCodexLine + "\n" + kCodexLine.substr(0, kCodexLine.size() / 2));
         },
         inputIs(42)},
        {"one line longer than the tail window",
         [=](const ScratchHome& home) {
             const std::string longLine = R"({"message":{"usage":{"input_tokens":1}},"pad":")" +
                                          std::string(kTailWindowBytes, 'x') + "\"}\n";
             writeBoth(home, longLine);
         },
         placeholders},
        {"usage only before the tail window of a 2 MB log",
         [=](const ScratchHome& home) {
             std::string text = kClaudeLine + "\n" + kCodexLine + "\n";
             const std::string filler =
                 R"({"type":"noise","text":")" + std::string(1000, 'n') + "\"}\n";
             while (text.size() < 2'000'000) {
                 text += filler;
             }
             writeBoth(home, text);
         },
         placeholders},
        {"nesting deeper than the parser allows, beside a good line",
         [=](const ScratchHome& home) {
             home.write(".claude/projects/p/a.jsonl", nested(5000) + "\n" + kClaudeLine + "\n");
             home.write(".codex/sessions/a.jsonl", nested(5000) + "\n" + kCodexLine + "\n");
         },
         inputIs(42)},
        {"nesting just inside the parser's depth",
         [=](const ScratchHome& home) { writeBoth(home, nested(1000) + "\n"); }, inputIs(9)},
        {"numbers beyond 64 bits and beyond double",
         [=](const ScratchHome& home) {
             const std::string huge =
                 R"({"timestamp":"2026-01-05T08:30:00Z","input_tokens":123456789012345678901234567890})"
                 "\n"
                 R"({"timestamp":"2026-01-05T08:40:00Z","input_tokens":"1e999","cost":1e999})"
                 "\n";
             home.write(".claude/projects/p/a.jsonl", kClaudeLine + "\n" + huge);
             home.write(".codex/sessions/a.jsonl", kCodexLine + "\n" + huge);
         },
         inputIs(42)},
        {"invalid UTF-8 in one log discards that log's newer good lines too",
         [=](const ScratchHome& home) {
             const std::string newer = R"({"timestamp":"2026-01-05T08:50:00Z","input_tokens":7})"
                                       "\n";
             home.write(".claude/projects/p/bad.jsonl",
                        newer + R"({"timestamp":"2026-01-05T08:51:00Z","x":")"
                                "\xC3\x28"
                                R"("})"
                                "\n");
             home.write(".claude/projects/p/good.jsonl", kClaudeLine + "\n");
             home.write(".codex/sessions/bad.jsonl",
                        newer + R"({"timestamp":"2026-01-05T08:51:00Z","x":")"
                                "\xFF"
                                R"("})"
                                "\n");
             home.write(".codex/sessions/good.jsonl", kCodexLine + "\n");
         },
         inputIs(42)},
        {"empty files everywhere",
         [=](const ScratchHome& home) {
             home.write(".korvo/claude-statusline.json", "");
             home.write(".claude/usage-status.json", "");
             writeBoth(home, "");
             home.write(".codex/state_5.sqlite", "");
         },
         [](const Outcome& claude, const Outcome& codex) {
             EXPECT_EQ(claude.diagnostic.trackingStatus, "Source found, no usage data");
             EXPECT_EQ(codex.diagnostic.trackingStatus, "Source found, parser needs sample");
             ASSERT_TRUE(claude.row);
             EXPECT_EQ(claude.row->confidence, Confidence::inferred);
             ASSERT_TRUE(codex.row);
             EXPECT_EQ(codex.row->confidence, Confidence::inferred);
         }},
        {"folders where files belong and files where folders belong",
         [=](const ScratchHome& home) {
             home.mkdir(".korvo/claude-statusline.json");
             home.mkdir(".claude/usage-status.json");
             home.write(".claude/projects", kClaudeLine);
             home.write(".codex/sessions", kCodexLine);
             home.mkdir(".codex/state_5.sqlite");
         },
         [](const Outcome& claude, const Outcome& codex) {
             EXPECT_FALSE(claude.row);
             EXPECT_FALSE(codex.row);
             EXPECT_EQ(claude.diagnostic.trackingStatus, "Not found");
             EXPECT_EQ(codex.diagnostic.trackingStatus, "Not found");
             EXPECT_EQ(claude.diagnostic.checkedPaths[1],
                       "~/.korvo/claude-statusline.json - missing");
             EXPECT_EQ(codex.diagnostic.checkedPaths[2], "~/.codex/state_5.sqlite - missing");
         }},
        {"a pipe where the bridge file belongs",
         [=](const ScratchHome& home) {
             home.mkdir(".korvo");
             ASSERT_EQ(::mkfifo((home / ".korvo/claude-statusline.json").c_str(), 0600), 0);
         },
         [](const Outcome& claude, const Outcome&) {
             EXPECT_EQ(claude.diagnostic.trackingStatus, "Source found, no usage data");
             EXPECT_FALSE(claude.row);
         }},
        {"more log files than the count stops at",
         [=](const ScratchHome& home) {
             for (int i = 0; i < 510; ++i) {
                 home.write(".claude/projects/p/" + std::to_string(i) + ".jsonl", "");
                 home.write(".codex/sessions/" + std::to_string(i) + ".jsonl", "");
             }
         },
         [](const Outcome& claude, const Outcome& codex) {
             EXPECT_EQ(claude.diagnostic.checkedPaths[3],
                       "~/.claude/projects - found, 500 jsonl files");
             EXPECT_EQ(codex.diagnostic.checkedPaths[1],
                       "~/.codex/sessions - found, 500 jsonl files");
         }},
    };
}

TEST(BadInput, AdaptersDegradeWithoutThrowing) {
    for (const auto& c : badHomes()) {
        SCOPED_TRACE(c.name);
        ScratchHome home;
        c.build(home);
        const ClaudeCodeAdapter claude(home.path(), {}, fixedClock(fixtureNow()), noEnvironment());
        const CodexAdapter codex(home.path(), {}, fixedClock(fixtureNow()), noEnvironment());
        Outcome claudeOutcome, codexOutcome;
        ASSERT_NO_THROW((claudeOutcome = Outcome{claude.readUsage(), claude.diagnose()}));
        ASSERT_NO_THROW((codexOutcome = Outcome{codex.readUsage(), codex.diagnose()}));
        c.check(claudeOutcome, codexOutcome);
    }
}

TEST(BadInput, UnreadableFilesCountAsPresentButSayNothing) {
    if (modesAreIgnored()) {
        GTEST_SKIP() << "file modes do not restrict this user";
    }
    ScratchHome home;
    ::chmod(home.write(".korvo/claude-statusline.json", R"({"used_percent":5})").c_str(), 0);
    ::chmod(home.write(".claude/projects/p/a.jsonl", kClaudeLine + "\n").c_str(), 0);
    ::chmod(home.write(".codex/sessions/a.jsonl", kCodexLine + "\n").c_str(), 0);
    ::chmod(home.mkdir(".codex/sessions/locked").c_str(), 0);
    const ClaudeCodeAdapter claude(home.path(), {}, fixedClock(fixtureNow()), noEnvironment());
    const CodexAdapter codex(home.path(), {}, fixedClock(fixtureNow()), noEnvironment());
    EXPECT_EQ(claude.diagnose().trackingStatus, "Source found, no usage data");
    EXPECT_EQ(codex.diagnose().trackingStatus, "Source found, parser needs sample");
    ASSERT_TRUE(codex.readUsage());
    EXPECT_EQ(codex.readUsage()->confidence, Confidence::inferred);
}

} // namespace
} // namespace korvo

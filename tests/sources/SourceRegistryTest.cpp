// The registry and the sources it lists that need no parsing (the demo source and the
// detection-only tools), the command search path they are given, and the diagnostic's lines.

#include "sources/SourceRegistry.h"

#include "AdapterCases.h"
#include "sources/adapters/DetectionCatalog.h"
#include "sources/io/ExecutableSearchPaths.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace korvo {
namespace {

using namespace korvo::test;
using namespace std::chrono_literals;

// "id / name" of each adapter, joined with "; ".
std::string names(const AdapterList& adapters) {
    std::string result;
    for (const auto& adapter : adapters) {
        result += (result.empty() ? "" : "; ") + adapter->id() + " / " + adapter->displayName();
    }
    return result;
}

TEST(SourceRegistry, AdaptersInOrder) {
    TestHome home;
    const auto environment = fixedEnvironment({{"TMPDIR", home.path().string()}});
    const Clock clock = fixedClock(instantFromUnixSeconds(1790000000));
    const std::string real = "claude-code / Claude Code; codex / Codex CLI; gemini-cli / Gemini "
                             "CLI; github-copilot-cli / GitHub Copilot CLI";
    EXPECT_EQ(names(realAdapters(home.path(), {}, clock, environment)), real);
    // The demo source, the real adapters, then the detection catalog.
    const auto sources = sourceAdapters(home.path(), {}, clock, environment);
    EXPECT_EQ(names(sources), "mock / Mock Claude/Codex; " + real +
                                  "; amazon-q-cli / Amazon Q CLI; cursor-cli / Cursor CLI; "
                                  "windsurf / Windsurf; aider / Aider; goose / Goose; opencode / "
                                  "OpenCode; continue / Continue CLI");

    // An empty home: the mock source is available, every other source reports nothing found.
    for (const auto& adapter : sources) {
        const AdapterDiagnostic d = adapter->diagnose();
        EXPECT_EQ(d.isAvailable, adapter->id() == "mock") << d.id;
        EXPECT_FALSE(adapter->readUsage().row) << d.id;
    }
}

TEST(MockAdapter, DemoSnapshotMatchesTheGoldenFileAndDecodesBackEqual) {
    // 2026-03-01T09:14:05Z
    const MockAdapter adapter(fixedClock(instantFromUnixSeconds(1772356445)));
    const UsageSnapshot snapshot = adapter.makeDemoSnapshot(
        "space_123", "mac_0A1B2C3D4E5F", "Dana's Workstation", SnapshotDeviceKind::linux);
    const auto encoded = encodeSnapshot(snapshot);
    ASSERT_TRUE(encoded.ok()) << encoded.error().description();
    std::ostringstream golden;
    golden << std::ifstream(fixtureHome("golden/demo-snapshot.json"), std::ios::binary).rdbuf();
    EXPECT_EQ(encoded.value(), golden.str());
    const auto decoded = decodeSnapshot(encoded.value());
    ASSERT_TRUE(decoded.ok()) << decoded.error().description();
    EXPECT_EQ(decoded.value(), snapshot);

    // The id counts whole seconds since 1970, truncated toward zero.
    const auto idAt = [](std::chrono::nanoseconds sinceEpoch) {
        return MockAdapter(fixedClock(Instant(sinceEpoch)))
            .makeDemoSnapshot("s", "d", "n")
            .snapshotId;
    };
    EXPECT_EQ(idAt(10s + 999ms), "snap_preview_10");
    EXPECT_EQ(idAt(-1s + 1ms), "snap_preview_0");
}

// One home with something for every entry: a command found under its second name, paths found,
// the temporary folder, and paths of the wrong kind.
TEST(DetectionCatalog, ReportsPresenceOnly) {
    TestHome home;
    home.build({"exe bin/cursor-agent", "file .aider.conf.yml=model: x\n", "dir .aider",
                "dir tmp/qlog", "dir .windsurf", "dir .config/goose/config.yaml",
                "file .config/opencode"});
    const auto found = [](std::string summary, unsigned flags, std::vector<std::string> paths) {
        return Ladder{"Detected only", std::move(summary),
                      "Korvo can detect this CLI, but no safe schema-specific usage parser "
                      "exists yet.",
                      flags, std::move(paths)};
    };
    const auto none = [](std::vector<std::string> paths) {
        return Ladder{"Not found", "Not found", {}, 0, std::move(paths)};
    };
    const std::map<std::string, Ladder> expected = {
        {"amazon-q-cli", found("Detected; diagnostics only", kSource,
                               {"• command q: not found", "✓ $TMPDIR/qlog: found"})},
        {"cursor-cli",
         found("Detected; presence only", kCli,
               {"• command cursor: not found", "✓ command cursor-agent: BIN/cursor-agent",
                "• ~/.cursor: not found"})},
        {"windsurf", found("Detected; presence only", kSource,
                           {"• command windsurf: not found", "• ~/.codeium: not found",
                            "✓ ~/.windsurf: found"})},
        {"aider",
         found("Detected; API/BYOK usage only", kSource,
               {"• command aider: not found", "✓ ~/.aider.conf.yml: found", "✓ ~/.aider: found"})},
        {"goose", none({"• command goose: not found", "• ~/.config/goose/config.yaml: not found"})},
        {"opencode", none({"• command opencode: not found", "• ~/.config/opencode: not found",
                           "• ~/.local/share/opencode: not found"})},
        {"continue", none({"• command cn: not found", "• command continue: not found",
                           "• ~/.continue: not found"})},
    };
    const auto catalog = detectionCatalog(home.path(), {home / "bin"}, home / "tmp");
    ASSERT_EQ(catalog.size(), expected.size());
    for (const auto& adapter : catalog) {
        SCOPED_TRACE(adapter->id());
        const auto d = adapter->diagnose();
        expectLadder(d, expected.at(adapter->id()), home.path());
        EXPECT_EQ(d.warnings.size(), 2u);
    }
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({{"TMPDIR", "/var/tmp/u1"}})), "/var/tmp/u1");
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({{"TMPDIR", ""}})), "/tmp");
}

// The PATH variable (unset: nothing) and the directories searched, joined with ':'.
TEST(DefaultExecutableSearchPaths, PathThenFixedDirectoriesWithoutDuplicates) {
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {std::nullopt, "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/opt/local/bin"},
        {"/usr/bin::/usr/bin/../bin:/opt/homebrew/bin",
         "/usr/bin:/opt/homebrew/bin:/usr/local/bin:/bin:/opt/local/bin"},
        // The list's own spelling is kept; later spellings of the same directory are dropped.
        {"/usr/./local/bin/:/bin//:/usr/local/bin",
         "/usr/./local/bin/:/bin//:/opt/homebrew/bin:/usr/bin:/opt/local/bin"},
        {"bin:./bin:/usr/bin", "bin:/usr/bin:/opt/homebrew/bin:/usr/local/bin:/bin:/opt/local/bin"},
    };
    for (const auto& [path, expected] : cases) {
        std::map<std::string, std::string, std::less<>> variables{{"HOME", "/home/x"}};
        if (path) {
            variables.emplace("PATH", *path);
        }
        std::string searched;
        for (const auto& directory : defaultExecutableSearchPaths(fixedEnvironment(variables))) {
            searched += (searched.empty() ? "" : ":") + directory.string();
        }
        EXPECT_EQ(searched, expected) << path.value_or("(unset)");
    }
}

} // namespace
} // namespace korvo

#include "sources/DetectionCatalog.h"

#include "TestHome.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::testing;

// Each case is named by the catalog entry it diagnoses.
TEST(DetectionCatalog, ReportsPresenceOnly) {
    const std::string why =
        "Korvo can detect this CLI, but no safe schema-specific usage parser exists yet.";
    const std::vector<LadderCase> cases = {
        rung("cursor-cli", {"exe bin/cursor-agent"}, "Detected only", "Detected; presence only",
             why, kCli,
             {"• command cursor: not found", "✓ command cursor-agent: BIN/cursor-agent",
              "• ~/.cursor: not found"}),
        rung("aider", {"file .aider", "dir .aider.conf.yml"}, "Not found", "Not found", {}, 0,
             {"• command aider: not found", "• ~/.aider.conf.yml: not found",
              "• ~/.aider: not found"}),
        rung("aider", {"file .aider.conf.yml=model: x\n", "dir .aider"}, "Detected only",
             "Detected; API/BYOK usage only", why, kSource,
             {"• command aider: not found", "✓ ~/.aider.conf.yml: found", "✓ ~/.aider: found"}),
        rung("opencode", {"dir .config/opencode"}, "Detected only",
             "Detected; local usage parser can be added", why, kSource,
             {"• command opencode: not found", "✓ ~/.config/opencode: found",
              "• ~/.local/share/opencode: not found"}),
        rung("continue", {"exe bin/continue"}, "Detected only", "Detected; presence only", why,
             kCli,
             {"• command cn: not found", "✓ command continue: BIN/continue",
              "• ~/.continue: not found"}),
        rung("amazon-q-cli", {"dir tmp/qlog"}, "Detected only", "Detected; diagnostics only", why,
             kSource, {"• command q: not found", "✓ $TMPDIR/qlog: found"}),
        rung("goose", {}, "Not found", "Not found", {}, 0,
             {"• command goose: not found", "• ~/.config/goose/config.yaml: not found"}),
        rung("windsurf", {"dir .windsurf"}, "Detected only", "Detected; presence only", why,
             kSource,
             {"• command windsurf: not found", "• ~/.codeium: not found", "✓ ~/.windsurf: found"}),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchHome home;
        home.build(c.home);
        bool seen = false;
        for (const auto& adapter : detectionCatalog(home.path(), {home / "bin"}, home / "tmp")) {
            if (adapter->id() == c.name) {
                seen = true;
                EXPECT_FALSE(adapter->readUsage());
                const auto d = adapter->diagnose();
                expectLadder(d, c.expected, home.path());
                EXPECT_EQ(d.warnings.size(), 2u);
            }
        }
        EXPECT_TRUE(seen);
    }
}

TEST(DetectionCatalog, TemporaryDirectoryFromEnvironment) {
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({{"TMPDIR", "/var/tmp/u1"}})), "/var/tmp/u1");
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({{"TMPDIR", ""}})), "/tmp");
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({})), "/tmp");
}

} // namespace
} // namespace korvo

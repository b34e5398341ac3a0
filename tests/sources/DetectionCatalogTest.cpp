#include "sources/DetectionCatalog.h"

#include "FixtureHome.h"

#include <functional>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using testing::makeExecutable;
using testing::ScratchHome;

AdapterDiagnostic diagnoseEntry(const ScratchHome& home, const std::string& id) {
    for (const auto& adapter : detectionCatalog(home.path(), {home / "bin"}, home / "tmp")) {
        if (adapter->id() == id) {
            EXPECT_FALSE(adapter->readUsage());
            return adapter->diagnose();
        }
    }
    ADD_FAILURE() << "no catalog entry " << id;
    return {};
}

struct DetectionCase {
    const char* name;
    const char* id;
    std::function<void(const ScratchHome&)> setUp;
    bool cliInstalled;
    bool usageSourceFound;
    const char* summary;
    std::vector<std::string> checkedPaths; // "BIN/" stands for the search directory

    friend void PrintTo(const DetectionCase& c, std::ostream* os) { *os << c.name; }
};

class Detection : public ::testing::TestWithParam<DetectionCase> {};

TEST_P(Detection, ReportsPresenceOnly) {
    const DetectionCase& c = GetParam();
    ScratchHome home;
    c.setUp(home);
    const AdapterDiagnostic d = diagnoseEntry(home, c.id);
    EXPECT_EQ(d.cliInstalled, c.cliInstalled);
    EXPECT_EQ(d.usageSourceFound, c.usageSourceFound);
    EXPECT_EQ(d.isAvailable, c.cliInstalled || c.usageSourceFound);
    EXPECT_FALSE(d.tokenDataFound || d.limitDataFound || d.canUploadProvider);
    EXPECT_EQ(d.summary, c.summary);
    if (d.isAvailable) {
        EXPECT_EQ(d.trackingStatus, "Detected only");
        EXPECT_EQ(
            d.whyNoQuota,
            "Korvo can detect this CLI, but no safe schema-specific usage parser exists yet.");
    } else {
        EXPECT_EQ(d.trackingStatus, "Not found");
        EXPECT_FALSE(d.whyNoQuota);
    }
    std::vector<std::string> expected;
    for (std::string line : c.checkedPaths) {
        if (const auto at = line.find("BIN/"); at != std::string::npos) {
            line.replace(at, 4, (home / "bin").string() + "/");
        }
        expected.push_back(line);
    }
    EXPECT_EQ(d.checkedPaths, expected);
    EXPECT_EQ(d.warnings.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Catalog, Detection,
    ::testing::Values(
        DetectionCase{"CursorAgentOnly",
                      "cursor-cli",
                      [](const ScratchHome& h) { makeExecutable(h, "bin/cursor-agent"); },
                      true,
                      false,
                      "Detected; presence only",
                      {"• command cursor: not found", "✓ command cursor-agent: BIN/cursor-agent",
                       "• ~/.cursor: not found"}},
        DetectionCase{"AiderWrongKinds",
                      "aider",
                      [](const ScratchHome& h) {
                          h.write(".aider", "");
                          h.mkdir(".aider.conf.yml");
                      },
                      false,
                      false,
                      "Not found",
                      {"• command aider: not found", "• ~/.aider.conf.yml: not found",
                       "• ~/.aider: not found"}},
        DetectionCase{
            "AiderRightKinds",
            "aider",
            [](const ScratchHome& h) {
                h.write(".aider.conf.yml", "model: x\n");
                h.mkdir(".aider");
            },
            false,
            true,
            "Detected; API/BYOK usage only",
            {"• command aider: not found", "✓ ~/.aider.conf.yml: found", "✓ ~/.aider: found"}},
        DetectionCase{"OpenCodeFolderOnly",
                      "opencode",
                      [](const ScratchHome& h) { h.mkdir(".config/opencode"); },
                      false,
                      true,
                      "Detected; local usage parser can be added",
                      {"• command opencode: not found", "✓ ~/.config/opencode: found",
                       "• ~/.local/share/opencode: not found"}},
        DetectionCase{"ContinueThroughEitherCommand",
                      "continue",
                      [](const ScratchHome& h) { makeExecutable(h, "bin/continue"); },
                      true,
                      false,
                      "Detected; presence only",
                      {"• command cn: not found", "✓ command continue: BIN/continue",
                       "• ~/.continue: not found"}},
        DetectionCase{"AmazonQLogsInTemporaryDirectory",
                      "amazon-q-cli",
                      [](const ScratchHome& h) { h.mkdir("tmp/qlog"); },
                      false,
                      true,
                      "Detected; diagnostics only",
                      {"• command q: not found", "✓ $TMPDIR/qlog: found"}},
        DetectionCase{"GooseNothing",
                      "goose",
                      [](const ScratchHome&) {},
                      false,
                      false,
                      "Not found",
                      {"• command goose: not found", "• ~/.config/goose/config.yaml: not found"}},
        DetectionCase{
            "WindsurfEitherFolder",
            "windsurf",
            [](const ScratchHome& h) { h.mkdir(".windsurf"); },
            false,
            true,
            "Detected; presence only",
            {"• command windsurf: not found", "• ~/.codeium: not found", "✓ ~/.windsurf: found"}}),
    [](const auto& info) { return info.param.name; });

TEST(DetectionCatalog, OrderAndNames) {
    ScratchHome home;
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& adapter : detectionCatalog(home.path(), {}, home / "tmp")) {
        entries.emplace_back(adapter->id(), adapter->displayName());
    }
    EXPECT_EQ(entries,
              (std::vector<std::pair<std::string, std::string>>{{"amazon-q-cli", "Amazon Q CLI"},
                                                                {"cursor-cli", "Cursor CLI"},
                                                                {"windsurf", "Windsurf"},
                                                                {"aider", "Aider"},
                                                                {"goose", "Goose"},
                                                                {"opencode", "OpenCode"},
                                                                {"continue", "Continue CLI"}}));
}

TEST(DetectionCatalog, TemporaryDirectoryFromEnvironment) {
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({{"TMPDIR", "/var/tmp/u1"}})), "/var/tmp/u1");
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({{"TMPDIR", ""}})), "/tmp");
    EXPECT_EQ(temporaryDirectory(fixedEnvironment({})), "/tmp");
}

} // namespace
} // namespace korvo

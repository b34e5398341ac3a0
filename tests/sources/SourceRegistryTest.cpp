#include "sources/SourceRegistry.h"

#include "TestHome.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

std::vector<std::string> names(const AdapterList& adapters) {
    std::vector<std::string> result;
    for (const auto& adapter : adapters) {
        result.push_back(adapter->id() + " / " + adapter->displayName());
    }
    return result;
}

TEST(SourceRegistry, AdaptersInOrder) {
    testing::ScratchHome home;
    const auto environment = fixedEnvironment({{"TMPDIR", home.path().string()}});
    const Clock clock = fixedClock(instantFromUnixSeconds(1790000000));
    const std::vector<std::string> real{"claude-code / Claude Code", "codex / Codex CLI",
                                        "gemini-cli / Gemini CLI",
                                        "github-copilot-cli / GitHub Copilot CLI"};
    EXPECT_EQ(names(realAdapters(home.path(), {}, clock, environment)), real);

    // Then the detection catalog.
    std::vector<std::string> all{"mock / Mock Claude/Codex"};
    all.insert(all.end(), real.begin(), real.end());
    all.insert(all.end(), {"amazon-q-cli / Amazon Q CLI", "cursor-cli / Cursor CLI",
                           "windsurf / Windsurf", "aider / Aider", "goose / Goose",
                           "opencode / OpenCode", "continue / Continue CLI"});
    const auto sources = sourceAdapters(home.path(), {}, clock, environment);
    EXPECT_EQ(names(sources), all);

    // An empty home: the mock source is available, every other source reports nothing found.
    for (const auto& adapter : sources) {
        const AdapterDiagnostic d = adapter->diagnose();
        EXPECT_EQ(d.id, adapter->id());
        EXPECT_EQ(d.displayName, adapter->displayName());
        EXPECT_EQ(d.isAvailable, adapter->id() == "mock") << d.id;
        EXPECT_FALSE(adapter->readUsage()) << d.id;
    }
}

} // namespace
} // namespace korvo

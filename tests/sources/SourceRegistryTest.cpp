#include "sources/SourceRegistry.h"

#include "TestHome.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

std::vector<std::string> ids(const AdapterList& adapters) {
    std::vector<std::string> result;
    for (const auto& adapter : adapters) {
        result.push_back(adapter->id());
    }
    return result;
}

TEST(SourceRegistry, AdaptersInOrder) {
    testing::ScratchHome home;
    const auto environment = fixedEnvironment({{"TMPDIR", home.path().string()}});
    const Clock clock = fixedClock(instantFromUnixSeconds(1790000000));
    const std::vector<std::string> real{"claude-code", "codex", "gemini-cli", "github-copilot-cli"};
    EXPECT_EQ(ids(realAdapters(home.path(), {}, clock, environment)), real);

    std::vector<std::string> all{"mock"};
    all.insert(all.end(), real.begin(), real.end());
    all.insert(all.end(), {"amazon-q-cli", "cursor-cli", "windsurf", "aider", "goose", "opencode",
                           "continue"});
    const auto sources = sourceAdapters(home.path(), {}, clock, environment);
    EXPECT_EQ(ids(sources), all);

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

#include "sources/SourceRegistry.h"

#include "sources/adapters/ClaudeCodeAdapter.h"
#include "sources/adapters/CodexAdapter.h"
#include "sources/adapters/DetectionCatalog.h"
#include "sources/adapters/GeminiCliAdapter.h"
#include "sources/adapters/GitHubCopilotCliAdapter.h"

namespace korvo {

std::shared_ptr<const MockAdapter> makeMockAdapter(Clock clock) {
    return std::make_shared<const MockAdapter>(std::move(clock));
}

AdapterList realAdapters(const std::filesystem::path& home,
                         const std::vector<std::filesystem::path>& searchPaths, Clock clock,
                         Environment environment) {
    return {
        std::make_shared<const ClaudeCodeAdapter>(home, searchPaths, clock, environment),
        std::make_shared<const CodexAdapter>(home, searchPaths, clock, environment),
        std::make_shared<const GeminiCliAdapter>(home, searchPaths, clock, environment),
        std::make_shared<const GitHubCopilotCliAdapter>(home, searchPaths, std::move(environment),
                                                        std::nullopt, clock),
    };
}

AdapterList sourceAdapters(const std::filesystem::path& home,
                           const std::vector<std::filesystem::path>& searchPaths, Clock clock,
                           Environment environment) {
    AdapterList adapters{makeMockAdapter(clock)};
    for (auto& adapter : realAdapters(home, searchPaths, clock, environment)) {
        adapters.push_back(std::move(adapter));
    }
    for (auto& adapter : detectionCatalog(home, searchPaths, temporaryDirectory(environment))) {
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

} // namespace korvo

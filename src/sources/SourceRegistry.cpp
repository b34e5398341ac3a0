#include "sources/SourceRegistry.h"

#include "sources/ClaudeCodeAdapter.h"
#include "sources/CodexAdapter.h"
#include "sources/DetectionCatalog.h"
#include "sources/GeminiCliAdapter.h"
#include "sources/GitHubCopilotCliAdapter.h"

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
        std::make_shared<const GeminiCliAdapter>(home, searchPaths, clock),
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

#pragma once

#include "model/Clock.h"
#include "sources/UsageAdapter.h"
#include "sources/adapters/MockAdapter.h"
#include "sources/io/Environment.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace korvo {

using AdapterList = std::vector<std::shared_ptr<const UsageAdapter>>;

// The demo source, first among the sources and the builder of the demo snapshot.
std::shared_ptr<const MockAdapter> makeMockAdapter(Clock clock = systemClock());

// The adapters asked for provider rows, in row order: Claude Code, Codex CLI, Gemini CLI and
// GitHub Copilot CLI.
AdapterList realAdapters(const std::filesystem::path& home,
                         const std::vector<std::filesystem::path>& searchPaths,
                         Clock clock = systemClock(),
                         Environment environment = processEnvironment());

// The adapters asked for diagnostics, in order: the mock adapter, the four real adapters, then
// the detection-only tools.
AdapterList sourceAdapters(const std::filesystem::path& home,
                           const std::vector<std::filesystem::path>& searchPaths,
                           Clock clock = systemClock(),
                           Environment environment = processEnvironment());

} // namespace korvo

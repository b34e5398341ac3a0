#pragma once

#include "sources/adapters/GenericCliDetectionAdapter.h"
#include "sources/io/Environment.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace korvo {

// The per-user temporary directory: $TMPDIR when set and not empty, else /tmp.
std::filesystem::path temporaryDirectory(const Environment& environment);

// The seven detection-only tools, in their fixed order: Amazon Q CLI, Cursor CLI, Windsurf,
// Aider, Goose, OpenCode and Continue CLI.
std::vector<std::shared_ptr<const GenericCliDetectionAdapter>>
detectionCatalog(const std::filesystem::path& home,
                 const std::vector<std::filesystem::path>& searchPaths,
                 const std::filesystem::path& temporaryDirectory);

} // namespace korvo

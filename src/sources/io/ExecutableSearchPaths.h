#pragma once

#include "sources/io/Environment.h"

#include <array>
#include <filesystem>
#include <string_view>
#include <vector>

namespace korvo {

// Directories searched after PATH, so a tool installed by a package manager is found even
// when the program was started with a minimal PATH.
inline constexpr std::array<std::string_view, 5> fixedExecutableDirectories{
    "/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin", "/opt/local/bin"};

// The directories searched for a tool's command: the pieces of PATH (split at ':', empty pieces
// dropped) in order, then the fixed directories. An entry is dropped when its lexically
// normalised form ("." and ".." resolved, trailing separator ignored) was already seen; the
// entry kept is the list's own, not its normalised form.
std::vector<std::filesystem::path> defaultExecutableSearchPaths(const Environment& environment);

} // namespace korvo

#pragma once

// Filling a scratch home from the fixture homes under tests/fixtures and with fake commands.

#include "ScratchHome.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace korvo::testing {

/// Copies tests/fixtures/<name>, hidden entries included, into the home.
inline void copyFixture(const ScratchHome& home, std::string_view name) {
    std::filesystem::copy(std::filesystem::path(KORVO_FIXTURES_DIR) / name, home.path(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
}

/// A shell script at home-relative `relative` with its executable bits set.
inline std::filesystem::path makeExecutable(const ScratchHome& home, std::string_view relative) {
    const auto file = home.write(relative, "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                  std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                  std::filesystem::perms::others_exec);
    return file;
}

} // namespace korvo::testing

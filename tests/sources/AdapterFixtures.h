#pragma once

// Helpers for running adapters against the fixture homes under tests/fixtures.

#include "model/Clock.h"
#include "model/TimeText.h"
#include "sources/Environment.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace korvo::testing {

/// The moment every fixture is read at: 2026-01-05T09:00:00Z.
inline Instant fixtureNow() {
    return *parseInternetDateTime("2026-01-05T09:00:00Z");
}

inline Instant instantAt(const char* text) {
    return *parseInternetDateTime(text);
}

inline std::filesystem::path fixtureHome(const std::string& name) {
    return std::filesystem::path(KORVO_FIXTURES_DIR) / name;
}

/// A fixture's own bin folder is its only command directory.
inline std::vector<std::filesystem::path> fixtureSearchPaths(const std::filesystem::path& home) {
    return {home / "bin"};
}

inline Environment noEnvironment() {
    return fixedEnvironment({});
}

} // namespace korvo::testing

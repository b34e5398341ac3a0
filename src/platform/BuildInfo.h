#pragma once

#include <QString>
#include <optional>

namespace korvo {

// Version, build number and build channel of the running program.
struct BuildInfo {
    std::optional<QString> version; // marketing version, e.g. "1.4.0"
    std::optional<QString> build;   // build number, e.g. "42"
    std::optional<QString> channel; // raw channel value, e.g. "internal_beta"

    // The values this binary was built with (CMake: project version, KORVO_BUILD_NUMBER,
    // KORVO_BUILD_CHANNEL). Empty values count as missing.
    static BuildInfo current();

    bool operator==(const BuildInfo&) const = default;
};

} // namespace korvo

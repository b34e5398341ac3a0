#pragma once

#include "model/Clock.h"
#include "sources/io/Environment.h"

#include <filesystem>
#include <optional>
#include <string>

namespace korvo {

// `korvo-connector snapshot` in its common case, answered without Qt: the same adapters read
// the same files and the same encoder writes the snapshot, with the device id and the sync space
// read from the settings file. A shell prompt or a script may run it every few seconds, and
// starting Qt would cost more than the collection itself.
struct QuickSnapshotSources {
    std::filesystem::path home;
    Environment environment;
    Clock clock;
    std::filesystem::path machineInfo = "/etc/machine-info";
};

// The text `snapshot` prints, or nothing whenever korvo-connector-cli could answer differently:
// no device id stored yet (it makes one and carries over an older version's settings), a tool
// that reported an error, no row at all, or Qt's logging asked for. The caller then hands over.
std::optional<std::string> quickSnapshot(const QuickSnapshotSources& sources);

} // namespace korvo

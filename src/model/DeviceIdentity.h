#pragma once

#include "model/Instant.h"
#include "model/UsageSnapshot.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// How this device names itself in a snapshot, and the ids a snapshot carries. Free of Qt, so
// that the command line's quick snapshot and the connector build snapshots alike.

// The name a snapshot gives a device whose system gives none.
inline constexpr std::string_view kUnnamedDevice = "Mac";

// The sync space a snapshot names while this device is not paired.
inline constexpr std::string_view kLocalDisplaySyncSpace = "local_display";

// `count` upper-case hexadecimal digits from the system's random source.
std::string randomHex(int count);

// A new id for a snapshot collected for local display (uploads have ids of their own).
std::string localSnapshotId();

// A device id as this program writes it, or as another build may have: letters, digits, "_",
// "-" and ".", at most 128 characters. Anything else (empty, spaces, "/", control characters)
// would not survive a URL path.
bool isUsableDeviceId(std::string_view id);

// PRETTY_HOSTNAME from machine-info text (an environment-style file, as hostnamectl writes it),
// unquoted and without surrounding white space; empty when there is none.
std::string prettyHostName(std::string_view machineInfo);

// The pretty host name of the machine-info file at `machineInfoPath` when it has one, else the
// machine's host name; empty when neither is known.
std::string systemHostName(const std::filesystem::path& machineInfoPath);

// A snapshot of this device taken at `now`.
UsageSnapshot assembleSnapshot(std::string snapshotId, std::string syncSpaceId,
                               SnapshotDevice device, std::vector<ProviderUsage> rows, Instant now);

} // namespace korvo

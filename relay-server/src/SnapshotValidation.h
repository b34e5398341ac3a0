#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace korvo::relayserver {

// Bounds of an uploaded snapshot's contents.
constexpr std::size_t kMaxSnapshotIdBytes = 200;   // snapshotId, device.id, a provider's id
constexpr std::size_t kMaxSnapshotTextBytes = 200; // names, labels and texts shown to a person
constexpr std::size_t kMaxSnapshotProviders = 64;
constexpr double kMaxSnapshotCount = 1e15; // token counts and costs

// Accepts an uploaded body when it decodes as a snapshot of the path's sync space that names the
// uploading device as its own (one connector cannot pass its snapshots off as another's); fills
// `snapshotId` then. Otherwise answers the reason it was refused. Its contents are bounded too:
// ids and texts by length and free of control and bidirectional formatting characters,
// percentages within 0 and 100, counts finite and non-negative, the provider list by length.
std::optional<std::string> validateUploadedSnapshot(const std::string& body,
                                                    const std::string& syncSpaceId,
                                                    const std::string& deviceId,
                                                    std::string& snapshotId);

} // namespace korvo::relayserver

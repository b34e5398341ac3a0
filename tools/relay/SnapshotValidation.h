#pragma once

#include <optional>
#include <string>

namespace korvo::relayserver {

// Accepts an uploaded body when it decodes as a snapshot of the path's sync space that names the
// uploading device as its own (one connector cannot pass its snapshots off as another's); fills
// `snapshotId` then. Otherwise answers the reason it was refused.
std::optional<std::string> validateUploadedSnapshot(const std::string& body,
                                                    const std::string& syncSpaceId,
                                                    const std::string& deviceId,
                                                    std::string& snapshotId);

} // namespace korvo::relayserver

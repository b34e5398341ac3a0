#include "SnapshotValidation.h"

#include "model/SnapshotJson.h"

namespace korvo::relayserver {

std::optional<std::string> validateUploadedSnapshot(const std::string& body,
                                                    const std::string& syncSpaceId,
                                                    const std::string& deviceId,
                                                    std::string& snapshotId) {
    auto decoded = decodeSnapshot(body);
    if (!decoded.ok()) {
        return "Snapshot does not decode: " + decoded.error().description();
    }
    if (decoded.value().syncSpaceId != syncSpaceId) {
        return "Snapshot syncSpaceId does not match the sync space of the path";
    }
    if (decoded.value().device.id != deviceId) {
        return "Snapshot device.id is not the id of the uploading device";
    }
    snapshotId = decoded.value().snapshotId;
    return std::nullopt;
}

} // namespace korvo::relayserver

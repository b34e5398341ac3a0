#pragma once

#include "model/UsageSnapshot.h"

#include <string>

namespace korvo::test {

// A snapshot of `syncSpaceId` by `deviceId` with one provider row; `serial` varies ids and
// numbers.
inline UsageSnapshot testSnapshot(const std::string& syncSpaceId, int serial = 0,
                                  const std::string& deviceId = "CONNECTOR-1") {
    UsageSnapshot s;
    s.snapshotId = "snap_" + std::to_string(1000000000000000 + serial);
    s.syncSpaceId = syncSpaceId;
    s.updatedAt = instantFromUnixSeconds(1'790'000'000 + serial);
    s.device = {deviceId, "build box", SnapshotDeviceKind::linux};
    ProviderUsage row{
        "codex", "Codex CLI", SourceType::localCli, Confidence::cliReported, ProviderStatus::ok,
        {},      {},          s.updatedAt};
    row.usage.usedPercent = 12.5 + serial % 80;
    s.providers.push_back(row);
    return s;
}

} // namespace korvo::test

#include "TestSnapshot.h"

namespace korvo::test {

UsageSnapshot testSnapshot(const std::string& syncSpaceId, int serial,
                           const std::string& deviceId) {
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

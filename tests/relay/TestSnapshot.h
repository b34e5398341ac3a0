#pragma once

#include "model/UsageSnapshot.h"

#include <string>

namespace korvo::test {

// A snapshot of `syncSpaceId` with one provider row; `serial` varies ids and numbers.
inline UsageSnapshot testSnapshot(const std::string& syncSpaceId, int serial = 0,
                                  const std::string& deviceId = "DEVICE-1") {
    UsageSnapshot s;
    s.snapshotId = "snap_" + std::to_string(1000000000000000 + serial);
    s.syncSpaceId = syncSpaceId;
    s.updatedAt = instantFromUnixSeconds(1'790'000'000 + serial);
    s.device = {deviceId, "build box", SnapshotDeviceKind::linux};
    ProviderUsage row;
    row.id = "codex";
    row.displayName = "Codex CLI";
    row.source = SourceType::localCli;
    row.confidence = Confidence::cliReported;
    row.status = ProviderStatus::ok;
    row.window =
        UsageWindow{UsageWindowKind::weekly, "Weekly", instantFromUnixSeconds(1'789'900'000),
                    instantFromUnixSeconds(1'790'500'000)};
    row.usage.usedPercent = 12.5 + serial % 80;
    row.usage.remainingPercent = 87.5 - serial % 80;
    row.usage.inputTokens = 1200.0 * serial;
    row.usage.remainingText = "plenty left";
    row.observedAt = instantFromUnixSeconds(1'790'000'000 + serial);
    s.providers.push_back(row);
    return s;
}

} // namespace korvo::test

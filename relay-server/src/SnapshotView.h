#pragma once

#include "model/Instant.h"
#include "model/UsagePace.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::relayserver {

// The latest snapshot of a sync space as the web view shows it: every text computed here by
// the same display code the desktop rows use, relative to the relay's clock, so the page only
// places them.
//
// {"machine": name, "updatedText": "Updated 3 minutes ago", "updatedAt": date?,
//  "snapshotId": id?, "providers": [{"id", "title", "subtitle", "status", "statusText",
//  "remaining" (the big figure), "figureCaption" ("remaining", "used this session" or ""),
//  "gauge"?, "used"?, "window", "reset"?, "resetAt"?, "second"?: {"name", "remaining", "gauge",
//  "status", "reset", "resetAt"?}, "lowest"?, "lowestWindow"?, "details"?, "pace"?,
//  "sparkline"?: [[unix seconds, used percent], ...]}]}
// The dates are absolute (internet date-time), so the page can write its relative texts again
// on the phone's clock, also offline.
//
// Without a snapshot the machine is named by `pairedName` (the name it paired under) and the
// list is empty. Nothing when `snapshot` does not decode.
// `connectorLinked` false (no connector left in the sync space: it was unlinked or revoked) adds
// "connectorRevoked": true.
//
// A row with readings in `series` (by row id) gets the pace line the desktop shows for it,
// with clock times at `utcOffset` from UTC, and the readings of its current window as
// sparkline points (at most kMaxSparklinePoints, evenly thinned, the latest always kept).
constexpr std::size_t kMaxSparklinePoints = 96;
std::optional<std::string>
snapshotViewJson(const std::optional<std::string>& snapshot, std::string_view pairedName,
                 Instant now, bool connectorLinked = true,
                 const std::map<std::string, std::vector<UsagePoint>>& series = {},
                 std::chrono::seconds utcOffset = std::chrono::seconds(0));

} // namespace korvo::relayserver

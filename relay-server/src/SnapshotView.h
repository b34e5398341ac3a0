#pragma once

#include "model/Instant.h"

#include <optional>
#include <string>
#include <string_view>

namespace korvo::relayserver {

// The latest snapshot of a sync space as the web view shows it: every text computed here by
// the same display code the desktop rows use, relative to the relay's clock, so the page only
// places them.
//
// {"machine": name, "updatedText": "Updated 3 minutes ago", "updatedAt": date?,
//  "snapshotId": id?, "providers": [{"id", "title", "subtitle", "status", "statusText",
//  "remaining" (the big figure), "figureCaption" ("remaining", "used this session" or ""),
//  "gauge"?, "used"?, "window", "reset"?, "resetAt"?, "second"?: {"name", "remaining", "gauge",
//  "status", "reset", "resetAt"?}, "lowest"?, "lowestWindow"?, "details"?}]}
// The dates are absolute (internet date-time), so the page can write its relative texts again
// on the phone's clock, also offline.
//
// Without a snapshot the machine is named by `pairedName` (the name it paired under) and the
// list is empty. Nothing when `snapshot` does not decode.
// `connectorLinked` false (no connector left in the sync space: it was unlinked or revoked) adds
// "connectorRevoked": true.
std::optional<std::string> snapshotViewJson(const std::optional<std::string>& snapshot,
                                            std::string_view pairedName, Instant now,
                                            bool connectorLinked = true);

} // namespace korvo::relayserver

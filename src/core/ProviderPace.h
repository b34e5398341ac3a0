#pragma once

#include "core/ConnectorState.h"
#include "model/UsagePace.h"
#include "model/UsageSnapshot.h"

#include <QString>
#include <QTimeZone>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// The pace of one provider row as every surface of the connector shows it: the estimate of its
// current window, its line of text and the readings behind it (for a sparkline).
struct ProviderPace {
    std::string providerId;
    QString displayName;
    UsagePace pace;
    QString text;
    std::vector<UsagePoint> points;

    friend bool operator==(const ProviderPace&, const ProviderPace&) = default;
};

using UsageHistorySeries = std::map<std::string, std::vector<UsagePoint>>;

// The pace of `row` from the readings of its current window; clock times in `zone`.
ProviderPace providerPace(const ProviderUsage& row, const UsageHistorySeries& history, Instant now,
                          const QTimeZone& zone = QTimeZone::systemTimeZone());

// One pace per row of the snapshot, in its order.
std::vector<ProviderPace> providerPaces(const UsageSnapshot& snapshot,
                                        const UsageHistorySeries& history, Instant now,
                                        const QTimeZone& zone = QTimeZone::systemTimeZone());

// The row closest to its limit: the highest used percentage, and among equal ones the one whose
// projected limit comes first. Nothing when no row has a used percentage.
std::optional<std::size_t> closestToLimit(const UsageSnapshot& snapshot,
                                          const std::vector<ProviderPace>& paces);

} // namespace korvo

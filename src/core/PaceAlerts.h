#pragma once

#include "core/ProviderPace.h"
#include "core/QuotaAlerts.h"

#include <QTimeZone>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// Decides when a window's pace calls for an alert: at the current pace its limit comes before its
// reset, within half an hour (a twentieth of longer windows). Each window alerts at most once;
// a new reset time starts a new window.
class PaceAlerts {
public:
    explicit PaceAlerts(QTimeZone zone = QTimeZone::systemTimeZone()) : zone_(std::move(zone)) {}

    std::vector<QuotaAlert> review(const UsageSnapshot& snapshot, const UsageHistorySeries& history,
                                   Instant now);

private:
    struct Alerted {
        std::optional<Instant> resetAt;
    };
    QTimeZone zone_;
    std::map<std::string, Alerted> alerted_;
};

} // namespace korvo

#include "core/PaceAlerts.h"

#include "model/DisplayText.h"

#include <chrono>

namespace korvo {

std::vector<QuotaAlert> PaceAlerts::review(const UsageSnapshot& snapshot,
                                           const UsageHistorySeries& history, Instant now) {
    std::vector<QuotaAlert> alerts;
    for (const ProviderUsage& row : snapshot.providers) {
        const std::string key = row.id + '/' + primaryWindowText(row);
        const std::optional<Instant> resetAt = row.window ? row.window->resetAt : std::nullopt;
        if (const auto found = alerted_.find(key); found != alerted_.end()) {
            const std::optional<Instant>& before = found->second.resetAt;
            const bool sameWindow = before == resetAt && (!before || *before > now);
            if (sameWindow) {
                continue;
            }
            alerted_.erase(found);
        }
        if (row.status == ProviderStatus::limited) {
            continue;
        }
        const ProviderPace pace = providerPace(row, history, now, zone_);
        if (pace.pace.kind != UsagePace::Kind::limitBeforeReset || !pace.pace.limitAt) {
            continue;
        }
        const auto untilLimit =
            std::chrono::duration_cast<std::chrono::seconds>(*pace.pace.limitAt - now);
        if (untilLimit > paceAlertLead(usageWindowLength(row.window))) {
            continue;
        }
        alerted_[key] = Alerted{resetAt};
        alerts.push_back({QuotaAlert::Kind::pace, row.id,
                          QString::fromStdString(paceAlertText(row, untilLimit)),
                          pace.text + QLatin1Char('.')});
    }
    return alerts;
}

} // namespace korvo

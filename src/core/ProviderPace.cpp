#include "core/ProviderPace.h"

#include "model/DisplayText.h"

#include <QDateTime>

namespace korvo {

ProviderPace providerPace(const ProviderUsage& row, const UsageHistorySeries& history, Instant now,
                          const QTimeZone& zone) {
    ProviderPace result;
    result.providerId = row.id;
    result.displayName = QString::fromStdString(row.displayName);
    const std::optional<Instant> resetAt = row.window ? row.window->resetAt : std::nullopt;
    if (const auto found = history.find(row.id); found != history.end()) {
        result.points = currentWindowPoints(found->second, resetAt, now);
    }
    result.pace = estimateUsagePace(result.points, resetAt, usageWindowLength(row.window), now);
    const auto clockText = [&](Instant at) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(unixSecondsTruncated(at), zone);
        return paceClockText(at, now, std::chrono::seconds(local.offsetFromUtc()));
    };
    result.text = QString::fromStdString(usagePaceText(result.pace, now, clockText));
    return result;
}

std::vector<ProviderPace> providerPaces(const UsageSnapshot& snapshot,
                                        const UsageHistorySeries& history, Instant now,
                                        const QTimeZone& zone) {
    std::vector<ProviderPace> paces;
    paces.reserve(snapshot.providers.size());
    for (const ProviderUsage& row : snapshot.providers) {
        paces.push_back(providerPace(row, history, now, zone));
    }
    return paces;
}

std::optional<std::size_t> closestToLimit(const UsageSnapshot& snapshot,
                                          const std::vector<ProviderPace>& paces) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < snapshot.providers.size(); ++i) {
        const std::optional<double> used = usedPercentOf(snapshot.providers[i]);
        if (!used) {
            continue;
        }
        if (!best) {
            best = i;
            continue;
        }
        const double bestUsed = *usedPercentOf(snapshot.providers[*best]);
        const auto limitAt = [&](std::size_t index) {
            return index < paces.size() ? paces[index].pace.limitAt : std::nullopt;
        };
        if (*used > bestUsed || (*used == bestUsed && limitAt(i) &&
                                 (!limitAt(*best) || *limitAt(i) < *limitAt(*best)))) {
            best = i;
        }
    }
    return best;
}

} // namespace korvo

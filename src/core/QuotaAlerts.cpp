#include "core/QuotaAlerts.h"

#include "model/DisplayText.h"
#include "model/TimeText.h"

#include <cmath>

namespace korvo {

namespace {

std::optional<double> remainingPercent(const ProviderUsage& provider) {
    const auto& usage = provider.usage;
    if (usage.remainingPercent && std::isfinite(*usage.remainingPercent)) {
        return *usage.remainingPercent;
    }
    if (usage.usedPercent && std::isfinite(*usage.usedPercent)) {
        return 100.0 - *usage.usedPercent;
    }
    return std::nullopt;
}

QString qText(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

QString QuotaAlert::logLine() const {
    return QStringLiteral("Quota alert: ") + summary + QStringLiteral(". ") + body;
}

QuotaAlerts::QuotaAlerts(Clock clock) : clock_(std::move(clock)) {}

std::vector<QuotaAlert> QuotaAlerts::review(const UsageSnapshot& snapshot) {
    std::vector<QuotaAlert> alerts;
    const Instant now = clock_();
    for (const ProviderUsage& provider : snapshot.providers) {
        const std::optional<double> remaining = remainingPercent(provider);
        Level level = Level::none;
        if (provider.status == ProviderStatus::limited || (remaining && *remaining <= 0)) {
            level = Level::limited;
        } else if (remaining && *remaining < 5) {
            level = Level::below5;
        } else if (remaining && *remaining < 20) {
            level = Level::below20;
        }
        const std::optional<Instant> resetAt =
            provider.window ? provider.window->resetAt : std::nullopt;
        const std::string key = provider.id + '/' + primaryWindowText(provider);
        WindowState& state = windows_[key];
        const QString name = qText(provider.displayName);

        // A new window: the stored one's reset time has passed or the reset time moved; without
        // a reset time, the quota being back above the thresholds.
        const bool passed = state.resetAt && *state.resetAt <= now;
        const bool moved = state.resetAt && resetAt && *resetAt != *state.resetAt;
        const bool recovered = !state.resetAt && !resetAt && level == Level::none;
        if (state.alerted != Level::none && (passed || moved || recovered)) {
            if (state.alerted == Level::limited && level != Level::limited) {
                alerts.push_back(
                    {QuotaAlert::Kind::reset, provider.id,
                     name + QStringLiteral(" is available again"),
                     QStringLiteral("The limited window has reset") +
                         (remaining ? QStringLiteral("; ") + qText(wholePercentText(*remaining)) +
                                          QStringLiteral(" remaining.")
                                    : QStringLiteral("."))});
            }
            state.alerted = Level::none;
        }
        state.resetAt = resetAt;
        if (level <= state.alerted) {
            continue;
        }
        state.alerted = level;
        const QString window = qText(primaryWindowText(provider));
        const QString resets = resetAt
                                   ? QStringLiteral(" Resets ") +
                                         qText(relativeTimePhrase(*resetAt, now)) + QLatin1Char('.')
                                   : QString();
        const QString left =
            remaining ? qText(wholePercentText(std::max(*remaining, 0.0))) : QStringLiteral("0%");
        switch (level) {
        case Level::limited:
            alerts.push_back({QuotaAlert::Kind::limited, provider.id,
                              name + QStringLiteral(" is limited"),
                              QStringLiteral("No quota left in the ") + window.toLower() +
                                  QStringLiteral(" window.") + resets});
            break;
        case Level::below5:
        case Level::below20:
            alerts.push_back(
                {level == Level::below5 ? QuotaAlert::Kind::below5 : QuotaAlert::Kind::below20,
                 provider.id, name + QStringLiteral(": ") + left + QStringLiteral(" remaining"),
                 QStringLiteral("Below ") +
                     (level == Level::below5 ? QStringLiteral("5%") : QStringLiteral("20%")) +
                     QStringLiteral(" of the ") + window.toLower() + QStringLiteral(" window.") +
                     resets});
            break;
        case Level::none:
            break;
        }
    }
    return alerts;
}

} // namespace korvo

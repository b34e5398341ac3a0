#include "core/QuotaAlertMonitor.h"

#include "core/ConnectorModel.h"
#include "platform/UserDefaults.h"

namespace korvo {

QuotaAlertMonitor::QuotaAlertMonitor(ConnectorModel& model, Clock clock,
                                     std::shared_ptr<UserDefaults> settings,
                                     std::function<void(const QuotaAlert&)> deliver,
                                     QObject* parent)
    : QObject(parent), model_(model), clock_(clock), alerts_(std::move(clock)),
      settings_(std::move(settings)), deliver_(std::move(deliver)) {
    if (settings_) {
        enabled_ = settings_->string(QString::fromLatin1(kEnabledKey)) != QLatin1String("false");
    }
    connect(&model, &ConnectorModel::uploadChanged, this, &QuotaAlertMonitor::review);
    connect(&model, &ConnectorModel::sourcesChanged, this, &QuotaAlertMonitor::review);
}

void QuotaAlertMonitor::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (settings_) {
        settings_->setString(QString::fromLatin1(kEnabledKey),
                             enabled ? QStringLiteral("true") : QStringLiteral("false"));
    }
    Q_EMIT enabledChanged(enabled);
}

void QuotaAlertMonitor::review() {
    const auto& snapshot = model_.displaySnapshot();
    if (!snapshot) {
        return;
    }
    std::vector<QuotaAlert> alerts = alerts_.review(*snapshot);
    for (QuotaAlert& alert :
         paceAlerts_.review(*snapshot, model_.collector().collect().history, clock_())) {
        alerts.push_back(std::move(alert));
    }
    for (const QuotaAlert& alert : alerts) {
        if (enabled_ && deliver_) {
            deliver_(alert);
        }
    }
}

} // namespace korvo

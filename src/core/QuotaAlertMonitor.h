#pragma once

#include "core/PaceAlerts.h"
#include "core/QuotaAlerts.h"

#include <QObject>
#include <functional>
#include <memory>

namespace korvo {

class ConnectorModel;
class UserDefaults;

// Watches the model's snapshots and hands each quota alert due to `deliver` (a desktop
// notification, a log line) while alerts are on. Alerts are on unless the setting says "false";
// while they are off, snapshots are still reviewed, so turning them on again does not repeat
// what was already passed.
class QuotaAlertMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kEnabledKey = "quotaAlerts";

    QuotaAlertMonitor(ConnectorModel& model, Clock clock, std::shared_ptr<UserDefaults> settings,
                      std::function<void(const QuotaAlert&)> deliver, QObject* parent = nullptr);

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

Q_SIGNALS:
    void enabledChanged(bool enabled);

private:
    void review();

    ConnectorModel& model_;
    Clock clock_;
    QuotaAlerts alerts_;
    PaceAlerts paceAlerts_;
    std::shared_ptr<UserDefaults> settings_;
    std::function<void(const QuotaAlert&)> deliver_;
    bool enabled_ = true;
};

} // namespace korvo

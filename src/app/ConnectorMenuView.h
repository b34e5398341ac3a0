#pragma once

#include "model/Clock.h"

#include <QMenu>
#include <QTimer>
#include <functional>
#include <vector>

namespace korvo {

class ConnectorModel;
class QuotaAlertMonitor;

// The tray menu: the model's state in a few lines, the provider limits, Open at Login and the
// everyday actions. Its items are made once and updated in place after each change of the
// model and whenever the menu opens, so an open menu keeps the item under the pointer.
class ConnectorMenuView : public QMenu {
    Q_OBJECT
public:
    ConnectorMenuView(ConnectorModel& model, Clock clock, std::function<void()> openWindow,
                      QWidget* parent = nullptr);

    void refresh();
    // Adds the "Alerts" check item after "Open at Login", following the monitor.
    void setAlerts(QuotaAlertMonitor* alerts);

private:
    // A line of text: enabled, so it is drawn in the menu's full text colour, but it does
    // nothing.
    QAction* addTextRow();
    void refreshProviders();

    ConnectorModel& model_;
    Clock clock_;
    std::function<void()> openWindow_;
    QTimer pending_;
    QAction* status_;
    QAction* sources_;
    QAction* autoSync_;
    QAction* lastSync_;
    QAction* updates_;
    QAction* download_;
    QAction* checkUpdates_;
    QAction* notUploaded_ = nullptr;
    QAction* noLimits_;
    QAction* limitsEnd_;
    std::vector<QAction*> providers_;
    QAction* openAtLogin_;
    QAction* alerts_ = nullptr;
    QAction* refreshNow_;
};

} // namespace korvo

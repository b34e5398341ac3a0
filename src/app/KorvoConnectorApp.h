#pragma once

#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "model/UsageSnapshot.h"

#include <QObject>
#include <memory>
#include <optional>

class QSystemTrayIcon;

namespace korvo {

class ConnectorAppDelegate;
class ConnectorMenuView;
class ConnectorWindowController;
class Notifier;
class QuotaAlertMonitor;
class PowerEvents;

// The desktop application: the one model, the tray icon with its menu, the main window's
// controller and the delegate that reacts to the system. A QApplication must exist first.
class KorvoConnectorApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        ConnectorModelOptions model;
        // Sleep and wake announcements; not owned, may be null.
        PowerEvents* powerEvents = nullptr;
        KorvoBuildChannel channel = KorvoBuildChannel::current();
        // False keeps the tray icon away even where the desktop has a tray.
        bool useTray = true;
        // Desktop notifications. Empty: the freedesktop service on the session bus.
        std::shared_ptr<Notifier> notifier;
    };

    explicit KorvoConnectorApp(Options options, QObject* parent = nullptr);
    ~KorvoConnectorApp() override;

    // Puts up the tray icon when the desktop has a tray, subscribes to sleep and wake and shows
    // the window on the next turn of the event loop. Closing the window never quits. Without a
    // tray, the tray menu sits in the window's menu bar, and the first close tells the person
    // once that syncing goes on in the background, that launching the app again brings the
    // window back and that on GNOME an extension shows the tray icon.
    void launch();

    ConnectorModel& model() { return *model_; }
    ConnectorWindowController& windowController() { return *windowController_; }
    ConnectorAppDelegate& delegate() { return *delegate_; }
    // Null when there is no tray.
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    // The tray menu, or without a tray the same menu in the window's menu bar; null until
    // launch().
    ConnectorMenuView* menu() const { return menu_.get(); }
    Notifier& notifier() { return *options_.notifier; }
    QuotaAlertMonitor& alerts() { return *alerts_; }

private:
    void offerWithoutTray();
    void updateToolTip();

    Options options_;
    std::unique_ptr<ConnectorModel> model_;
    std::unique_ptr<ConnectorWindowController> windowController_;
    std::unique_ptr<ConnectorAppDelegate> delegate_;
    std::unique_ptr<QuotaAlertMonitor> alerts_;
    std::unique_ptr<ConnectorMenuView> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    bool backgroundNoticeGiven_ = false;
    // The state the tray icon was last drawn for.
    std::optional<TrayGlance> shownGlance_;
};

} // namespace korvo

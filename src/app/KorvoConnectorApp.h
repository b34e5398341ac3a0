#pragma once

#include "core/ConnectorModel.h"
#include "model/UsageSnapshot.h"

#include <QObject>
#include <memory>

class QSystemTrayIcon;

namespace korvo {

class ConnectorAppDelegate;
class ConnectorMenuView;
class ConnectorWindowController;
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
    };

    explicit KorvoConnectorApp(Options options, QObject* parent = nullptr);
    ~KorvoConnectorApp() override;

    // Puts up the tray icon when the desktop has a tray (then closing the window leaves the
    // application running; without one, closing the window quits), subscribes to sleep and
    // wake and shows the window on the next turn of the event loop.
    void launch();

    ConnectorModel& model() { return *model_; }
    ConnectorWindowController& windowController() { return *windowController_; }
    ConnectorAppDelegate& delegate() { return *delegate_; }
    // Null when there is no tray.
    QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    ConnectorMenuView* menu() const { return menu_.get(); }

private:
    Options options_;
    std::unique_ptr<ConnectorModel> model_;
    std::unique_ptr<ConnectorWindowController> windowController_;
    std::unique_ptr<ConnectorAppDelegate> delegate_;
    std::unique_ptr<ConnectorMenuView> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
};

} // namespace korvo

#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <vector>

namespace korvo {

class ConnectorModel;
class ConnectorWindowController;
class PowerEvents;

// The application's reactions to the system: shows the window once launching is done and on
// reopen, and hands sleep and wake to the model one turn of the event loop after they are
// announced.
class ConnectorAppDelegate : public QObject {
    Q_OBJECT
public:
    ConnectorAppDelegate(ConnectorModel& model, ConnectorWindowController& windowController,
                         QObject* parent = nullptr);
    ~ConnectorAppDelegate() override;

    // Subscribes to the power events (sleep first, then wake) and schedules the first show.
    void applicationDidFinishLaunching(PowerEvents* powerEvents);
    // Shows the window again (tray icon clicked). Always true.
    bool applicationShouldHandleReopen();
    // Removes the power event subscriptions.
    void applicationWillTerminate();

    std::size_t observerCount() const { return observers_.size(); }

private:
    QPointer<ConnectorModel> model_;
    QPointer<ConnectorWindowController> windowController_;
    std::vector<QMetaObject::Connection> observers_;
};

} // namespace korvo

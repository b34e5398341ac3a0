#pragma once

#include "model/Clock.h"
#include "model/UsageSnapshot.h"

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <memory>

namespace korvo {

class ConnectorModel;
class ConnectorWindowView;

// Owns the one main window. The window is made on first show and kept when closed, so
// showing it again brings back the same window; every show runs the model's start-up refresh.
class ConnectorWindowController : public QObject {
    Q_OBJECT
public:
    ConnectorWindowController(ConnectorModel& model, Clock clock, KorvoBuildChannel channel,
                              QObject* parent = nullptr);
    ~ConnectorWindowController() override;

    void show();
    // Shows the window scrolled to the pairing panel, its button focused.
    void showPairing();

    // Null until the first show.
    QMainWindow* window() const { return window_.get(); }
    ConnectorWindowView* view() const { return view_; }

Q_SIGNALS:
    // Emitted after each show, once the model's start-up refresh has been started.
    void shown();
    // Emitted when the person closes the window (it is hidden, not destroyed).
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<ConnectorModel> model_;
    Clock clock_;
    KorvoBuildChannel channel_;
    std::unique_ptr<QMainWindow> window_;
    ConnectorWindowView* view_ = nullptr;
};

} // namespace korvo

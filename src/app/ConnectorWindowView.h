#pragma once

#include "model/Clock.h"
#include "model/UsageSnapshot.h"

#include <QScrollArea>
#include <QTimer>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace korvo {

class ConnectedConnectorView;
class ConnectorModel;
class ConnectorUpdateView;
class CurrentLimitsConnectorView;
class DiagnosticsConnectorView;
class PairingConnectorView;
class UserSupportConnectorView;

// The window's one scrolling page: header, updates, current limits, pairing or connected
// panel, diagnostics (development builds) or support panel, and the last error. Each part
// re-reads the model after a change of a concern it shows, and only then. While shown, the relative
// times are rendered again each second when one of them is less than a minute away, else each
// minute; while hidden, nothing runs.
class ConnectorWindowView : public QScrollArea {
    Q_OBJECT
public:
    ConnectorWindowView(ConnectorModel& model, Clock clock,
                        KorvoBuildChannel channel = KorvoBuildChannel::current(),
                        QWidget* parent = nullptr);

    // Re-reads every field now (changes are otherwise applied on the next event-loop turn).
    void refresh();

    // Scrolls to the pairing panel (the connected panel once paired) and puts the keyboard
    // focus on its first button.
    void revealPairing();

    // When the relative times are next rendered again; nothing while none is shown or hidden.
    std::optional<std::chrono::milliseconds> nextTick() const;

    PairingConnectorView* pairingView() const { return pairing_; }
    ConnectedConnectorView* connectedView() const { return connected_; }
    DiagnosticsConnectorView* diagnosticsView() const { return diagnostics_; }
    UserSupportConnectorView* supportView() const { return support_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // A wide window centres the page at a width that stays comfortable to read.
    void resizeEvent(QResizeEvent* event) override;

private:
    using ModelChange = void (ConnectorModel::*)();
    // A part of the page, re-read on the next turn of the event loop after any of `changes`.
    struct Part {
        std::function<void()> refresh;
        QTimer* pending;
    };
    void follow(std::initializer_list<ModelChange> changes, std::function<void()> refresh);
    void refreshHeader();
    void refreshPanels();
    void scheduleTick();
    void orderTabs();
    std::vector<Instant> shownDates() const;

    ConnectorModel& model_;
    Clock clock_;
    QLabel* status_;
    QLabel* relayWarning_;
    QLabel* currentError_;
    QPushButton* refreshNow_;
    ConnectorUpdateView* update_;
    CurrentLimitsConnectorView* limits_;
    PairingConnectorView* pairing_;
    ConnectedConnectorView* connected_;
    DiagnosticsConnectorView* diagnostics_ = nullptr;
    UserSupportConnectorView* support_ = nullptr;
    QLabel* error_;
    std::vector<Part> parts_;
    // The pairing code last brought into view.
    std::string shownPairingCode_;
    QTimer ticker_;
};

} // namespace korvo

#pragma once

#include "model/Clock.h"
#include "model/UsageSnapshot.h"

#include <QScrollArea>
#include <QTimer>

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
// panel, diagnostics (development builds) or support panel, and the last error. Re-reads the
// model after each change, and every 30 seconds for the relative times.
class ConnectorWindowView : public QScrollArea {
    Q_OBJECT
public:
    ConnectorWindowView(ConnectorModel& model, Clock clock,
                        KorvoBuildChannel channel = KorvoBuildChannel::current(),
                        QWidget* parent = nullptr);

    // Re-reads every field now (changes are otherwise applied on the next event-loop turn).
    void refresh();

    PairingConnectorView* pairingView() const { return pairing_; }
    ConnectedConnectorView* connectedView() const { return connected_; }
    DiagnosticsConnectorView* diagnosticsView() const { return diagnostics_; }
    UserSupportConnectorView* supportView() const { return support_; }

private:
    ConnectorModel& model_;
    QLabel* status_;
    QPushButton* refreshNow_;
    ConnectorUpdateView* update_;
    CurrentLimitsConnectorView* limits_;
    PairingConnectorView* pairing_;
    ConnectedConnectorView* connected_;
    DiagnosticsConnectorView* diagnostics_ = nullptr;
    UserSupportConnectorView* support_ = nullptr;
    QLabel* error_;
    QTimer pending_;
    QTimer ticker_;
};

} // namespace korvo

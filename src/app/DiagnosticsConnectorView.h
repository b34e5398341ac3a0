#pragma once

#include "app/SupportActions.h"
#include "model/Clock.h"
#include "relayclient/RelayMessages.h"
#include "sources/AdapterDiagnostic.h"

#include <QGroupBox>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace korvo {

class ConnectorModel;

// The full diagnostics of development builds: relay settings, every status field, the
// devices of the sync space, each source's findings and troubleshooting notes.
class DiagnosticsConnectorView : public QGroupBox {
    Q_OBJECT
public:
    DiagnosticsConnectorView(ConnectorModel& model, Clock clock, QWidget* parent = nullptr);

    void refresh();

    // The value shown beside a grid label ("Detected CLIs", ...), or null.
    QLabel* valueLabel(const QString& label) const;

private:
    void rebuildDevices();
    void rebuildSources();

    ConnectorModel& model_;
    Clock clock_;
    QLineEdit* relayURL_;
    QLabel* relayWarning_;
    std::vector<std::pair<QString, QLabel*>> values_;
    QPushButton* loadDevices_;
    SupportActions actions_;
    QWidget* devices_;
    QVBoxLayout* devicesLayout_;
    QWidget* sources_;
    QVBoxLayout* sourcesLayout_;
    std::vector<RelayDevice> shownDevices_;
    std::vector<AdapterDiagnostic> shownDiagnostics_;
};

} // namespace korvo

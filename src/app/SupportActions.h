#pragma once

class QCheckBox;
class QPushButton;
class QWidget;

namespace korvo {

class ConnectorModel;

// The actions both support panels offer, created and wired to the model: refresh the sources,
// copy the support bundle, check for updates, and the Open at Login switch. The panel places
// them.
struct SupportActions {
    SupportActions(ConnectorModel& model, QWidget* parent);

    // The update check button and the switch as the model's state says.
    void refresh(const ConnectorModel& model);

    // In the order they are created, which is their keyboard focus order.
    QPushButton* checkUpdates;
    QCheckBox* openAtLogin;
    QPushButton* refreshSources;
    QPushButton* copyBundle;
};

} // namespace korvo

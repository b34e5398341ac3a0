#pragma once

#include "model/Clock.h"

#include <QGroupBox>
#include <QStringList>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace korvo {

class ConnectorModel;

// "Current Limits on This Mac": one row per provider of the snapshot on display, or a note
// that no limit data was found yet, and the refresh buttons.
class CurrentLimitsConnectorView : public QGroupBox {
    Q_OBJECT
public:
    CurrentLimitsConnectorView(ConnectorModel& model, Clock clock, QWidget* parent = nullptr);

    void refresh();

private:
    ConnectorModel& model_;
    Clock clock_;
    QLabel* noData_;
    QLabel* latest_;
    QVBoxLayout* rows_;
    QPushButton* refreshAndUpload_;
    // The content key of each row on display, in order (rows and separators alternate).
    std::vector<QStringList> shownRows_;
};

} // namespace korvo

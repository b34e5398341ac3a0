#pragma once

#include "model/Clock.h"

#include <QGroupBox>

class QLabel;
class QPushButton;

namespace korvo {

class UpdateChecker;
class SymbolLabel;

// The "Updates" box: the update state, when it was last checked, and the download or check
// buttons.
class ConnectorUpdateView : public QGroupBox {
    Q_OBJECT
public:
    ConnectorUpdateView(UpdateChecker& updates, Clock clock, QWidget* parent = nullptr);

    void refresh();

private:
    UpdateChecker& updates_;
    Clock clock_;
    SymbolLabel* state_;
    QLabel* checked_;
    QWidget* available_;
    QLabel* version_;
    QPushButton* checkAgain_;
    QWidget* current_;
    QLabel* updateStatus_;
    QPushButton* check_;
};

} // namespace korvo

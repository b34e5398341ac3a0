#pragma once

#include "model/Clock.h"

#include <QMenu>
#include <QTimer>
#include <functional>

namespace korvo {

class ConnectorModel;

// The tray menu: the model's state in a few lines, the provider limits, Open at Login and the
// everyday actions. Rebuilt after each change of the model and whenever it opens.
class ConnectorMenuView : public QMenu {
    Q_OBJECT
public:
    ConnectorMenuView(ConnectorModel& model, Clock clock, std::function<void()> openWindow,
                      QWidget* parent = nullptr);

    void rebuild();

private:
    ConnectorModel& model_;
    Clock clock_;
    std::function<void()> openWindow_;
    QTimer pending_;
};

} // namespace korvo

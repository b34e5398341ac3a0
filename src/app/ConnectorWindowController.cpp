#include "app/ConnectorWindowController.h"

#include "app/AppStyle.h"
#include "app/ConnectorWindowView.h"
#include "app/TrayIcon.h"
#include "app/ViewSupport.h"
#include "core/ConnectorModel.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <algorithm>

namespace korvo {

ConnectorWindowController::ConnectorWindowController(ConnectorModel& model, Clock clock,
                                                     KorvoBuildChannel channel, QObject* parent)
    : QObject(parent), model_(&model), clock_(std::move(clock)), channel_(channel) {}

ConnectorWindowController::~ConnectorWindowController() = default;

void ConnectorWindowController::show() {
    if (!model_) {
        return;
    }
    if (!window_) {
        window_ = std::make_unique<QMainWindow>();
        window_->setWindowTitle(QStringLiteral("Korvo Connector"));
        window_->setWindowIcon(korvo::trayIcon());
        view_ = new ConnectorWindowView(*model_, clock_, channel_);
        window_->setCentralWidget(view_);
        window_->installEventFilter(this);
        // Escape closes the window, as it does a dialog; the app keeps running in the tray.
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
        connect(escape, &QShortcut::activated, window_.get(), &QWidget::close);
        window_->setMinimumSize(420, 520);
        window_->resize(520, 720);
        // Centred once, on the screen under the pointer or the primary one; a screen smaller
        // than the window gets the window's top-left corner on screen.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            QRect frame(QPoint(), window_->size());
            frame.moveCenter(available.center());
            frame.moveTopLeft(QPoint(std::max(frame.left(), available.left()),
                                     std::max(frame.top(), available.top())));
            window_->move(frame.topLeft());
        }
    }
    window_->show();
    window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window_->raise();
    window_->activateWindow();
    launch([this] { return model_->start(); });
    Q_EMIT shown();
}

void ConnectorWindowController::showPairing() {
    show();
    if (view_) {
        view_->revealPairing();
    }
}

bool ConnectorWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close) {
        QTimer::singleShot(0, this, &ConnectorWindowController::closed);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvo

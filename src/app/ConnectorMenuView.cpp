#include "app/ConnectorMenuView.h"

#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "model/DisplayText.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

namespace korvo {

namespace {

// Menus cannot colour part of an item's text, so a dot in the status colour leads the row.
QIcon statusDot(Tint tint) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tintColor(tint, QApplication::palette()));
    painter.drawEllipse(QRectF(3, 3, 10, 10));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

ConnectorMenuView::ConnectorMenuView(ConnectorModel& model, Clock clock,
                                     std::function<void()> openWindow, QWidget* parent)
    : QMenu(QStringLiteral("Korvo"), parent), model_(model), clock_(std::move(clock)),
      openWindow_(std::move(openWindow)) {
    pending_.setSingleShot(true);
    pending_.setInterval(0);
    connect(&pending_, &QTimer::timeout, this, &ConnectorMenuView::rebuild);
    connect(&model, &ConnectorModel::stateChanged, &pending_, qOverload<>(&QTimer::start));
    connect(this, &QMenu::aboutToShow, this, &ConnectorMenuView::rebuild);
    rebuild();
}

void ConnectorMenuView::rebuild() {
    pending_.stop();
    clear();
    const auto text = [this](const QString& line) {
        addAction(literalAmpersands(line))->setEnabled(false);
    };
    text(QStringLiteral("Korvo Connector"));
    addSeparator();
    text(QStringLiteral("Status: ") + model_.statusMessage());
    text(QStringLiteral("Sources: ") + model_.sourceDiagnosticStatus());
    text(QStringLiteral("Auto sync: ") + model_.autoSyncStatus());
    text(qs("Last sync: " + relativeOrNever(model_.lastSyncAt(), clock_())));
    text(QStringLiteral("Updates: ") + model_.updateStatus());
    addSeparator();
    if (model_.updateInfo()) {
        connect(addAction(QStringLiteral("Download Update")), &QAction::triggered, this,
                [this] { model_.openDownloadPage(); });
    }
    QAction* check = addAction(QStringLiteral("Check for Updates"));
    check->setEnabled(!model_.isCheckingForUpdates());
    connect(check, &QAction::triggered, this,
            [this] { launch([this] { return model_.checkForUpdates(false); }); });
    addSeparator();
    if (const auto& snapshot = model_.displaySnapshot()) {
        for (const ProviderUsage& provider : snapshot->providers) {
            addAction(statusDot(statusTint(provider.status)),
                      literalAmpersands(
                          qs(provider.displayName + "  " + primaryRemainingText(provider))));
        }
    } else {
        text(QStringLiteral("Limits: Not available yet"));
    }
    addSeparator();
    QAction* openAtLogin = addAction(QStringLiteral("Open at Login"));
    openAtLogin->setCheckable(true);
    openAtLogin->setChecked(model_.launchAtLoginEnabled());
    connect(openAtLogin, &QAction::triggered, this,
            [this](bool checked) { model_.setLaunchAtLogin(checked); });
    addSeparator();
    connect(addAction(QStringLiteral("Open Pairing")), &QAction::triggered, this, [this] {
        if (openWindow_) {
            openWindow_();
        }
    });
    QAction* refreshNow = addAction(QStringLiteral("Refresh Now"));
    refreshNow->setEnabled(model_.isPaired() && !model_.isSyncing());
    connect(refreshNow, &QAction::triggered, this,
            [this] { launch([this] { return model_.syncNow(); }); });
    connect(addAction(QStringLiteral("Refresh Limits")), &QAction::triggered, this,
            [this] { launch([this] { return model_.refreshLocalLimits(); }); });
    connect(addAction(QStringLiteral("Copy Latest Snapshot JSON")), &QAction::triggered, this,
            [this] { model_.copyLatestSnapshotJSON(); });
    connect(addAction(QStringLiteral("Unlink Device")), &QAction::triggered, this,
            [this] { launch([this] { return model_.unlinkDevice(); }); });
    addSeparator();
    connect(addAction(QStringLiteral("Quit")), &QAction::triggered, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);
}

} // namespace korvo

#include "app/ConnectorMenuView.h"

#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "core/ConnectorStatusText.h"
#include "core/QuotaAlertMonitor.h"
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
    QIcon icon(pixmap);
    // The rows are information, shown disabled so that they do not look clickable; the dot keeps
    // its colour there.
    icon.addPixmap(pixmap, QIcon::Disabled);
    return icon;
}

} // namespace

ConnectorMenuView::ConnectorMenuView(ConnectorModel& model, Clock clock,
                                     std::function<void()> openWindow, QWidget* parent)
    : QMenu(QStringLiteral("Korvo"), parent), model_(model), clock_(std::move(clock)),
      openWindow_(std::move(openWindow)) {
    addTextRow()->setText(QStringLiteral("Korvo Connector"));
    addSeparator();
    status_ = addTextRow();
    sources_ = addTextRow();
    autoSync_ = addTextRow();
    lastSync_ = addTextRow();
    updates_ = addTextRow();
    addSeparator();
    download_ = addAction(QStringLiteral("Download Update"));
    download_->setObjectName(QStringLiteral("downloadUpdate"));
    connect(download_, &QAction::triggered, this, [this] { model_.openDownloadPage(); });
    checkUpdates_ = addAction(QStringLiteral("Check for Updates"));
    checkUpdates_->setObjectName(QStringLiteral("checkForUpdates"));
    connect(checkUpdates_, &QAction::triggered, this,
            [this] { launch([this] { return model_.checkForUpdates(false); }); });
    addSeparator();
    noLimits_ = addTextRow();
    noLimits_->setText(QStringLiteral("Limits: Not available yet"));
    notUploaded_ = addTextRow();
    notUploaded_->setObjectName(QStringLiteral("notUploaded"));
    limitsEnd_ = addSeparator();
    openAtLogin_ = addAction(QStringLiteral("Open at Login"));
    openAtLogin_->setObjectName(QStringLiteral("openAtLogin"));
    openAtLogin_->setCheckable(true);
    connect(openAtLogin_, &QAction::triggered, this,
            [this](bool checked) { model_.setLaunchAtLogin(checked); });
    addSeparator();
    QAction* openPairing = addAction(QStringLiteral("Open Pairing"));
    openPairing->setObjectName(QStringLiteral("openPairing"));
    connect(openPairing, &QAction::triggered, this, [this] {
        if (openWindow_) {
            openWindow_();
        }
    });
    refreshNow_ = addAction(QStringLiteral("Refresh Now"));
    refreshNow_->setObjectName(QStringLiteral("refreshNow"));
    connect(refreshNow_, &QAction::triggered, this,
            [this] { launch([this] { return model_.syncNow(); }); });
    QAction* refreshLimits = addAction(QStringLiteral("Refresh Limits"));
    refreshLimits->setObjectName(QStringLiteral("refreshLimits"));
    connect(refreshLimits, &QAction::triggered, this,
            [this] { launch([this] { return model_.refreshLocalLimits(); }); });
    connect(addAction(QStringLiteral("Copy Latest Snapshot JSON")), &QAction::triggered, this,
            [this] { model_.copyLatestSnapshotJSON(); });
    connect(addAction(QStringLiteral("Unlink Device")), &QAction::triggered, this,
            [this] { launch([this] { return model_.unlinkDevice(); }); });
    addSeparator();
    connect(addAction(QStringLiteral("Quit")), &QAction::triggered, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);

    pending_.setSingleShot(true);
    pending_.setInterval(0);
    connect(&pending_, &QTimer::timeout, this, &ConnectorMenuView::refresh);
    connect(&model, &ConnectorModel::stateChanged, &pending_, qOverload<>(&QTimer::start));
    connect(this, &QMenu::aboutToShow, this, &ConnectorMenuView::refresh);
    refresh();
}

void ConnectorMenuView::setAlerts(QuotaAlertMonitor* alerts) {
    delete alerts_;
    alerts_ = nullptr;
    if (!alerts) {
        return;
    }
    const QList<QAction*> items = actions();
    alerts_ = new QAction(QStringLiteral("Alerts"), this);
    alerts_->setObjectName(QStringLiteral("alerts"));
    alerts_->setCheckable(true);
    alerts_->setChecked(alerts->enabled());
    insertAction(items.value(items.indexOf(openAtLogin_) + 1), alerts_);
    connect(alerts_, &QAction::triggered, alerts, &QuotaAlertMonitor::setEnabled);
    connect(alerts, &QuotaAlertMonitor::enabledChanged, alerts_, &QAction::setChecked);
}

QAction* ConnectorMenuView::addTextRow() {
    QAction* row = addAction(QString());
    // Information, not a command: a disabled row is not highlighted under the pointer.
    row->setEnabled(false);
    return row;
}

void ConnectorMenuView::refresh() {
    pending_.stop();
    const auto setText = [](QAction* action, const QString& text) {
        const QString shown = literalAmpersands(text);
        if (action->text() != shown) {
            action->setText(shown);
        }
    };
    const UploadState& upload = model_.uploader().state();
    const UpdateState& updates = model_.updateChecker().state();
    setText(status_, QStringLiteral("Status: ") +
                         shownStatusText(connectionStatusText(model_.connection().status()),
                                         model_.isPaired(), upload.phase));
    setText(sources_, QStringLiteral("Sources: ") +
                          sourceDiagnosticStatusText(model_.collector().diagnostics()));
    setText(autoSync_, QStringLiteral("Auto sync: ") +
                           desktopWording(autoSyncStatusText(model_.autoSync().state().status)));
    setText(lastSync_, qs("Last sync: " + relativeOrNever(upload.lastUploadAt, clock_())));
    setText(updates_, QStringLiteral("Updates: ") + updateStatusText(updates));
    download_->setVisible(updates.info.has_value());
    checkUpdates_->setEnabled(!updates.isChecking);
    refreshProviders();
    openAtLogin_->setChecked(model_.launchAtLogin().state().enabled);
    refreshNow_->setEnabled(model_.isPaired() && !upload.isSyncing);
}

void ConnectorMenuView::refreshProviders() {
    const auto& snapshot = model_.displaySnapshot();
    const std::size_t count = snapshot ? snapshot->providers.size() : 0;
    noLimits_->setVisible(!snapshot);
    const bool notUploaded = model_.displayIsNotUploaded();
    notUploaded_->setVisible(notUploaded);
    if (notUploaded) {
        const QString text = QStringLiteral("Newest reading, not uploaded yet");
        if (notUploaded_->text() != text) {
            notUploaded_->setText(text);
        }
    }
    while (providers_.size() < count) {
        auto* row = new QAction(this);
        row->setEnabled(false);
        insertAction(limitsEnd_, row);
        providers_.push_back(row);
    }
    while (providers_.size() > count) {
        delete providers_.back();
        providers_.pop_back();
    }
    for (std::size_t i = 0; i < count; ++i) {
        const ProviderUsage& provider = snapshot->providers[i];
        QAction* row = providers_[i];
        const QString text = literalAmpersands(qs(menuProviderText(provider)));
        if (row->text() != text) {
            row->setText(text);
        }
        const Tint tint = statusTint(rowStatus(provider));
        if (row->data() != QVariant(int(tint))) {
            row->setData(int(tint));
            row->setIcon(statusDot(tint));
        }
    }
}

} // namespace korvo

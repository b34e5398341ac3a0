#include "app/KorvoConnectorApp.h"

#include "app/AppLog.h"
#include "app/AppStyle.h"
#include "app/ConnectorAppDelegate.h"
#include "app/ConnectorMenuView.h"
#include "app/ConnectorWindowController.h"
#include "app/TrayIcon.h"
#include "app/ViewText.h"
#include "core/ProviderPace.h"
#include "core/QuotaAlertMonitor.h"
#include "model/DisplayText.h"
#include "platform/Notifier.h"
#include "platform/PlatformServices.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QSystemTrayIcon>

namespace korvo {

KorvoConnectorApp::KorvoConnectorApp(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    // The app forwards sleep and wake itself, one event-loop turn later.
    ConnectorModelOptions modelOptions = options_.model;
    modelOptions.powerEvents = nullptr;
    const Clock clock = modelOptions.clock;
    if (!options_.notifier) {
        options_.notifier = PlatformServices::notifier();
    }
    model_ = std::make_unique<ConnectorModel>(std::move(modelOptions));
    windowController_ =
        std::make_unique<ConnectorWindowController>(*model_, clock, options_.channel);
    delegate_ = std::make_unique<ConnectorAppDelegate>(*model_, *windowController_);
    std::shared_ptr<UserDefaults> settings = options_.model.userDefaults;
    if (!settings) {
        settings = PlatformServices::userDefaults();
    }
    alerts_ = std::make_unique<QuotaAlertMonitor>(
        *model_, clock, std::move(settings),
        [notifier = options_.notifier](const QuotaAlert& alert) {
            notifier->notify(desktopWording(alert.summary), desktopWording(alert.body));
        });
}

KorvoConnectorApp::~KorvoConnectorApp() {
    if (delegate_) {
        delegate_->applicationWillTerminate();
    }
    tray_.reset();
    menu_.reset();
    alerts_.reset();
    delegate_.reset();
    windowController_.reset();
    model_.reset();
}

void KorvoConnectorApp::launch() {
    const bool tray = options_.useTray && QSystemTrayIcon::isSystemTrayAvailable();
    if (tray) {
        menu_ = std::make_unique<ConnectorMenuView>(*model_, options_.model.clock,
                                                    [this] { windowController_->showPairing(); });
        // The free function that draws the icon; the member of the same name is the tray.
        menu_->setAlerts(alerts_.get());
        tray_ = std::make_unique<QSystemTrayIcon>(korvo::trayIcon());
        updateToolTip();
        connect(model_.get(), &ConnectorModel::stateChanged, this,
                &KorvoConnectorApp::updateToolTip);
        tray_->setContextMenu(menu_.get());
        connect(tray_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick) {
                        delegate_->applicationShouldHandleReopen();
                    }
                });
        tray_->show();
    }
    // Closing the window leaves automatic sync running.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!tray) {
        qCInfo(lcApp) << "no system tray: the window's menu bar holds the tray menu";
        offerWithoutTray();
    } else {
        qCDebug(lcApp) << "started in the system tray";
    }
    connect(qApp, &QCoreApplication::aboutToQuit, delegate_.get(),
            &ConnectorAppDelegate::applicationWillTerminate);
    delegate_->applicationDidFinishLaunching(options_.powerEvents);
}

void KorvoConnectorApp::offerWithoutTray() {
    // The tray menu's items, Quit among them, go into the window's menu bar.
    menu_ = std::make_unique<ConnectorMenuView>(*model_, options_.model.clock,
                                                [this] { windowController_->showPairing(); });
    menu_->setAlerts(alerts_.get());
    menu_->setTitle(QStringLiteral("&Korvo Connector"));
    connect(windowController_.get(), &ConnectorWindowController::shown, this, [this] {
        QMainWindow* window = windowController_->window();
        if (window && window->menuBar()->actions().isEmpty()) {
            window->menuBar()->addMenu(menu_.get());
        }
    });
    // The person is told once where the app went after the window closed.
    connect(windowController_.get(), &ConnectorWindowController::closed, this, [this] {
        if (backgroundNoticeGiven_) {
            return;
        }
        backgroundNoticeGiven_ = true;
        options_.notifier->notify(QStringLiteral("Korvo Connector keeps running"),
                                  QStringLiteral("Snapshots keep syncing in the background. "
                                                 "Launch Korvo Connector again to open its "
                                                 "window. On GNOME, the AppIndicator extension "
                                                 "shows its icon in the top bar."));
    });
}

void KorvoConnectorApp::updateToolTip() {
    if (tray_) {
        const QString status =
            shownStatusText(model_->statusMessage(), model_->isPaired(), model_->upload().phase);
        const TrayGlance glance =
            trayGlance(model_->displaySnapshot(), model_->hasSyncSpace(),
                       syncIsFailing(model_->isPaired(), model_->upload().phase));
        QString tip = trayToolTip(glance, status);
        // The tool closest to its limit, with its pace.
        if (const auto& snapshot = model_->displaySnapshot()) {
            const std::vector<ProviderPace> paces =
                providerPaces(*snapshot, model_->collect().history, options_.model.clock());
            // Only a projection is worth the space; "not enough data" is said in the window.
            const auto closest = closestToLimit(*snapshot, paces);
            if (closest && paces[*closest].pace.kind != UsagePace::Kind::notEnoughData) {
                tip += QStringLiteral("\n%1 · %2")
                           .arg(QString::fromStdString(snapshot->providers[*closest].displayName),
                                paces[*closest].text);
            }
        }
        if (tray_->toolTip() != tip) {
            tray_->setToolTip(tip);
        }
        // The icon itself tells the most urgent state; drawn again only when that changes.
        if (!shownGlance_ || *shownGlance_ != glance) {
            shownGlance_ = glance;
            tray_->setIcon(korvo::trayIcon(glance));
        }
    }
}

} // namespace korvo

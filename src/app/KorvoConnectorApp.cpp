#include "app/KorvoConnectorApp.h"

#include "app/AppStyle.h"
#include "app/ConnectorAppDelegate.h"
#include "app/ConnectorMenuView.h"
#include "app/ConnectorWindowController.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace korvo {

KorvoConnectorApp::KorvoConnectorApp(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    // The app forwards sleep and wake itself, one event-loop turn later.
    ConnectorModelOptions modelOptions = options_.model;
    modelOptions.powerEvents = nullptr;
    const Clock clock = modelOptions.clock;
    model_ = std::make_unique<ConnectorModel>(std::move(modelOptions));
    windowController_ =
        std::make_unique<ConnectorWindowController>(*model_, clock, options_.channel);
    delegate_ = std::make_unique<ConnectorAppDelegate>(*model_, *windowController_);
}

KorvoConnectorApp::~KorvoConnectorApp() {
    if (delegate_) {
        delegate_->applicationWillTerminate();
    }
    tray_.reset();
    menu_.reset();
    delegate_.reset();
    windowController_.reset();
    model_.reset();
}

void KorvoConnectorApp::launch() {
    const bool tray = options_.useTray && QSystemTrayIcon::isSystemTrayAvailable();
    if (tray) {
        menu_ = std::make_unique<ConnectorMenuView>(*model_, options_.model.clock,
                                                    [this] { windowController_->show(); });
        tray_ = std::make_unique<QSystemTrayIcon>(trayIcon());
        tray_->setToolTip(QStringLiteral("Korvo"));
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
    // With a tray the application lives on after its window closes; without one, the window
    // is the only way to reach it, so closing it quits.
    QApplication::setQuitOnLastWindowClosed(!tray);
    connect(qApp, &QCoreApplication::aboutToQuit, delegate_.get(),
            &ConnectorAppDelegate::applicationWillTerminate);
    delegate_->applicationDidFinishLaunching(options_.powerEvents);
}

} // namespace korvo

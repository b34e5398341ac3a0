#include "app/DesktopApp.h"

#include "app/AppLog.h"
#include "app/ConnectorAppDelegate.h"
#include "app/ConnectorWindowController.h"
#include "app/DesktopServices.h"
#include "app/KorvoConnectorApp.h"
#include "core/ManifestLocation.h"
#include "platform/LoginItem.h"
#include "platform/PlatformServices.h"
#include "platform/PowerEvents.h"
#include "platform/SingleInstance.h"
#include "platform/UserDefaults.h"
#include "platform/WindowActivation.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <cstdio>

namespace korvo {

int runDesktopApp(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvo-connector"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvo Connector"));
    QGuiApplication::setDesktopFileName(QStringLiteral("korvo-connector"));

    // A second launch shows the running instance's window instead of starting another one, and
    // hands over its activation token, with which that window may take the focus.
    const std::unique_ptr<WindowActivation> activation = makeWindowActivation();
    SingleInstance instance(SingleInstance::defaultDirectory());
    switch (instance.claim(2000, [&activation] { return activation->takeLaunchToken(); })) {
    case SingleInstance::Role::forwarded:
        qCDebug(lcApp) << "already running: its window was asked to show";
        return 0;
    case SingleInstance::Role::unreachable:
        std::fprintf(stderr, "Korvo Connector is already running but does not answer.\n");
        return 1;
    case SingleInstance::Role::primary:
    case SingleInstance::Role::unguarded:
        break;
    }

    const std::unique_ptr<PowerEvents> powerEvents = PlatformServices::powerEvents();
    KorvoConnectorApp::Options options;
    options.model.pasteboard = std::make_shared<ClipboardPasteboard>();
    options.model.urlOpener = std::make_shared<DesktopUrlOpener>();
    // Opening at login starts the command line that started this program (the one on the
    // PATH), not this program under libexec.
    QString launcher = qEnvironmentVariable("KORVO_CONNECTOR_LAUNCHER");
    if (!QDir::isAbsolutePath(launcher)) {
        launcher = QCoreApplication::applicationFilePath();
    }
    options.model.loginItem = PlatformServices::loginItem(launcher);
    options.powerEvents = powerEvents.get();
    const std::shared_ptr<UserDefaults> settings = PlatformServices::userDefaults();
    options.model.userDefaults = settings;
    options.model.manifestURL =
        manifestURL(options.model.manifestURL, options.model.environment, settings.get());
    KorvoConnectorApp app(std::move(options));
    app.launch();
    QObject::connect(&instance, &SingleInstance::reopenRequested, &app,
                     [&app, &activation](const QString& token) {
                         app.delegate().applicationShouldHandleReopen();
                         const QMainWindow* window = app.windowController().window();
                         if (window && window->windowHandle()) {
                             activation->activate(*window->windowHandle(), token);
                         }
                     });
    return QApplication::exec();
}

} // namespace korvo

#include "app/DesktopApp.h"

#include "app/ConnectorAppDelegate.h"
#include "app/DesktopServices.h"
#include "app/KorvoConnectorApp.h"
#include "core/ManifestLocation.h"
#include "platform/LoginItem.h"
#include "platform/PowerEvents.h"
#include "platform/SingleInstance.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <cstdio>

namespace korvo {

int runDesktopApp(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvo-connector"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvo Connector"));
    QGuiApplication::setDesktopFileName(QStringLiteral("korvo-connector"));

    // A second launch shows the running instance's window instead of starting another one.
    SingleInstance instance(SingleInstance::defaultDirectory());
    switch (instance.claim()) {
    case SingleInstance::Role::Forwarded:
        return 0;
    case SingleInstance::Role::Unreachable:
        std::fprintf(stderr, "Korvo Connector is already running but does not answer.\n");
        return 1;
    case SingleInstance::Role::Primary:
    case SingleInstance::Role::Unguarded:
        break;
    }

    LogindPowerEvents powerEvents(LogindPowerEvents::systemBusAddress());
    KorvoConnectorApp::Options options;
    options.model.pasteboard = std::make_shared<ClipboardPasteboard>();
    options.model.urlOpener = std::make_shared<DesktopUrlOpener>();
    // Opening at login starts the command line that started this program (the one on the
    // PATH), not this program under libexec.
    QString launcher = qEnvironmentVariable("KORVO_CONNECTOR_LAUNCHER");
    if (!QDir::isAbsolutePath(launcher)) {
        launcher = QCoreApplication::applicationFilePath();
    }
    options.model.loginItem =
        std::make_shared<XdgAutostartLoginItem>(XdgAutostartLoginItem::forCurrentUser(launcher));
    options.powerEvents = &powerEvents;
    auto settings = std::make_shared<SettingsUserDefaults>();
    options.model.userDefaults = settings;
    options.model.manifestURL =
        manifestURL(options.model.manifestURL, options.model.environment, settings.get());
    KorvoConnectorApp app(std::move(options));
    app.launch();
    QObject::connect(&instance, &SingleInstance::reopenRequested, &app,
                     [&app] { app.delegate().applicationShouldHandleReopen(); });
    return QApplication::exec();
}

} // namespace korvo

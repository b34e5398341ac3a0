#include "app/DesktopApp.h"

#include "app/DesktopServices.h"
#include "app/KorvoConnectorApp.h"
#include "platform/PowerEvents.h"

#include <QApplication>

namespace korvo {

int runDesktopApp(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvo-connector"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvo Connector"));
    QGuiApplication::setDesktopFileName(QStringLiteral("korvo-connector"));

    LogindPowerEvents powerEvents(LogindPowerEvents::systemBusAddress());
    KorvoConnectorApp::Options options;
    options.model.pasteboard = std::make_shared<ClipboardPasteboard>();
    options.model.urlOpener = std::make_shared<DesktopUrlOpener>();
    options.powerEvents = &powerEvents;
    KorvoConnectorApp app(std::move(options));
    app.launch();
    return QApplication::exec();
}

} // namespace korvo

// PlatformServices on Linux: logind, the Secret Service, the freedesktop notification service
// and the Settings portal over D-Bus, XDG autostart entries and /etc/machine-info.

#include "platform/PlatformServices.h"
#include "platform/SystemHostInfo.h"
#include "platform/XdgAutostartLoginItem.h"
#include "platform/linux/FreedesktopNotifier.h"
#include "platform/linux/LogindPowerEvents.h"
#include "platform/linux/PortalAppearanceWatcher.h"
#include "platform/linux/SecretServiceKeychain.h"

namespace korvo {

std::shared_ptr<KeychainBackend> PlatformServices::systemKeychain() {
    if (SecretServiceKeychain::available()) {
        return std::make_shared<SecretServiceKeychain>();
    }
    return nullptr;
}

std::unique_ptr<PowerEvents> PlatformServices::powerEvents(QObject* parent) {
    return std::make_unique<LogindPowerEvents>(LogindPowerEvents::systemBusAddress(), parent);
}

std::unique_ptr<AppearanceWatcher> PlatformServices::appearanceWatcher(QObject* parent) {
    return std::make_unique<PortalAppearanceWatcher>(PortalAppearanceWatcher::sessionBusAddress(),
                                                     PortalAppearanceWatcher::configHome(), parent);
}

std::shared_ptr<Notifier> PlatformServices::notifier() {
    return std::make_shared<FreedesktopNotifier>();
}

std::shared_ptr<LoginItem> PlatformServices::loginItem(const QString& executablePath) {
    return std::make_shared<XdgAutostartLoginItem>(
        XdgAutostartLoginItem::forCurrentUser(executablePath));
}

std::shared_ptr<HostInfo> PlatformServices::hostInfo() {
    return std::make_shared<SystemHostInfo>();
}

} // namespace korvo

#include "platform/PlatformServices.h"

#include "platform/UserDefaults.h"
#include "platform/FileKeychain.h"

#include <QtGlobal>

namespace korvo {

// The parts every platform shares; the rest is in the platform's own folder.

std::shared_ptr<UserDefaults> PlatformServices::userDefaults() {
    const QString file = qEnvironmentVariable(kSettingsFileVariable);
    if (!file.isEmpty()) {
        return std::make_shared<SettingsUserDefaults>(file);
    }
    return std::make_shared<SettingsUserDefaults>();
}

std::shared_ptr<KeychainBackend> PlatformServices::keychainBackend() {
    const QString file = qEnvironmentVariable(kKeychainFileVariable);
    if (!file.isEmpty()) {
        return std::make_shared<FileKeychain>(file.toStdString());
    }
    if (auto system = systemKeychain()) {
        return system;
    }
    return std::make_shared<FileKeychain>(FileKeychain::defaultPath());
}

} // namespace korvo

#include "platform/PlatformServices.h"

#include "model/HomeDirectory.h"
#include "platform/FileKeychain.h"
#include "platform/LegacySettings.h"
#include "platform/SettingsUserDefaults.h"

#include <QFile>
#include <QtGlobal>
#include <cstdlib>

namespace korvo {

// The parts every platform shares; the rest is in the platform's own folder.

std::shared_ptr<UserDefaults> PlatformServices::userDefaults() {
    const auto environment = [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const std::filesystem::path path = SettingsFile::location(environment, homeDirectory());
    auto defaults = std::make_shared<SettingsUserDefaults>(QFile::decodeName(path.c_str()));
    // The first start after an upgrade carries the settings over from where QSettings kept them:
    // the native place, or the INI file the variable named, which the settings file replaces.
    if (!defaults->holdsSettings()) {
        if (const auto values = legacySettings(qEnvironmentVariable(kSettingsFileVariable));
            !values.empty()) {
            defaults->adopt(values);
        }
    }
    return defaults;
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

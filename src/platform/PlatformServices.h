#pragma once

#include "model/SettingsFile.h"

#include <QString>
#include <memory>

class QObject;

namespace korvo {

class HostInfo;
class KeychainBackend;
class LoginItem;
class Notifier;
class PowerEvents;
class UserDefaults;

// Makes the services the operating system provides, each behind its interface, in the form of
// the platform this program was built for. The Linux forms are in platform/linux/; nothing else
// names them. Tests give the model their own objects instead (ConnectorModelOptions).
class PlatformServices {
public:
    // Variables that point the settings store and the keychain at files, so that a test (or a
    // second copy of the program) never reads or changes the user's own settings and secrets.
    // KORVO_SETTINGS_FILE: the settings file at this path instead of the usual one.
    static constexpr const char* kSettingsFileVariable = SettingsFile::kFileVariable;
    // KORVO_KEYCHAIN_FILE: the file keychain at this path instead of the system's keychain.
    static constexpr const char* kKeychainFileVariable = "KORVO_KEYCHAIN_FILE";

    // The settings store: the file of KORVO_SETTINGS_FILE when set, else
    // korvo-connector/settings.json in the user's configuration folder (SettingsFile). When
    // that holds no settings yet, those an older version kept through QSettings are carried
    // over into it.
    static std::shared_ptr<UserDefaults> userDefaults();

    // Where the device token is kept: the file of KORVO_KEYCHAIN_FILE when set, else the
    // system's keychain when it answers, else the per-user file keychain. May block for a round
    // trip to the keychain service, so it is called off the GUI thread.
    static std::shared_ptr<KeychainBackend> keychainBackend();

    // The platform's own keychain (Linux: the Secret Service), or nothing when none answers.
    // Blocks like keychainBackend().
    static std::shared_ptr<KeychainBackend> systemKeychain();

    // Sleep and wake announcements (Linux: logind on the system bus).
    static std::unique_ptr<PowerEvents> powerEvents(QObject* parent = nullptr);

    // Desktop notifications (Linux: the freedesktop notification service).
    static std::shared_ptr<Notifier> notifier();

    // The "open at login" registration of the program at `executablePath` (Linux: an XDG
    // autostart entry).
    static std::shared_ptr<LoginItem> loginItem(const QString& executablePath);

    // The machine's name as people know it.
    static std::shared_ptr<HostInfo> hostInfo();
};

} // namespace korvo

#include "platform/UserDefaults.h"

#include "model/SettingsNames.h"

#include <QMetaType>
#include <QSettings>
#include <QVariant>

namespace korvo {

SettingsUserDefaults::SettingsUserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            kSettingsOrganization, kSettingsApplication)) {}

SettingsUserDefaults::SettingsUserDefaults(const QString& iniFilePath)
    : settings_(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat)) {}

SettingsUserDefaults::~SettingsUserDefaults() = default;

std::optional<QString> SettingsUserDefaults::string(const QString& key) const {
    const QVariant value = settings_->value(key);
    // A hand-edited file can hold a list or a group under a key; only a plain string counts.
    if (!value.isValid() || value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

void SettingsUserDefaults::setString(const QString& key, const QString& value) {
    settings_->setValue(key, value);
    settings_->sync();
}

void SettingsUserDefaults::remove(const QString& key) {
    settings_->remove(key);
    settings_->sync();
}

QString SettingsUserDefaults::fileName() const {
    return settings_->fileName();
}

} // namespace korvo

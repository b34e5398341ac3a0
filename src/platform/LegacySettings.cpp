#include "platform/LegacySettings.h"

#include <QMetaType>
#include <QSettings>
#include <QVariant>
#include <memory>

namespace korvo {

namespace {

constexpr const char* kOrganization = "Korvo";
constexpr const char* kApplication = "Korvo Connector";

} // namespace

std::map<std::string, std::string, std::less<>> legacySettings(const QString& iniFile) {
    const auto settings =
        iniFile.isEmpty()
            ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                          QLatin1String(kOrganization), QLatin1String(kApplication))
            : std::make_unique<QSettings>(iniFile, QSettings::IniFormat);
    std::map<std::string, std::string, std::less<>> values;
    for (const QString& key : settings->childKeys()) {
        const QVariant value = settings->value(key);
        if (value.isValid() && value.typeId() == QMetaType::QString) {
            values.emplace(key.toStdString(), value.toString().toStdString());
        }
    }
    return values;
}

} // namespace korvo

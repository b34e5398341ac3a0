#include "platform/SettingsUserDefaults.h"

#include <QFile>

namespace korvo {

SettingsUserDefaults::SettingsUserDefaults(const QString& filePath)
    : file_(QFile::encodeName(filePath).toStdString()) {}

std::optional<QString> SettingsUserDefaults::string(const QString& key) const {
    if (const std::optional<std::string> value = file_.value(key.toStdString())) {
        return QString::fromStdString(*value);
    }
    return std::nullopt;
}

void SettingsUserDefaults::setString(const QString& key, const QString& value) {
    file_.set(key.toStdString(), value.toStdString());
}

void SettingsUserDefaults::remove(const QString& key) {
    file_.remove(key.toStdString());
}

bool SettingsUserDefaults::adopt(const std::map<std::string, std::string, std::less<>>& values) {
    return file_.adopt(values);
}

} // namespace korvo

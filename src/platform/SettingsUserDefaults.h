#pragma once

#include "model/SettingsFile.h"
#include "platform/UserDefaults.h"

#include <map>
#include <string>

namespace korvo {

// UserDefaults over the connector's settings file (SettingsFile), the one every program of the
// connector reads. A change is written at once; one that cannot be written holds for this
// object only.
class SettingsUserDefaults final : public UserDefaults {
public:
    explicit SettingsUserDefaults(const QString& filePath);

    std::optional<QString> string(const QString& key) const override;
    void setString(const QString& key, const QString& value) override;
    void remove(const QString& key) override;

    // See SettingsFile::holdsSettings() and SettingsFile::adopt().
    bool holdsSettings() const { return file_.holdsSettings(); }
    bool adopt(const std::map<std::string, std::string, std::less<>>& values);

private:
    SettingsFile file_;
};

} // namespace korvo

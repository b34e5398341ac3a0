#pragma once

#include <QString>
#include <memory>
#include <optional>

class QSettings;

namespace korvo {

// The application's small persistent key/value store. Only strings are kept.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    // The string stored under key, or nothing when the key is missing or holds a non-string value.
    virtual std::optional<QString> string(const QString& key) const = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
    virtual void remove(const QString& key) = 0;
};

// UserDefaults over QSettings. The default constructor uses the application's native settings
// location (which honours XDG_CONFIG_HOME); the other one uses an INI file at the given path.
// The file is created with mode 0600, and one found readable by others is narrowed to that: the
// relay URL may hold a password.
class SettingsUserDefaults final : public UserDefaults {
public:
    SettingsUserDefaults();
    explicit SettingsUserDefaults(const QString& iniFilePath);
    ~SettingsUserDefaults() override;

    std::optional<QString> string(const QString& key) const override;
    void setString(const QString& key, const QString& value) override;
    void remove(const QString& key) override;

    // Where the values are kept on disk.
    QString fileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace korvo

#pragma once

#include <QString>
#include <optional>

namespace korvo {

// The platform's "open at login" registration of the application.
class LoginItem {
public:
    enum class Status {
        NotRegistered,    // off
        Enabled,          // registered and active
        RequiresApproval, // registered, waiting for the user's approval
        NotFound,         // the platform cannot register the application here
    };

    virtual ~LoginItem() = default;
    virtual Status status() const = 0;
    // Both return the description of the failure, or nothing on success.
    virtual std::optional<QString> registerItem() = 0;
    virtual std::optional<QString> unregisterItem() = 0;
};

// A login item as an XDG autostart entry: <autostartDir>/<fileName>. A missing entry, or one
// marked Hidden=true (or X-GNOME-Autostart-enabled=false), is off. When the folder cannot be
// written the item is unavailable.
class XdgAutostartLoginItem final : public LoginItem {
public:
    XdgAutostartLoginItem(QString autostartDir, QString fileName, QString executablePath);

    // $XDG_CONFIG_HOME/autostart (or ~/.config/autostart), entry "korvo-connector.desktop".
    static XdgAutostartLoginItem forCurrentUser(const QString& executablePath);

    Status status() const override;
    std::optional<QString> registerItem() override;
    std::optional<QString> unregisterItem() override;

    QString entryPath() const;
    // The contents written by registerItem.
    QByteArray entryContents() const;

private:
    bool folderWritable() const;

    QString autostartDir_;
    QString fileName_;
    QString executablePath_;
};

} // namespace korvo

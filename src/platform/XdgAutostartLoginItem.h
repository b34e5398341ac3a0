#pragma once

#include "platform/LoginItem.h"

#include <QByteArray>
#include <QString>

namespace korvo {

// A login item as an XDG autostart entry: <autostartDir>/<fileName>. A missing entry, or one
// marked Hidden=true (or X-GNOME-Autostart-enabled=false), is off. When the folder cannot be
// written the item is unavailable.
class XdgAutostartLoginItem final : public LoginItem {
public:
    XdgAutostartLoginItem(QString autostartDir, QString fileName, QString executablePath);

    // $XDG_CONFIG_HOME/autostart (or ~/.config/autostart), entry "korvo-connector.desktop".
    static XdgAutostartLoginItem forCurrentUser(const QString& executablePath);

    Status status() const override;
    Result<std::monostate, QString> registerItem() override;
    Result<std::monostate, QString> unregisterItem() override;

    QString entryPath() const;
    // The contents written by registerItem.
    QByteArray entryContents() const;

private:
    bool folderWritable() const;
    // Writes the entry; fails with the description of the failure.
    Result<std::monostate, QString> writeEntry() const;

    QString autostartDir_;
    QString fileName_;
    QString executablePath_;
};

} // namespace korvo

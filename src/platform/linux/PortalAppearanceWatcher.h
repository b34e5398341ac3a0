#pragma once

#include "platform/AppearanceWatcher.h"

#include <QDBusMessage>
#include <QString>
#include <optional>

namespace korvo {

// The colour scheme of a freedesktop desktop. First choice is the Settings portal on the session
// bus: its key "color-scheme" of the namespace "org.freedesktop.appearance" (0 no preference,
// 1 dark, 2 light), read with ReadOne (or Read on portals older than ReadOne) and followed by
// its SettingChanged signal. Where no portal answers, or it states no preference, the GTK
// preference stands in: $GTK_THEME, then settings.ini of GTK 4 and 3 under `gtkConfigHome`
// ("gtk-application-prefer-dark-theme", or a theme name ending in "-dark"). Every bus call is
// asynchronous and the files are read off the GUI thread.
class PortalAppearanceWatcher final : public AppearanceWatcher {
    Q_OBJECT
public:
    PortalAppearanceWatcher(const QString& busAddress, const QString& gtkConfigHome,
                            QObject* parent = nullptr);
    ~PortalAppearanceWatcher() override;

    // The session bus address: $DBUS_SESSION_BUS_ADDRESS, else the socket in $XDG_RUNTIME_DIR.
    static QString sessionBusAddress();
    // $XDG_CONFIG_HOME, else ~/.config.
    static QString configHome();

    // The GTK preference in `settingsIni`'s text, or nothing when it states none.
    static std::optional<ColorScheme> gtkPreference(const QByteArray& settingsIni);

Q_SIGNALS:
    // The first answer, from the portal or the GTK files, has been taken in.
    void settled();

private Q_SLOTS:
    // SettingChanged(namespace, key, value) of the portal.
    void onSettingChanged(const QDBusMessage& signal);

private:
    void read(const QString& method);
    void takePortalValue(const QVariant& value);
    void readGtkPreference();

    QString connectionName_;
    QString gtkConfigHome_;
    // The portal's latest word; nothing until it answers, or when it cannot.
    std::optional<ColorScheme> portal_;
    bool settled_ = false;
};

} // namespace korvo

#include "platform/linux/FreedesktopNotifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace korvo {

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus, QString appIcon)
    : bus_(std::move(bus)), appIcon_(std::move(appIcon)) {}

void FreedesktopNotifier::notify(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("korvo-connector"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // server's default).
    call << QStringLiteral("Korvo Connector") << uint(0) << appIcon_ << summary << body
         << QStringList() << hints << int(-1);
    // Sent without waiting: the GUI thread never blocks on the bus.
    bus_.send(call);
}

} // namespace korvo

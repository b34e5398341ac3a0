#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QString>

namespace korvo {

// The freedesktop notification service (org.freedesktop.Notifications) on a session bus. The
// call is sent without waiting for the answer; without a notification server nothing is shown.
class FreedesktopNotifier final : public Notifier {
public:
    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QString appIcon = QStringLiteral("korvo-connector"));
    void notify(const QString& summary, const QString& body) override;

private:
    QDBusConnection bus_;
    QString appIcon_;
};

} // namespace korvo

#pragma once

#include <QDBusConnection>
#include <QString>

namespace korvo {

// Desktop notifications: a short summary and a body, shown by the desktop and forgotten.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& summary, const QString& body) = 0;
};

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

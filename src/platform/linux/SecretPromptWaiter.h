#pragma once

#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QVariant>

namespace korvo {

// Waits on the caller's thread for a Secret Service prompt's Completed signal, which QtDBus
// delivers to a named slot.
class SecretPromptWaiter : public QObject {
    Q_OBJECT
public:
    QEventLoop loop;
    bool completed = false;
    bool dismissed = true;
    QVariant result;

public Q_SLOTS:
    void complete(bool wasDismissed, const QDBusVariant& value) {
        completed = true;
        dismissed = wasDismissed;
        result = value.variant();
        loop.quit();
    }
};

} // namespace korvo

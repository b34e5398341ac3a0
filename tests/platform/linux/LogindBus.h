#pragma once

#include "support/PrivateBus.h"

#include <QDBusMessage>

namespace korvo::test {

// A private bus standing in for the system bus: the test emits logind's PrepareForSleep on it,
// as the owner of org.freedesktop.login1 or as an impostor.
class LogindBus : public PrivateBus {
public:
    LogindBus() {
        ready_ = logindConnection().isConnected() &&
                 logindConnection().registerService(u"org.freedesktop.login1"_s);
    }

    // The connection that owns logind's name, to serve its methods from.
    QDBusConnection logindConnection() { return connection(u"logind"_s); }
    // The daemon runs and this side owns logind's name.
    bool isReady() const { return ready_; }
    bool prepareForSleep(bool sleeping, bool asImpostor = false) {
        QDBusMessage signal =
            QDBusMessage::createSignal(u"/org/freedesktop/login1"_s,
                                       u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s);
        return connection(asImpostor ? u"impostor"_s : u"logind"_s).send(signal << sleeping);
    }

private:
    bool ready_ = false;
};

} // namespace korvo::test

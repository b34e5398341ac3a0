#pragma once

#include "support/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QTest>

namespace korvo::test {

// A Secret Service of the test's own: gnome-keyring-daemon on a private bus, with its keyrings in
// the bus's folder. It can be started (its login collection, the default one, unlocked with a
// password on stdin), locked, unlocked and killed. A program that is to use it as its session
// bus sets DBUS_SESSION_BUS_ADDRESS to address() before it first opens the session bus.
class PrivateSecretService {
public:
    PrivateSecretService() {
        QDir().mkpath(bus_.path(u"runtime"_s));
        QFile::setPermissions(bus_.path(u"runtime"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~PrivateSecretService() { daemon_.kill(); }

    const QString& address() const { return bus_.address(); }

    // Starts the daemon and waits until it owns the Secret Service's name.
    bool start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus_.address());
        env.insert(u"HOME"_s, bus_.path({}));
        env.insert(u"XDG_DATA_HOME"_s, bus_.path(u"data"_s));
        env.insert(u"XDG_RUNTIME_DIR"_s, bus_.path(u"runtime"_s));
        daemon_.setProcessEnvironment(env);
        dieWithTheTest(daemon_);
        daemon_.start(u"gnome-keyring-daemon"_s,
                      {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        daemon_.write(kPassword);
        daemon_.closeWriteChannel();
        return QTest::qWaitFor([&] { return isServing(); }, 10000);
    }
    // SIGKILL: the name goes the moment the process does. True once it is gone.
    bool kill() {
        daemon_.kill();
        daemon_.waitForFinished(3000);
        return QTest::qWaitFor([&] { return !isServing(); }, 3000);
    }
    // Locks or unlocks the default collection over D-Bus, unlocking with the keyring's own call
    // that takes the password (the standard one would need a prompt on a display); true when the
    // collection is then as asked.
    bool setLocked(bool locked) {
        const QString service = u"/org/freedesktop/secrets"_s;
        QDBusMessage reply =
            call(service, u"org.freedesktop.Secret.Service"_s, u"ReadAlias"_s, {u"default"_s});
        const QString collection = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (locked) {
            call(service, u"org.freedesktop.Secret.Service"_s, u"Lock"_s,
                 {QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(collection)})});
        } else {
            reply = call(service, u"org.freedesktop.Secret.Service"_s, u"OpenSession"_s,
                         {u"plain"_s, QVariant::fromValue(QDBusVariant(u""_s))});
            QDBusArgument secret; // (session, parameters, value, content type)
            secret.beginStructure();
            secret << reply.arguments().value(1).value<QDBusObjectPath>() << QByteArray()
                   << QByteArray(kPassword) << u"text/plain"_s;
            secret.endStructure();
            call(service, u"org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"_s,
                 u"UnlockWithMasterPassword"_s,
                 {QVariant::fromValue(QDBusObjectPath(collection)), QVariant::fromValue(secret)});
        }
        reply = call(collection, u"org.freedesktop.DBus.Properties"_s, u"Get"_s,
                     {u"org.freedesktop.Secret.Collection"_s, u"Locked"_s});
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        return !collection.isEmpty() && value.isValid() && value.toBool() == locked;
    }

private:
    static constexpr const char kPassword[] = "korvo-test-keyring";

    bool isServing() {
        const auto* bus = bus_.connection(u"secrets"_s).interface();
        return bus && bus->isServiceRegistered(u"org.freedesktop.secrets"_s);
    }
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QList<QVariant>& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(u"org.freedesktop.secrets"_s, path, interface, method);
        message.setArguments(arguments);
        return bus_.connection(u"secrets"_s).call(message);
    }

    PrivateBus bus_;
    QProcess daemon_;
};

} // namespace korvo::test

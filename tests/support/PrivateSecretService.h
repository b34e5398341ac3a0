#pragma once

#include "PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QTest>

namespace korvo::test {

// A Secret Service of the test's own: a dbus-daemon that starts nothing on demand, so a
// service that is gone stays gone, and gnome-keyring-daemon on it with its keyrings under
// `dir`. The keyring can be started (its login collection, the default one, unlocked by a
// password on stdin), locked, unlocked and killed. A program that is to use it as its session
// bus sets DBUS_SESSION_BUS_ADDRESS to address() before GLib first opens the session bus.
class PrivateSecretService {
public:
    explicit PrivateSecretService(const QString& dir) : dir_(dir) {
        QDir(dir_).mkpath(u"runtime"_s);
        QFile::setPermissions(dir_.filePath(u"runtime"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~PrivateSecretService() {
        if (keyring_.state() != QProcess::NotRunning) {
            keyring_.kill();
            keyring_.waitForFinished(3000);
        }
    }
    PrivateSecretService(const PrivateSecretService&) = delete;
    PrivateSecretService& operator=(const PrivateSecretService&) = delete;

    const QString& address() const { return bus_.address(); }

    // Starts the keyring and waits until it owns the Secret Service's name.
    bool start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus_.address());
        env.insert(u"HOME"_s, dir_.path());
        env.insert(u"XDG_DATA_HOME"_s, dir_.filePath(u"data"_s));
        env.insert(u"XDG_RUNTIME_DIR"_s, dir_.filePath(u"runtime"_s));
        keyring_.setProcessEnvironment(env);
        dieWithTheTest(keyring_);
        keyring_.start(u"gnome-keyring-daemon"_s,
                       {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        keyring_.write(kPassword);
        keyring_.closeWriteChannel();
        return QTest::qWaitFor([&] { return isServing(); }, 10000);
    }
    // SIGKILL: the name goes the moment the process does. True once it is gone.
    bool kill() {
        if (keyring_.state() != QProcess::NotRunning) {
            keyring_.kill();
            keyring_.waitForFinished(3000);
        }
        return QTest::qWaitFor([&] { return !isServing(); }, 3000);
    }
    // The default collection locked (Lock) or unlocked with the keyring's password (the
    // keyring's own call for that, since a standard Unlock needs a prompt shown on a display).
    bool setLocked(bool locked) {
        const QString collection = defaultCollection();
        if (collection.isEmpty()) {
            return false;
        }
        if (locked) {
            call(u"org.freedesktop.Secret.Service"_s, u"Lock"_s,
                 {QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(collection)})});
        } else {
            const QDBusMessage session =
                call(u"org.freedesktop.Secret.Service"_s, u"OpenSession"_s,
                     {u"plain"_s, QVariant::fromValue(QDBusVariant(u""_s))});
            if (session.arguments().size() != 2) {
                return false;
            }
            QDBusArgument secret;
            secret.beginStructure();
            secret << session.arguments().at(1).value<QDBusObjectPath>() << QByteArray()
                   << QByteArray(kPassword) << u"text/plain"_s;
            secret.endStructure();
            call(u"org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"_s,
                 u"UnlockWithMasterPassword"_s,
                 {QVariant::fromValue(QDBusObjectPath(collection)), QVariant::fromValue(secret)});
        }
        const QDBusMessage reply =
            connection().call(QDBusMessage::createMethodCall(
                                  kName, collection, u"org.freedesktop.DBus.Properties"_s, u"Get"_s)
                              << u"org.freedesktop.Secret.Collection"_s << u"Locked"_s);
        return !reply.arguments().isEmpty() &&
               reply.arguments().first().value<QDBusVariant>().variant().toBool() == locked;
    }

private:
    static constexpr const char* kName = "org.freedesktop.secrets";
    static constexpr const char kPassword[] = "korvo-test-keyring";

    QDBusConnection connection() const { return bus_.connection(u"secrets"_s); }
    bool isServing() const {
        return connection().interface() &&
               connection().interface()->isServiceRegistered(QString::fromLatin1(kName));
    }
    QDBusMessage call(const QString& interface, const QString& method,
                      const QList<QVariant>& arguments) const {
        QDBusMessage message =
            QDBusMessage::createMethodCall(kName, u"/org/freedesktop/secrets"_s, interface, method);
        message.setArguments(arguments);
        return connection().call(message);
    }
    QString defaultCollection() const {
        const QDBusMessage reply =
            call(u"org.freedesktop.Secret.Service"_s, u"ReadAlias"_s, {u"default"_s});
        return reply.arguments().isEmpty()
                   ? QString()
                   : reply.arguments().first().value<QDBusObjectPath>().path();
    }

    QDir dir_;
    mutable PrivateBus bus_;
    QProcess keyring_;
};

} // namespace korvo::test

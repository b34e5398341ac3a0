#include "PrivateBus.h"

#include <QFile>

namespace korvo::test {

PrivateBus::PrivateBus() {
    testApp();
    QFile config(path(u"bus.conf"_s));
    config.open(QIODevice::WriteOnly);
    config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                 "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                 "busconfig.dtd\">\n<busconfig><type>session</type><listen>unix:path=" +
                 path(u"bus"_s).toUtf8() +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                 "<allow own=\"*\"/></policy></busconfig>\n");
    config.close();
    dieWithTheTest(daemon_);
    daemon_.start(u"dbus-daemon"_s, {u"--config-file="_s + config.fileName(), u"--nofork"_s,
                                     u"--nopidfile"_s, u"--print-address=1"_s});
    QByteArray line;
    while (daemon_.waitForStarted(5000) && !line.contains('\n') && daemon_.waitForReadyRead(5000)) {
        line += daemon_.readAllStandardOutput();
    }
    address_ = QString::fromUtf8(line).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : names_) {
        QDBusConnection::disconnectFromBus(name);
    }
    daemon_.terminate();
    daemon_.waitForFinished(3000);
}

QDBusConnection PrivateBus::connection(const QString& role) {
    const QString name = u"korvo-test-%1-%2"_s.arg(role).arg(quintptr(this));
    if (!names_.contains(name)) {
        names_ << name;
    }
    return QDBusConnection::connectToBus(address_, name);
}

} // namespace korvo::test

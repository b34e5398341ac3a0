#pragma once

#include "support/TestApplication.h"
#include "support/TestHome.h"

#include <QDBusConnection>
#include <QStringList>

namespace korvo::test {

// A dbus-daemon of the test's own that starts nothing on demand: a service is there only while
// the test runs it, and one that is gone stays gone. It stands in for the session or the system
// bus of the code under test.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }
    // A file in a folder that lives as long as the bus.
    QString path(const QString& name) const {
        return QString::fromStdString(dir_.filePath(name.toStdString()));
    }
    // A connection of the test to this bus, one per `role`; closed with the bus.
    QDBusConnection connection(const QString& role);

private:
    TestHome dir_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

} // namespace korvo::test

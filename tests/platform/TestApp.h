#pragma once

#include <QCoreApplication>

namespace korvo::test {

// Event loops, timers and D-Bus need an application object; the tests share one per process.
inline QCoreApplication& testApp() {
    static int argc = 1;
    static char name[] = "korvo-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own globals outlive the tests' static objects otherwise.
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

} // namespace korvo::test

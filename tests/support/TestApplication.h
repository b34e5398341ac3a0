#pragma once

#include <QCoreApplication>
#include <QString>
#include <ostream>

using namespace Qt::StringLiterals;

// QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    PrintTo(text, &out);
    return out;
}

namespace korvo::test {

// Event loops, timers and D-Bus need an application object; the tests share one per process,
// never destroyed: Qt's own globals outlive the tests' static objects otherwise.
inline QCoreApplication& testApp() {
    static int argc = 1;
    static char name[] = "korvo-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

} // namespace korvo::test

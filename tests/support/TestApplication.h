#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <csignal>
#include <ostream>
#ifdef __linux__
#include <sys/prctl.h>
#endif

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

// Event loops, timers and D-Bus need an application object: the one the test program's main()
// made (the widget tests make theirs), or else one shared by the tests of the process, never
// destroyed: Qt's own globals outlive the tests' static objects otherwise.
inline QCoreApplication& testApp() {
    if (QCoreApplication* made = QCoreApplication::instance()) {
        return *made;
    }
    static int argc = 1;
    static char name[] = "korvo-tests";
    static char* argv[] = {name, nullptr};
    return *new QCoreApplication(argc, argv);
}
inline void ensureApplication() {
    testApp();
}

// Makes the program that `process` starts die with the test program (on Linux).
inline void dieWithTheTest([[maybe_unused]] QProcess& process) {
#ifdef __linux__
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
}

} // namespace korvo::test

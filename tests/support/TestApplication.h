#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QUrl>
#include <ostream>
#include <string>

using namespace Qt::StringLiterals;

// QString values in test failure messages.
void PrintTo(const QString& text, std::ostream* out);
std::ostream& operator<<(std::ostream& out, const QString& text);

namespace korvo::test {

// Event loops, timers and D-Bus need an application object: the one the test program's main()
// made (support/TestMain.cpp, or the widget tests' own), or else one shared by the tests of the
// process, never destroyed: Qt's own globals outlive the tests' static objects otherwise.
QCoreApplication& testApp();
inline void ensureApplication() {
    testApp();
}

// An address given as text (RelayProcess::url()) as Qt takes it.
inline QUrl urlOf(const std::string& text) {
    return QUrl(QString::fromStdString(text));
}

// Makes the program that `process` starts die with the test program (on Linux).
void dieWithTheTest(QProcess& process);

} // namespace korvo::test

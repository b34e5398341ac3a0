#pragma once

#include "TestApplication.h"
#include "TestDatabase.h"

#include <QProcess>
#include <QUrl>
#include <csignal>

namespace korvo::test {

// korvo-relay (from KORVO_BIN_DIR) on 127.0.0.1 with its database at `db` (or in the schema of
// KORVO_TEST_DB that stands for it: see testDatabase); `port` 0 takes a free
// one, a fixed port lets a test start a second relay where the first one was. `extra` are more
// arguments: --manifest, --environment, --clock-file. The relay is killed when this object goes,
// also when an assertion ends the test early, and on Linux when the test program itself dies.
class RelayProcess {
public:
    explicit RelayProcess(const QString& db, const QStringList& extra = {}, int port = 0) {
        dieWithTheTest(process_);
        process_.start(QStringLiteral(KORVO_BIN_DIR "/korvo-relay"),
                       QStringList{QStringLiteral("--listen"),
                                   QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--db"),
                                   QString::fromStdString(testDatabase(db.toStdString()))} +
                           extra);
        QByteArray output; // "listening on http://127.0.0.1:PORT"
        while (process_.waitForStarted(5000) && !output.contains('\n') &&
               process_.waitForReadyRead(5000)) {
            output += process_.readAllStandardOutput();
        }
        if (output.startsWith("listening on ")) {
            port_ = output.mid(output.lastIndexOf(':') + 1).trimmed().toInt();
        }
    }
    ~RelayProcess() { kill(); }
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // False when the relay did not come up (its port line never arrived).
    bool isRunning() const { return port_ > 0 && process_.state() == QProcess::Running; }
    int port() const { return port_; }
    QUrl url(const QString& path = {}) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }

    // SIGTERM, then waits: the exit code, 0 after a clean shutdown; -1 when it did not exit.
    int stop() {
        process_.terminate();
        const bool ended = process_.waitForFinished(10000);
        return ended && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    // Sends a signal: SIGSTOP freezes it (connections are still accepted by the system, nothing
    // is answered), SIGCONT lets it go on.
    void signal(int number) {
        if (process_.state() == QProcess::Running) {
            ::kill(static_cast<pid_t>(process_.processId()), number);
        }
    }
    // Ends it at once, as a crash would; its database stays.
    void kill() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    QProcess process_;
    int port_ = 0;
};

} // namespace korvo::test

#pragma once

#include <QProcess>
#include <QUrl>
#include <csignal>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace korvo::test {

// korvo-relay on a free port of 127.0.0.1 with its database at `db` and `extra` arguments
// (--environment, --clock-file). Killed with the object, and on Linux with the test program.
class RelayProcess {
public:
    explicit RelayProcess(const QString& db, const QStringList& extra = {}) {
#ifdef __linux__
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
        process_.start(QStringLiteral(KORVO_BIN_DIR "/korvo-relay"),
                       QStringList{"--listen", "127.0.0.1:0", "--db", db} + extra);
        QByteArray output; // "listening on http://127.0.0.1:PORT"
        while (process_.waitForStarted(5000) && !output.contains('\n') &&
               process_.waitForReadyRead(5000)) {
            output += process_.readAllStandardOutput();
        }
        if (output.startsWith("listening on ")) {
            port_ = output.mid(output.lastIndexOf(':') + 1).trimmed().toInt();
        }
    }
    ~RelayProcess() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    bool isRunning() const {
        return port_ > 0 && process_.state() == QProcess::Running;
    }
    int port() const {
        return port_;
    }
    QUrl url(const QString& path = {}) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }

private:
    QProcess process_;
    int port_ = 0;
};

} // namespace korvo::test

#pragma once

#include "PrivateHome.h"

#include <QUrl>

namespace korvo::test {

// korvo-relay on a free port of 127.0.0.1 with its database at `db` and `extra` arguments
// (--environment, --clock-file), killed with the object.
class RelayProcess {
public:
    explicit RelayProcess(const QString& db, const QStringList& extra = {}) {
        startChild(process_, "korvo-relay",
                   QStringList{"--listen", "127.0.0.1:0", "--db", db} + extra);
        const auto port =
            waitForOutput(process_, std::regex("listening on http://[\\d.]+:(\\d+)\n"));
        port_ = port ? std::stoi(*port) : 0;
    }
    ~RelayProcess() {
        process_.kill();
        process_.waitForFinished();
    }
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    bool isRunning() const { return port_ > 0 && process_.state() == QProcess::Running; }
    int port() const { return port_; }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_)); }

private:
    QProcess process_;
    int port_ = 0;
};

} // namespace korvo::test

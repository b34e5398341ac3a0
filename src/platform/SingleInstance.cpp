#include "platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace korvo {
namespace {

constexpr char kReopenMessage[] = "reopen\n";

} // namespace

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent), directory_(std::move(directory)) {
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance() {
    server_.close();
}

QString SingleInstance::defaultDirectory() {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) {
        runtime = QDir::tempPath() + QStringLiteral("/korvo-connector-%1").arg(::getuid());
        return runtime;
    }
    return runtime + QStringLiteral("/korvo-connector");
}

QString SingleInstance::socketPath() const {
    return directory_ + QStringLiteral("/instance.sock");
}

SingleInstance::Role SingleInstance::claim(int forwardTimeoutMs) {
    QDir dir(directory_);
    if (!dir.exists() && !dir.mkpath(QStringLiteral("."))) {
        return Role::unguarded;
    }
    QFile::setPermissions(directory_,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    lock_ = std::make_unique<QLockFile>(directory_ + QStringLiteral("/instance.lock"));
    // A lock left by a process that no longer runs is taken over.
    if (lock_->tryLock(0)) {
        // Nothing listens on a socket left behind by an instance that crashed.
        QLocalServer::removeServer(socketPath());
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        return server_.listen(socketPath()) ? Role::primary : Role::unguarded;
    }
    const QLockFile::LockError error = lock_->error();
    lock_.reset();
    if (error != QLockFile::LockFailedError) {
        return Role::unguarded; // the lock file itself cannot be written
    }
    return forward(forwardTimeoutMs) ? Role::forwarded : Role::unreachable;
}

bool SingleInstance::forward(int timeoutMs) {
    // The running instance may still be starting and not listen yet: try until the deadline.
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(kReopenMessage);
            const bool sent = socket.waitForBytesWritten(
                static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
            socket.disconnectFromServer();
            return sent;
        }
        ::usleep(50'000);
    } while (!deadline.hasExpired());
    return false;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only the one short message is expected; anything longer is dropped unread.
            while (socket->canReadLine()) {
                if (socket->readLine(64) == kReopenMessage) {
                    Q_EMIT reopenRequested();
                }
            }
            if (socket->bytesAvailable() > 64) {
                socket->abort();
            }
        });
    }
}

} // namespace korvo

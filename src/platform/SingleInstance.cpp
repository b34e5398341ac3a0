#include "platform/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <algorithm>
#include <unistd.h>

namespace korvo {
namespace {

// "reopen", or "reopen " and an activation token, and a newline.
constexpr char kReopenMessage[] = "reopen";
constexpr qsizetype kMaxTokenLength = 200;
constexpr qint64 kMaxLineLength = sizeof(kReopenMessage) + kMaxTokenLength + 1;

// Tokens are opaque to the app, but only printable characters without spaces are passed on.
bool plausibleToken(const QByteArray& token) {
    return token.size() <= kMaxTokenLength &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

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

SingleInstance::Role SingleInstance::claim(int forwardTimeoutMs,
                                           const std::function<QString()>& launchToken) {
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
    QByteArray message = kReopenMessage;
    if (const QByteArray token = launchToken ? launchToken().toLatin1() : QByteArray();
        !token.isEmpty() && plausibleToken(token)) {
        message += ' ' + token;
    }
    return forward(forwardTimeoutMs, message + '\n') ? Role::forwarded : Role::unreachable;
}

bool SingleInstance::forward(int timeoutMs, const QByteArray& message) {
    // The running instance may still be starting and not listen yet: try until the deadline.
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(message);
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
                QByteArray line = socket->readLine(kMaxLineLength + 1);
                if (!line.endsWith('\n')) {
                    socket->abort();
                    return;
                }
                line.chop(1);
                const QByteArray token = line.mid(sizeof(kReopenMessage));
                if (line == kReopenMessage || (line.startsWith(QByteArray(kReopenMessage) + ' ') &&
                                               !token.isEmpty() && plausibleToken(token))) {
                    Q_EMIT reopenRequested(QString::fromLatin1(token));
                }
            }
            if (socket->bytesAvailable() > kMaxLineLength) {
                socket->abort();
            }
        });
    }
}

} // namespace korvo

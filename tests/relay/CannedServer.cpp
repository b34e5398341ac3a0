#include "CannedServer.h"

#include <QCoreApplication>
#include <QTcpSocket>

namespace korvo::test {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "test_relay";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

QByteArray httpResponse(int status, const QByteArray& body) {
    return "HTTP/1.1 " + QByteArray::number(status) +
           " Status\r\ncontent-type: application/json"
           "\r\ncontent-length: " +
           QByteArray::number(body.size()) + "\r\nconnection: close\r\n\r\n" + body;
}

namespace {

// True once `data` holds a whole request: the header block and content-length bytes of body.
bool complete(const QByteArray& data) {
    const auto end = data.indexOf("\r\n\r\n");
    if (end < 0) {
        return false;
    }
    qsizetype length = 0;
    for (const QByteArray& line : data.left(end).split('\n')) {
        const QByteArray lower = line.trimmed().toLower();
        if (lower.startsWith("content-length:")) {
            length = lower.mid(15).trimmed().toLongLong();
        }
    }
    return data.size() >= end + 4 + length;
}

} // namespace

CannedServer::CannedServer(QByteArray response)
    : server_(std::make_unique<QTcpServer>()), response_(std::move(response)) {
    ensureApplication();
    server_->listen(QHostAddress::LocalHost, 0);
    QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            ++connections_;
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                buffer->append(socket->readAll());
                if (!complete(*buffer)) {
                    return;
                }
                requests_.push_back(*buffer);
                buffer->clear();
                if (!response_.isEmpty()) {
                    socket->write(response_);
                    socket->disconnectFromHost();
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

CannedServer::~CannedServer() = default;

QUrl CannedServer::url(const QString& path) const {
    return QUrl("http://127.0.0.1:" + QString::number(server_->serverPort()) + path);
}

} // namespace korvo::test

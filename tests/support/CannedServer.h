#pragma once

#include "RunTask.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace korvo::test {

// A raw HTTP/1.1 response with a JSON content type, content-length and "connection: close".
inline QByteArray httpResponse(int status, const QByteArray& body) {
    return "HTTP/1.1 " + QByteArray::number(status) +
           " Canned\r\ncontent-type: application/json\r\ncontent-length: " +
           QByteArray::number(body.size()) + "\r\nconnection: close\r\n\r\n" + body;
}

// An HTTP server on 127.0.0.1 in the test's own event loop for answers korvo-relay never gives.
// It keeps every whole request as received (request line, headers, body) and answers each with
// `response`, or never answers when `response` is empty. A fixed `port` puts it where another
// server was.
class CannedServer {
public:
    explicit CannedServer(QByteArray response, quint16 port = 0) : response_(std::move(response)) {
        ensureApplication();
        server_->listen(QHostAddress::LocalHost, port);
        QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                ++connections_;
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket] { serve(socket); });
            }
        });
    }

    QUrl url(const QString& path = {}) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_->serverPort()).arg(path));
    }
    bool isListening() const { return server_->isListening(); }
    int connections() const { return connections_; }
    const std::vector<QByteArray>& requests() const { return requests_; }
    // Answers requests for "METHOD /path" with `response` instead of the one given at
    // construction (an empty one: never answers).
    void answer(const QByteArray& methodAndPath, QByteArray response) {
        routes_[methodAndPath] = std::move(response);
    }
    // How many requests so far start with `prefix` ("POST /v1/").
    int count(const QByteArray& prefix) const {
        return int(std::count_if(requests_.begin(), requests_.end(),
                                 [&](const QByteArray& r) { return r.startsWith(prefix); }));
    }

private:
    // Answers once the header block and content-length bytes of body are there.
    void serve(QTcpSocket* socket) {
        const QByteArray data = socket->peek(socket->bytesAvailable());
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        qsizetype length = 0;
        for (const QByteArray& line : data.left(end).split('\n')) {
            if (line.trimmed().toLower().startsWith("content-length:")) {
                length = line.mid(15).trimmed().toLongLong();
            }
        }
        if (data.size() < end + 4 + length) {
            return;
        }
        requests_.push_back(socket->read(end + 4 + length));
        const QByteArray& request = requests_.back();
        const auto route =
            routes_.find(request.left(request.indexOf(' ', request.indexOf(' ') + 1)));
        const QByteArray& response = route != routes_.end() ? route->second : response_;
        if (!response.isEmpty()) {
            socket->write(response);
            socket->disconnectFromHost();
        }
    }

    std::unique_ptr<QTcpServer> server_ = std::make_unique<QTcpServer>();
    QByteArray response_;
    int connections_ = 0;
    std::vector<QByteArray> requests_;
    std::map<QByteArray, QByteArray> routes_;
};

} // namespace korvo::test

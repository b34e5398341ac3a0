#include "CannedHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace korvo::test {

CannedHttpServer::CannedHttpServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            auto* buffer = new QByteArray;
            connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
                delete buffer;
                socket->deleteLater();
            });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                *buffer += socket->readAll();
                const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
                if (headerEnd < 0) {
                    return;
                }
                Request request;
                const QList<QByteArray> lines = buffer->left(headerEnd).split('\n');
                const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
                request.method = first.value(0);
                request.path = first.value(1);
                for (qsizetype i = 1; i < lines.size(); ++i) {
                    const qsizetype colon = lines[i].indexOf(':');
                    if (colon > 0) {
                        request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                               lines[i].mid(colon + 1).trimmed());
                    }
                }
                const qsizetype length = request.headers.value("content-length", "0").toLongLong();
                if (buffer->size() < headerEnd + 4 + length) {
                    return;
                }
                request.body = buffer->mid(headerEnd + 4, length);
                buffer->clear();
                requests_.append(request);
                const Answer reply = answerFor(request);
                QTimer::singleShot(reply.delay, socket, [socket, reply] {
                    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) +
                                          " Canned\r\nContent-Type: application/json\r\n"
                                          "Connection: close\r\nContent-Length: " +
                                          QByteArray::number(reply.body.size()) + "\r\n\r\n" +
                                          reply.body;
                    socket->write(response);
                    socket->disconnectFromHost();
                });
            });
        }
    });
}

QUrl CannedHttpServer::baseURL() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
}

void CannedHttpServer::answer(const QByteArray& methodAndPath, Answer answer) {
    answers_.insert(methodAndPath, answer);
}

CannedHttpServer::Answer CannedHttpServer::answerFor(const Request& request) const {
    const QByteArray key = request.method + ' ' + request.path;
    if (answers_.contains(key)) {
        return answers_.value(key);
    }
    for (auto it = answers_.begin(); it != answers_.end(); ++it) {
        if (it.key().endsWith('*') && key.startsWith(it.key().chopped(1))) {
            return it.value();
        }
    }
    return Answer{404, R"({"error":"not found"})", {}};
}

int CannedHttpServer::count(const QByteArray& methodAndPathPrefix) const {
    int n = 0;
    for (const Request& request : requests_) {
        if ((request.method + ' ' + request.path).startsWith(methodAndPathPrefix)) {
            ++n;
        }
    }
    return n;
}

} // namespace korvo::test

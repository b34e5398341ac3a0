#pragma once

// A hostile relay: real HTTP/1.1 on 127.0.0.1, served on a thread of its own, so that it answers
// while the test blocks on a child process as well as while it runs a model's event loop. It
// keeps every request whole (request line, headers, body), answers each route from a queue of
// canned answers (each used once, the last one kept for good), and can trickle every answer one
// byte at a time. Unless told otherwise it answers anything with 200 and a body that carries its
// known token in every field that could hold one.

#include "TestApplication.h"

#include <QByteArray>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <vector>

namespace korvo::test {

class HostileRelay {
public:
    static constexpr const char* kToken = "tok_HOSTILE_5f3a9c1e7b2d";

    struct Request {
        QByteArray method, path, head, body;
        // The raw request: request line, headers and body as received.
        QByteArray raw;
        // The value of the first header called `name` (any case); empty when there is none.
        QByteArray header(const QByteArray& name) const {
            for (const QByteArray& line : head.split('\n')) {
                const qsizetype colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
                    return line.mid(colon + 1).trimmed();
                }
            }
            return {};
        }
    };

    // A body with the token in the fields a relay could put it in, and in free text.
    static QByteArray tokenBody(const QByteArray& status = "ok") {
        return R"({"status":")" + status + R"(","token":")" + kToken +
               R"(","connectorDeviceToken":")" + kToken + R"(","phoneDeviceToken":")" + kToken +
               R"(","pairingSecret":")" + kToken + R"(","error":"token )" + kToken +
               R"( refused","environment":"hostile"})";
    }

    HostileRelay() {
        ensureApplication();
        std::promise<quint16> listening;
        thread_.reset(QThread::create([this, &listening] {
            QTcpServer server;
            server.listen(QHostAddress::LocalHost, 0);
            QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
                while (QTcpSocket* socket = server.nextPendingConnection()) {
                    QObject::connect(socket, &QTcpSocket::disconnected, socket,
                                     &QObject::deleteLater);
                    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                     [this, socket] { serve(socket); });
                }
            });
            QEventLoop loop;
            listening.set_value(server.serverPort());
            loop.exec();
        }));
        thread_->start();
        port_ = listening.get_future().get();
    }
    ~HostileRelay() {
        thread_->quit();
        thread_->wait();
    }
    HostileRelay(const HostileRelay&) = delete;
    HostileRelay& operator=(const HostileRelay&) = delete;

    quint16 port() const { return port_; }
    QUrl url(const QString& path = {}) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }
    // The origin as the connector stores it.
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

    // Queues an answer for requests whose "METHOD /path" starts with `route`; the longest route
    // that matches answers. Each queued answer is given once, the last one every time after.
    // An empty `raw` answer never answers.
    void answerRaw(const QByteArray& route, const QByteArray& raw) {
        QMutexLocker lock(&mutex_);
        routes_[route].push_back(raw);
    }
    void answer(const QByteArray& route, int status, const QByteArray& body) {
        answerRaw(route, response(status, body));
    }
    // Every answer from now on is sent one byte every `every`; with `headersAtOnce` the status
    // line and headers go at once and only the body trickles.
    void trickle(std::chrono::milliseconds every, bool headersAtOnce = false) {
        QMutexLocker lock(&mutex_);
        trickle_ = every;
        headersAtOnce_ = headersAtOnce;
    }

    std::vector<Request> requests() const {
        QMutexLocker lock(&mutex_);
        return requests_;
    }
    // How many requests so far start with `prefix` ("DELETE /v1/").
    int count(const QByteArray& prefix) const {
        QMutexLocker lock(&mutex_);
        return int(std::count_if(requests_.begin(), requests_.end(),
                                 [&](const Request& r) { return r.raw.startsWith(prefix); }));
    }
    // Whether any request so far holds `bytes` anywhere: request line, headers or body.
    bool received(const QByteArray& bytes) const {
        QMutexLocker lock(&mutex_);
        return std::any_of(requests_.begin(), requests_.end(),
                           [&](const Request& r) { return r.raw.contains(bytes); });
    }

    static QByteArray response(int status, const QByteArray& body) {
        return "HTTP/1.1 " + QByteArray::number(status) +
               " Hostile\r\ncontent-type: application/json\r\ncontent-length: " +
               QByteArray::number(body.size()) + "\r\nconnection: close\r\n\r\n" + body;
    }

private:
    // On the server's thread: answers once the header block and the body are there.
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
        Request request;
        request.raw = socket->read(end + 4 + length);
        request.head = request.raw.left(end);
        request.body = request.raw.mid(end + 4);
        const QList<QByteArray> words = request.head.left(request.head.indexOf('\r')).split(' ');
        request.method = words.value(0);
        request.path = words.value(1);
        const QByteArray key = request.method + ' ' + request.path;

        QByteArray answer = response(200, tokenBody());
        std::chrono::milliseconds every{0};
        bool headersAtOnce = false;
        {
            QMutexLocker lock(&mutex_);
            requests_.push_back(request);
            auto best = routes_.end();
            for (auto route = routes_.begin(); route != routes_.end(); ++route) {
                if (key.startsWith(route->first) &&
                    (best == routes_.end() || route->first.size() > best->first.size())) {
                    best = route;
                }
            }
            if (best != routes_.end() && !best->second.empty()) {
                answer = best->second.front();
                if (best->second.size() > 1) {
                    best->second.pop_front();
                }
            }
            every = trickle_;
            headersAtOnce = headersAtOnce_;
        }
        if (answer.isEmpty()) {
            return;
        }
        if (every.count() <= 0) {
            socket->write(answer);
            socket->disconnectFromHost();
            return;
        }
        auto* timer = new QTimer(socket);
        auto rest = std::make_shared<QByteArray>(answer);
        if (headersAtOnce) {
            const qsizetype headers = answer.indexOf("\r\n\r\n") + 4;
            socket->write(answer.left(headers));
            rest->remove(0, headers);
        }
        QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, rest] {
            if (rest->isEmpty()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(rest->left(1));
            rest->remove(0, 1);
        });
        timer->start(every);
    }

    std::unique_ptr<QThread> thread_;
    quint16 port_ = 0;
    mutable QMutex mutex_;
    std::vector<Request> requests_;
    std::map<QByteArray, std::deque<QByteArray>> routes_;
    std::chrono::milliseconds trickle_{0};
    bool headersAtOnce_ = false;
};

} // namespace korvo::test

#include "HostileRelay.h"

#include <QEventLoop>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <future>

namespace korvo::test {
namespace {

// Takes one whole request off `socket` once its header block and content-length bytes of body
// are there; empty until then.
QByteArray takeRequest(QTcpSocket* socket) {
    const QByteArray data = socket->peek(socket->bytesAvailable());
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0) {
        return {};
    }
    qsizetype length = 0;
    for (const QByteArray& line : data.left(end).split('\n')) {
        if (line.trimmed().toLower().startsWith("content-length:")) {
            length = line.mid(15).trimmed().toLongLong();
        }
    }
    if (data.size() < end + 4 + length) {
        return {};
    }
    return socket->read(end + 4 + length);
}

} // namespace

QByteArray httpResponse(int status, const QByteArray& body, const QByteArray& reason) {
    return "HTTP/1.1 " + QByteArray::number(status) + " " + reason +
           "\r\ncontent-type: application/json\r\ncontent-length: " +
           QByteArray::number(body.size()) + "\r\nconnection: close\r\n\r\n" + body;
}

QByteArray HostileRelay::Request::header(const QByteArray& name) const {
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return {};
}

QByteArray HostileRelay::tokenBody(const QByteArray& status) {
    return R"({"status":")" + status + R"(","token":")" + kToken + R"(","connectorDeviceToken":")" +
           kToken + R"(","phoneDeviceToken":")" + kToken + R"(","pairingSecret":")" + kToken +
           R"(","error":"token )" + kToken + R"( refused","environment":"hostile"})";
}

HostileRelay::HostileRelay(QByteArray otherwise, quint16 port) : otherwise_(std::move(otherwise)) {
    ensureApplication();
    std::promise<quint16> listening;
    thread_.reset(QThread::create([this, port, &listening] {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, port);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                {
                    QMutexLocker lock(&mutex_);
                    ++connections_;
                }
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
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

HostileRelay::~HostileRelay() {
    thread_->quit();
    thread_->wait();
}

void HostileRelay::answerRaw(const QByteArray& route, const QByteArray& raw) {
    QMutexLocker lock(&mutex_);
    routes_[route].push_back(raw);
}

void HostileRelay::setAnswer(const QByteArray& route, const QByteArray& raw) {
    QMutexLocker lock(&mutex_);
    routes_[route] = {raw};
}

int HostileRelay::connections() const {
    QMutexLocker lock(&mutex_);
    return connections_;
}

void HostileRelay::trickle(std::chrono::milliseconds every, bool headersAtOnce) {
    QMutexLocker lock(&mutex_);
    trickle_ = every;
    headersAtOnce_ = headersAtOnce;
}

std::vector<HostileRelay::Request> HostileRelay::requests() const {
    QMutexLocker lock(&mutex_);
    return requests_;
}

int HostileRelay::count(const QByteArray& prefix) const {
    QMutexLocker lock(&mutex_);
    return int(std::count_if(requests_.begin(), requests_.end(),
                             [&](const Request& r) { return r.raw.startsWith(prefix); }));
}

bool HostileRelay::received(const QByteArray& bytes) const {
    QMutexLocker lock(&mutex_);
    return std::any_of(requests_.begin(), requests_.end(),
                       [&](const Request& r) { return r.raw.contains(bytes); });
}

// On the server's thread.
void HostileRelay::serve(QTcpSocket* socket) {
    Request request;
    request.raw = takeRequest(socket);
    if (request.raw.isEmpty()) {
        return;
    }
    const qsizetype end = request.raw.indexOf("\r\n\r\n");
    request.head = request.raw.left(end);
    request.body = request.raw.mid(end + 4);
    const QList<QByteArray> words = request.head.left(request.head.indexOf('\r')).split(' ');
    request.method = words.value(0);
    request.path = words.value(1);
    const QByteArray key = request.method + ' ' + request.path;

    QByteArray answer = otherwise_;
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

} // namespace korvo::test

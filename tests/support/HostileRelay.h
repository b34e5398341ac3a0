#pragma once

// A relay that answers what korvo-relay never would: real HTTP/1.1 on 127.0.0.1, served on a
// thread of its own, so that it answers while the test blocks on a child process as well as while
// it runs a model's event loop. It keeps every whole request (request line, headers, body) and
// answers each route from a queue of canned answers (each used once, the last one kept for good),
// and can trickle every answer one byte at a time. Unrouted requests get the answer it was made
// with: by default 200 and a body that carries its known token in every field that could hold
// one. A fixed port puts it where another server was.

#include "TestApplication.h"

#include <QByteArray>
#include <QMutex>
#include <QThread>
#include <QUrl>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class QTcpSocket;

namespace korvo::test {

// A raw HTTP/1.1 response with a JSON content type, content-length and "connection: close".
QByteArray httpResponse(int status, const QByteArray& body, const QByteArray& reason = "Canned");

class HostileRelay {
public:
    static constexpr const char* kToken = "tok_HOSTILE_5f3a9c1e7b2d";

    struct Request {
        QByteArray method, path, head, body;
        // The raw request: request line, headers and body as received.
        QByteArray raw;
        // The value of the first header called `name` (any case); empty when there is none.
        QByteArray header(const QByteArray& name) const;
    };

    // A body with the token in the fields a relay could put it in, and in free text.
    static QByteArray tokenBody(const QByteArray& status = "ok");

    HostileRelay() : HostileRelay(response(200, tokenBody())) {}
    // Answers unrouted requests with `otherwise`, or never when it is empty.
    explicit HostileRelay(QByteArray otherwise, quint16 port = 0);
    ~HostileRelay();
    HostileRelay(const HostileRelay&) = delete;
    HostileRelay& operator=(const HostileRelay&) = delete;

    quint16 port() const { return port_; }
    bool isListening() const { return port_ != 0; }
    // How many connections it has accepted.
    int connections() const;
    QUrl url(const QString& path = {}) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }
    // The origin as the connector stores it.
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

    // Queues an answer for requests whose "METHOD /path" starts with `route`; the longest route
    // that matches answers. Each queued answer is given once, the last one every time after.
    // An empty `raw` answer never answers.
    void answerRaw(const QByteArray& route, const QByteArray& raw);
    void answer(const QByteArray& route, int status, const QByteArray& body) {
        answerRaw(route, response(status, body));
    }
    // From now on answers requests on `route` with `raw` every time, whatever was queued.
    void setAnswer(const QByteArray& route, const QByteArray& raw);
    void setAnswer(const QByteArray& route, int status, const QByteArray& body) {
        setAnswer(route, httpResponse(status, body));
    }
    // Every answer from now on is sent one byte every `every`; with `headersAtOnce` the status
    // line and headers go at once and only the body trickles.
    void trickle(std::chrono::milliseconds every, bool headersAtOnce = false);

    std::vector<Request> requests() const;
    // How many requests so far start with `prefix` ("DELETE /v1/").
    int count(const QByteArray& prefix) const;
    // Whether any request so far holds `bytes` anywhere: request line, headers or body.
    bool received(const QByteArray& bytes) const;

    static QByteArray response(int status, const QByteArray& body) {
        return httpResponse(status, body, "Hostile");
    }

private:
    void serve(QTcpSocket* socket);

    const QByteArray otherwise_;
    std::unique_ptr<QThread> thread_;
    quint16 port_ = 0;
    int connections_ = 0;
    mutable QMutex mutex_;
    std::vector<Request> requests_;
    std::map<QByteArray, std::deque<QByteArray>> routes_;
    std::chrono::milliseconds trickle_{0};
    bool headersAtOnce_ = false;
};

} // namespace korvo::test

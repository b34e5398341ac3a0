#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <chrono>

namespace korvo::test {

// A small HTTP/1.1 server on loopback for answers the local relay never gives (a session
// without a secret, a status in another case, a slow upload, a manifest that disappears).
// Each answer is chosen by "METHOD /path" (exact path, or a prefix ending in "*").
class CannedHttpServer final : public QObject {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        std::chrono::milliseconds delay{0};
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    CannedHttpServer();
    QUrl baseURL() const;
    void answer(const QByteArray& methodAndPath, Answer answer);
    const QList<Request>& requests() const { return requests_; }
    int count(const QByteArray& methodAndPathPrefix) const;

private:
    void serve(QTcpSocket* socket);
    Answer answerFor(const Request& request) const;

    QTcpServer server_;
    QMap<QByteArray, Answer> answers_;
    QList<Request> requests_;
};

} // namespace korvo::test

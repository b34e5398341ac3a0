#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QTcpServer>
#include <QUrl>
#include <memory>
#include <optional>
#include <vector>

namespace korvo::test {

// The application object that Qt's event loop and network access need; created once.
void ensureApplication();

template <class T> QCoro::Task<> storeResult(QCoro::Task<T> task, std::optional<T>* out) {
    out->emplace(co_await std::move(task));
}

// Runs `task` to its end in a local event loop and returns its value (QCoro::waitFor needs a
// default-constructible value; results are not).
template <class T> T runTask(QCoro::Task<T> task) {
    ensureApplication();
    std::optional<T> out;
    QCoro::waitFor(storeResult(std::move(task), &out));
    return std::move(*out);
}

// A raw HTTP/1.1 response with content-length and "connection: close".
QByteArray httpResponse(int status, const QByteArray& body);

// An HTTP server on 127.0.0.1 inside the test's own event loop. It records every request it
// receives (request line, headers and body, as sent) and answers each with `response`, or, when
// `response` is empty, never answers at all.
class CannedServer {
public:
    explicit CannedServer(QByteArray response);
    ~CannedServer();

    QUrl url(const QString& path = {}) const;
    int connections() const { return connections_; }
    const std::vector<QByteArray>& requests() const { return requests_; }

private:
    std::unique_ptr<QTcpServer> server_;
    QByteArray response_;
    int connections_ = 0;
    std::vector<QByteArray> requests_;
};

} // namespace korvo::test

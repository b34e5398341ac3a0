#include "relayclient/RelayClient.h"

#include "model/SnapshotJson.h"
#include "model/Utf8.h"
#include "relayclient/BoundedReply.h"
#include "relayclient/RelayClientLog.h"
#include "relayclient/ReplyDeadline.h"
#include "relayclient/ReplyEnd.h"
#include "relayclient/SecretText.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <cctype>
#include <memory>
#include <optional>
#include <vector>

namespace korvo {
namespace {

enum class Method { get, post, deleteResource };

struct Request {
    Method method = Method::get;
    std::string path;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The credential the headers carry; the request goes to its origin only.
    std::optional<RelayCredential> credential = std::nullopt;
};

const char* methodName(Method method) {
    switch (method) {
    case Method::get:
        return "GET";
    case Method::post:
        return "POST";
    case Method::deleteResource:
        return "DELETE";
    }
    return "?";
}

// A path character that may stand in a URL unescaped (RFC 3986 unreserved, reserved and '%').
bool isURLCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

// The absolute URL of `path` resolved against `base`, or nothing when the path is not a valid
// URL reference (identifiers are inserted unescaped, so they can break it) or the result is not
// an absolute http(s) URL.
std::optional<QUrl> resolve(const QUrl& base, const std::string& path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (!isURLCharacter(path[i])) {
            return std::nullopt;
        }
        if (path[i] == '%' &&
            (i + 2 >= path.size() || !std::isxdigit(static_cast<unsigned char>(path[i + 1])) ||
             !std::isxdigit(static_cast<unsigned char>(path[i + 2])))) {
            return std::nullopt;
        }
    }
    const QUrl reference(QString::fromStdString(path), QUrl::StrictMode);
    if (!reference.isValid()) {
        return std::nullopt;
    }
    QUrl url = base.resolved(reference);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
        (url.scheme() != "http" && url.scheme() != "https")) {
        return std::nullopt;
    }
    return url;
}

// The secrets a quoted answer must not show: the request's credential and the password of the
// relay URL.
std::vector<std::string> secretsOf(const QUrl& base, const Request& request) {
    std::vector<std::string> secrets;
    if (request.credential) {
        secrets.push_back(request.credential->value);
    }
    if (!base.password().isEmpty()) {
        secrets.push_back(base.password(QUrl::FullyDecoded).toStdString());
        secrets.push_back(base.password(QUrl::FullyEncoded).toStdString());
    }
    return secrets;
}

// The body as UTF-8 text to quote, without secrets; nothing when it is not UTF-8.
std::optional<std::string> bodyText(const QByteArray& body,
                                    const std::vector<std::string>& secrets) {
    const auto text =
        utf8Text(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
    if (!text) {
        return std::nullopt;
    }
    return withoutSecrets(*text, secrets);
}

// Starts the request; nothing when it cannot be built or its credential belongs to another
// origin (then `problem` says why).
QNetworkReply* start(QNetworkAccessManager* network, const QUrl& base, const Request& request,
                     std::optional<RelayError>& problem) {
    const auto url = resolve(base, request.path);
    if (!url) {
        problem = RelayError{RelayRequestError{"The relay URL for \"" + request.path +
                                               "\" is not valid; nothing was sent."}};
        return nullptr;
    }
    if (request.credential && RelayAddress::origin(*url) != request.credential->origin) {
        problem = RelayError{RelayRequestError{
            "The credential belongs to the relay at " +
            printableText(request.credential->origin.toStdString(), 200) + ", not to " +
            printableText(RelayAddress::origin(*url).toStdString(), 200) + "; nothing was sent."}};
        return nullptr;
    }
    QNetworkRequest http(*url);
    // The bearer token and the pairing secret go to the relay's own origin only: a redirect
    // elsewhere ends the request instead of being followed.
    http.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                      QNetworkRequest::SameOriginRedirectPolicy);
    for (const auto& header : request.headers) {
        http.setRawHeader(header.first, header.second);
    }
    switch (request.method) {
    case Method::get:
        return network->get(http);
    case Method::post:
        return network->post(http, request.body);
    case Method::deleteResource:
        return network->deleteResource(http);
    }
    return nullptr;
}

// The origin (scheme, host, port) of a redirect target, printable.
std::string originOf(const QUrl& url) {
    return printableText(url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                                      QUrl::RemoveFragment)
                             .toString()
                             .toStdString(),
                         200);
}

RelayError timedOut() {
    return RelayError{RelayTransportError{static_cast<int>(QNetworkReply::TimeoutError),
                                          "The request timed out."}};
}

// The body of a 2xx answer, or the failure of a finished reply.
Result<QByteArray, RelayError> finish(QNetworkReply& reply, BoundedReply& bounded,
                                      const ReplyDeadline& deadline,
                                      const std::vector<std::string>& secrets) {
    QByteArray body = bounded.take();
    if (bounded.tooLarge()) {
        return RelayError{
            RelayTransportError{static_cast<int>(QNetworkReply::UnknownContentError),
                                "The relay's answer is larger than " +
                                    std::to_string(RelayClient::kMaxReplyBytes / 1024) +
                                    " KiB; the transfer was stopped."}};
    }
    // Checked before the status: an answer cut off by the limit may have had a good one.
    if (deadline.expired()) {
        return timedOut();
    }
    if (reply.error() == QNetworkReply::InsecureRedirectError) {
        QUrl target = reply.attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (target.isEmpty()) {
            target = QUrl::fromEncoded(reply.rawHeader("location"));
        }
        target = reply.url().resolved(target);
        const std::string where = target.host().isEmpty() || target == reply.url()
                                      ? std::string()
                                      : " (" + originOf(target) + ")";
        return RelayError{RelayTransportError{
            static_cast<int>(QNetworkReply::InsecureRedirectError),
            "The relay redirected the request to another origin" + where +
                "; redirects away from the relay are not followed, so no credentials were "
                "sent there."}};
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code < 200 || code > 299) {
            return RelayError{RelayClientError::badResponse(code, bodyText(body, secrets))};
        }
        return body;
    }
    if (reply.error() == QNetworkReply::OperationCanceledError) {
        return RelayError{RelayTransportError{
            static_cast<int>(QNetworkReply::OperationCanceledError), "The request was cancelled."}};
    }
    if (reply.error() != QNetworkReply::NoError) {
        return RelayError{RelayTransportError{
            static_cast<int>(reply.error()),
            withoutSecrets(printableText(reply.errorString().toStdString()), secrets)}};
    }
    return RelayError{RelayClientError::badResponse(-1, bodyText(body, secrets))};
}

// Sends one request and answers the body of a 2xx response. When the network access manager
// goes away with the request in flight, the answer is a cancellation.
QCoro::Task<Result<QByteArray, RelayError>> send(QNetworkAccessManager* network, QUrl base,
                                                 std::chrono::milliseconds timeout,
                                                 ReplyDeadline::MonotonicClock clock,
                                                 Request request) {
    std::optional<RelayError> problem;
    QNetworkReply* reply = start(network, base, request, problem);
    if (!reply) {
        co_return Result<QByteArray, RelayError>::failure(std::move(*problem));
    }
    BoundedReply body(reply, RelayClient::kMaxReplyBytes);
    const ReplyDeadline deadline(reply, timeout, std::move(clock));
    const bool finished = co_await ReplyEnd(reply);
    if (!finished) {
        co_return RelayError{RelayTransportError{
            static_cast<int>(QNetworkReply::OperationCanceledError), "The request was cancelled."}};
    }
    auto result = finish(*reply, body, deadline, secretsOf(base, request));
    reply->deleteLater();
    co_return result;
}

template <class T, class Decode>
QCoro::Task<RelayResult<T>>
perform(QNetworkAccessManager* network, QUrl base, std::chrono::milliseconds timeout,
        ReplyDeadline::MonotonicClock clock, Request request, Decode decode) {
    const std::vector<std::string> secrets = secretsOf(base, request);
    // The log names the request by its method and path: never the URL, whose user part may hold
    // a password, nor a header or a body.
    const QString name = QString::fromLatin1(methodName(request.method)) + u' ' +
                         QString::fromStdString(printableText(request.path, 200));
    auto sent =
        co_await send(network, std::move(base), timeout, std::move(clock), std::move(request));
    if (!sent.ok()) {
        qCDebug(lcRelayClient).noquote()
            << name << "failed:" << QString::fromStdString(sent.error().description());
        co_return std::move(sent).error();
    }
    const QByteArray& body = sent.value();
    const std::string_view bytes(body.constData(), static_cast<std::size_t>(body.size()));
    auto decoded = decode(bytes);
    if (!decoded.ok()) {
        // The reason may quote a member's value: a secret of the body is hidden there too.
        std::vector<std::string> hidden = secretMemberValues(bytes);
        hidden.insert(hidden.end(), secrets.begin(), secrets.end());
        RelayError error{RelayClientError::decodeFailed(
            bodyText(body, secrets), withoutSecrets(decoded.error().description(), hidden))};
        qCDebug(lcRelayClient).noquote()
            << name << "failed:" << QString::fromStdString(error.description());
        co_return error;
    }
    qCDebug(lcRelayClient).noquote() << name << "answered," << body.size() << "bytes";
    co_return std::move(decoded).value();
}

QByteArray bearer(const std::string& token) {
    return QByteArray("Bearer ") + QByteArray::fromStdString(token);
}

} // namespace

RelayClient::RelayClient(QNetworkAccessManager* network, QUrl baseURL,
                         std::chrono::milliseconds timeout)
    : network_(network), baseURL_(std::move(baseURL)), timeout_(timeout) {}

QCoro::Task<RelayResult<PairingSessionResponse>>
RelayClient::createPairingSession(std::string connectorDeviceId, std::string connectorDeviceName) {
    if (!isValidUtf8(connectorDeviceId) || !isValidUtf8(connectorDeviceName)) {
        co_return RelayError{RelayRequestError{
            "The pairing request could not be encoded: the device id and name must be UTF-8."}};
    }
    Request request{
        Method::post, "/v1/pairing/sessions", {{"content-type", "application/json"}}, {}};
    request.body = QByteArray::fromStdString(
        "{" + jsonQuoted("connectorDeviceId") + ":" + jsonQuoted(connectorDeviceId) + "," +
        jsonQuoted("connectorDeviceName") + ":" + jsonQuoted(connectorDeviceName) + "}");
    co_return co_await perform<PairingSessionResponse>(
        network_, baseURL_, timeout_, clock_, std::move(request), decodePairingSessionResponse);
}

QCoro::Task<RelayResult<PairingStatusResponse>>
RelayClient::pairingStatus(std::string pairingSessionId, RelayCredential pairingSecret) {
    Request request{Method::get,
                    "/v1/pairing/sessions/" + pairingSessionId,
                    {{"x-pairing-secret", QByteArray::fromStdString(pairingSecret.value)}},
                    {},
                    std::move(pairingSecret)};
    co_return co_await perform<PairingStatusResponse>(
        network_, baseURL_, timeout_, clock_, std::move(request), decodePairingStatusResponse);
}

QCoro::Task<RelayResult<SnapshotUploadResponse>>
RelayClient::uploadSnapshot(UsageSnapshot snapshot, RelayCredential deviceToken) {
    Request request{
        Method::post,
        "/v1/sync-spaces/" + snapshot.syncSpaceId + "/snapshots",
        {{"content-type", "application/json"}, {"authorization", bearer(deviceToken.value)}},
        {},
        std::move(deviceToken)};
    auto encoded = encodeSnapshot(snapshot);
    if (!encoded.ok()) {
        co_return RelayError{RelayRequestError{"The snapshot could not be encoded: " +
                                               encoded.error().description()}};
    }
    request.body = QByteArray::fromStdString(encoded.value());
    co_return co_await perform<SnapshotUploadResponse>(
        network_, baseURL_, timeout_, clock_, std::move(request), decodeSnapshotUploadResponse);
}

QCoro::Task<RelayResult<HealthResponse>> RelayClient::health() {
    // A named request: a temporary in a co_await operand does not survive the suspension with
    // every compiler.
    Request request{Method::get, "/health", {}, {}};
    co_return co_await perform<HealthResponse>(network_, baseURL_, timeout_, clock_,
                                               std::move(request), decodeHealthResponse);
}

QCoro::Task<RelayResult<DevicesResponse>> RelayClient::listDevices(std::string syncSpaceId,
                                                                   RelayCredential deviceToken) {
    Request request{Method::get,
                    "/v1/sync-spaces/" + syncSpaceId + "/devices",
                    {{"authorization", bearer(deviceToken.value)}},
                    {},
                    std::move(deviceToken)};
    co_return co_await perform<DevicesResponse>(network_, baseURL_, timeout_, clock_,
                                                std::move(request), decodeDevicesResponse);
}

QCoro::Task<RelayResult<DeleteDeviceResponse>>
RelayClient::deleteDevice(std::string syncSpaceId, std::string deviceId,
                          RelayCredential deviceToken) {
    Request request{Method::deleteResource,
                    "/v1/sync-spaces/" + syncSpaceId + "/devices/" + deviceId,
                    {{"authorization", bearer(deviceToken.value)}},
                    {},
                    std::move(deviceToken)};
    co_return co_await perform<DeleteDeviceResponse>(
        network_, baseURL_, timeout_, clock_, std::move(request), decodeDeleteDeviceResponse);
}

} // namespace korvo

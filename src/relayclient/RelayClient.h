#pragma once

#include "model/Result.h"
#include "model/UsageSnapshot.h"
#include "relayclient/RelayAddress.h"
#include "relayclient/RelayClientError.h"
#include "relayclient/RelayMessages.h"
#include "relayclient/ReplyDeadline.h"

#include <QCoroTask>
#include <QUrl>
#include <chrono>
#include <string>

class QNetworkAccessManager;

namespace korvo {

template <class T> using RelayResult = Result<T, RelayError>;

// A credential (the device token, a pairing secret) and the origin of the relay it belongs to,
// as RelayAddress::origin() writes it: the relay that issued the token, or that created the
// pairing session. The client sends it there and nowhere else.
struct RelayCredential {
    std::string value;
    QString origin;
};

// The client of the relay API. It keeps only the base URL, the network access manager and the
// time limit; credentials come with every call, each with the origin it belongs to, and a
// request whose URL is on another origin is not sent. Every operation builds its request the
// same way (path resolved against the base URL, so a base with a path of its own still reaches
// the host's root), sends it once, checks the status and decodes the answer. It follows
// redirects within the relay's origin only, reads at most kMaxReplyBytes of an answer and ends
// a request that has not been answered whole within the time limit, counted from its start.
// Failures are values: a RelayClientError for a bad status or body (quoting the body without
// its secrets), a RelayTransportError passed through from the network layer, or a
// RelayRequestError when nothing could be sent.
//
// Use from the thread that owns the QNetworkAccessManager. The client must outlive the tasks
// it returns.
class RelayClient {
public:
    // The overall time limit of a request, from its start to the end of its answer.
    static constexpr std::chrono::milliseconds kDefaultTimeout{60'000};
    // The largest answer read; a longer one is aborted while it arrives.
    static constexpr qint64 kMaxReplyBytes = 1 << 20;

    explicit RelayClient(QNetworkAccessManager* network,
                         QUrl baseURL = QUrl(RelayAddress::kDefault),
                         std::chrono::milliseconds timeout = kDefaultTimeout);

    const QUrl& baseURL() const { return baseURL_; }
    void setBaseURL(QUrl baseURL) { baseURL_ = std::move(baseURL); }
    std::chrono::milliseconds timeout() const { return timeout_; }
    // The monotonic clock the time limit is measured on; tests move it on.
    void setClock(ReplyDeadline::MonotonicClock clock) { clock_ = std::move(clock); }

    // POST /v1/pairing/sessions
    QCoro::Task<RelayResult<PairingSessionResponse>>
    createPairingSession(std::string connectorDeviceId, std::string connectorDeviceName);
    // GET /v1/pairing/sessions/{pairingSessionId} with x-pairing-secret
    QCoro::Task<RelayResult<PairingStatusResponse>> pairingStatus(std::string pairingSessionId,
                                                                  RelayCredential pairingSecret);
    // POST /v1/sync-spaces/{snapshot.syncSpaceId}/snapshots with the bearer token
    QCoro::Task<RelayResult<SnapshotUploadResponse>> uploadSnapshot(UsageSnapshot snapshot,
                                                                    RelayCredential deviceToken);
    // GET /health
    QCoro::Task<RelayResult<HealthResponse>> health();
    // GET /v1/sync-spaces/{syncSpaceId}/devices with the bearer token
    QCoro::Task<RelayResult<DevicesResponse>> listDevices(std::string syncSpaceId,
                                                          RelayCredential deviceToken);
    // DELETE /v1/sync-spaces/{syncSpaceId}/devices/{deviceId} with the bearer token
    QCoro::Task<RelayResult<DeleteDeviceResponse>>
    deleteDevice(std::string syncSpaceId, std::string deviceId, RelayCredential deviceToken);

private:
    QNetworkAccessManager* network_;
    QUrl baseURL_;
    std::chrono::milliseconds timeout_;
    ReplyDeadline::MonotonicClock clock_ = std::chrono::steady_clock::now;
};

} // namespace korvo

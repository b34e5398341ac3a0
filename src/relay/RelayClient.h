#pragma once

#include "model/Result.h"
#include "model/UsageSnapshot.h"
#include "relay/RelayAddress.h"
#include "relay/RelayClientError.h"
#include "relay/RelayMessages.h"

#include <QCoroTask>
#include <QUrl>
#include <chrono>
#include <string>

class QNetworkAccessManager;

namespace korvo {

template <class T> using RelayResult = Result<T, RelayError>;

// The client of the relay API. It keeps only the base URL, the network access manager and the
// time-out; credentials come with every call. Every operation builds its request the same way
// (path resolved against the base URL, so a base with a path of its own still reaches the
// host's root), sends it once, checks the status and decodes the answer. It follows redirects
// within the relay's origin only and reads at most kMaxReplyBytes of an answer. Failures are
// values: a RelayClientError for a bad status or body, a RelayTransportError passed through from
// the network layer, or a RelayRequestError when nothing could be sent.
//
// Use from the thread that owns the QNetworkAccessManager. The client must outlive the tasks
// it returns.
class RelayClient {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{60'000};
    // The largest answer read; a longer one is aborted while it arrives.
    static constexpr qint64 kMaxReplyBytes = 1 << 20;

    explicit RelayClient(QNetworkAccessManager* network,
                         QUrl baseURL = QUrl(RelayAddress::kDefault),
                         std::chrono::milliseconds timeout = kDefaultTimeout);

    const QUrl& baseURL() const { return baseURL_; }
    void setBaseURL(QUrl baseURL) { baseURL_ = std::move(baseURL); }
    std::chrono::milliseconds timeout() const { return timeout_; }

    // POST /v1/pairing/sessions
    QCoro::Task<RelayResult<PairingSessionResponse>>
    createPairingSession(std::string connectorDeviceId, std::string connectorDeviceName);
    // GET /v1/pairing/sessions/{pairingSessionId} with x-pairing-secret
    QCoro::Task<RelayResult<PairingStatusResponse>> pairingStatus(std::string pairingSessionId,
                                                                  std::string pairingSecret);
    // POST /v1/sync-spaces/{snapshot.syncSpaceId}/snapshots with the bearer token
    QCoro::Task<RelayResult<SnapshotUploadResponse>> uploadSnapshot(UsageSnapshot snapshot,
                                                                    std::string deviceToken);
    // GET /health
    QCoro::Task<RelayResult<HealthResponse>> health();
    // GET /v1/sync-spaces/{syncSpaceId}/devices with the bearer token
    QCoro::Task<RelayResult<DevicesResponse>> listDevices(std::string syncSpaceId,
                                                          std::string deviceToken);
    // DELETE /v1/sync-spaces/{syncSpaceId}/devices/{deviceId} with the bearer token
    QCoro::Task<RelayResult<DeleteDeviceResponse>>
    deleteDevice(std::string syncSpaceId, std::string deviceId, std::string deviceToken);

private:
    QNetworkAccessManager* network_;
    QUrl baseURL_;
    std::chrono::milliseconds timeout_;
};

} // namespace korvo

#pragma once

#include "AddressRateLimit.h"
#include "ClaimThrottle.h"
#include "HttpServer.h"
#include "RelayMetrics.h"
#include "RelayStorage.h"
#include "Router.h"
#include "TrustedProxies.h"
#include "UsageSeriesSteps.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace korvo::relayserver {

struct RelayOptions {
    std::optional<std::string> environment;
    std::optional<std::filesystem::path> manifest;
    std::function<UnixTime()> clock;
    ClaimThrottle::Limits claimLimits;
    RateLimits sessionLimits; // pairing sessions created per client
    // Pairing sessions live (neither expired nor claimed) at once, relay-wide; past it new ones
    // are refused with 503. Relays sharing a database may overshoot it by the creations in
    // flight at the same moment.
    std::size_t maxLiveSessions = 1000;
    HttpLimits http;
    std::optional<TlsIdentity> tls;
    // Peers whose X-Forwarded-For names the client (for the claim and session limits).
    TrustedProxies trustedProxies;
    // Whether each accepted upload adds to its connector's usage series (UsageSeries), which
    // the web view's sparklines and pace lines are drawn from.
    bool usageSeries = true;
};

// Checks an uploaded body: nothing when it is a snapshot of `syncSpaceId` made by the uploading
// device `deviceId` (its id is returned through `snapshotId`), otherwise the reason it was
// refused.
using SnapshotValidator = std::function<std::optional<std::string>(
    const std::string& body, const std::string& syncSpaceId, const std::string& deviceId,
    std::string& snapshotId)>;

// The relay's HTTP API over a RelayStorage.
class RelayServer {
public:
    static constexpr std::size_t kMaxBodyBytes = 1 << 20;
    // Longest device name and device id accepted, in bytes of UTF-8.
    static constexpr std::size_t kMaxDeviceNameBytes = 200;
    static constexpr std::size_t kMaxDeviceIdBytes = 200;

    RelayServer(RelayStorage& store, RelayOptions options, SnapshotValidator validator);
    ~RelayServer();

    // Binds to host:port (port 0 picks a free one); returns the bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves the metrics (GET /metrics, Prometheus text) on host:port too, from listen() on;
    // returns the bound port, or -1. Without it no metrics are served.
    int bindMetrics(const std::string& host, int port);
    // Serves until stop(); false when serving failed.
    bool listen();
    void stop();

private:
    void routes();

    // One handler per route, in the order routes() adds them.
    void health(const HttpRequest& req, HttpResponse& res);
    void ready(const HttpRequest& req, HttpResponse& res);
    void createSession(const HttpRequest& req, HttpResponse& res);
    void pollSession(const HttpRequest& req, HttpResponse& res);
    void claim(const HttpRequest& req, HttpResponse& res);
    void uploadSnapshot(const HttpRequest& req, HttpResponse& res);
    void latestSnapshot(const HttpRequest& req, HttpResponse& res);
    void snapshotView(const HttpRequest& req, HttpResponse& res);
    void listDevices(const HttpRequest& req, HttpResponse& res);
    void deleteDevice(const HttpRequest& req, HttpResponse& res);
    void manifest(const HttpRequest& req, HttpResponse& res);
    void webFile(const HttpRequest& req, HttpResponse& res);

    // The device of the request's bearer token in `syncSpaceId` (marked seen now), or nothing
    // with a 401 answer set.
    std::optional<AuthenticatedDevice> authenticated(const HttpRequest& req, HttpResponse& res,
                                                     const std::string& syncSpaceId);
    // The client a request counts against: its peer, or behind a trusted proxy the address
    // the proxy forwarded.
    std::string clientOf(const HttpRequest& req) const;
    // 0 when the client may create a pairing session now, else the seconds to wait.
    UnixTime takeSessionAllowance(const std::string& client, UnixTime now);
    // 0 when the client may try a claim now (the attempt is counted), else the seconds to wait.
    UnixTime admitClaim(const std::string& client, UnixTime now, std::size_t liveSessions);
    void claimSucceeded(const std::string& client);
    // The usage readings an upload at `now` adds to the series of the connector `deviceId`:
    // "" when the series is off or this step's point is stored already.
    std::string usageReadings(const std::string& syncSpaceId, const std::string& deviceId,
                              const std::string& body, UnixTime now) const;

    RelayStorage& store_;
    RelayOptions options_;
    SnapshotValidator validator_;
    ClaimThrottle claimThrottle_;
    AddressRateLimit sessionLimit_;
    Router router_;
    std::unique_ptr<HttpServer> server_;
    RelayMetrics metrics_;
    UsageSeriesSteps seriesSteps_;
    std::unique_ptr<HttpServer> metricsServer_;
};

} // namespace korvo::relayserver

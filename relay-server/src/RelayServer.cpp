#include "RelayServer.h"

#include "RelayJson.h"
#include "RouteSupport.h"
#include "SnapshotView.h"
#include "UsageSeries.h"
#include "WebPage.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <thread>

namespace korvo::relayserver {
namespace {

std::optional<std::string> readBounded(const std::filesystem::path& file, std::size_t limit) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string data(limit + 1, '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    const auto count = static_cast<std::size_t>(in.gcount());
    if (count > limit) {
        return std::nullopt;
    }
    data.resize(count);
    return data;
}

// The phone's offset from UTC, in minutes east, from the view's "utcOffset" query item: the
// clock times of its pace lines are written in it. 0 when absent or not a whole number of
// minutes within 14 hours either side.
std::chrono::seconds utcOffsetOf(const HttpRequest& req) {
    for (const auto& [name, value] : req.query) {
        if (name != "utcOffset") {
            continue;
        }
        int minutes = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), minutes);
        if (error == std::errc() && end == value.data() + value.size() && minutes >= -14 * 60 &&
            minutes <= 14 * 60) {
            return std::chrono::minutes(minutes);
        }
        break;
    }
    return std::chrono::seconds(0);
}

} // namespace

RelayServer::RelayServer(RelayStorage& store, RelayOptions options, SnapshotValidator validator)
    : store_(store), options_(std::move(options)), validator_(std::move(validator)),
      claimThrottle_(options_.claimLimits), sessionLimit_(options_.sessionLimits) {
    routes();
    server_ = std::make_unique<HttpServer>(
        options_.http,
        [this](HttpRequest& req, HttpResponse& res) {
            if (const auto refusal = refusedWrite(req)) {
                res.status = refusal->first;
                res.body = jsonError(refusal->second);
            } else {
                router_.handle(req, res);
            }
            if (isApiPath(req.path)) {
                // Answers may carry tokens: no cache keeps them, no browser guesses their type.
                const auto has = [&](std::string_view name) {
                    return std::any_of(res.headers.begin(), res.headers.end(),
                                       [&](const auto& f) { return lowerCase(f.first) == name; });
                };
                if (!has("cache-control")) {
                    res.setHeader("cache-control", "no-store");
                }
                if (!has("x-content-type-options")) {
                    res.setHeader("x-content-type-options", "nosniff");
                }
            }
        },
        options_.tls,
        // Only requests that may wait on the database go to the workers: /health, the web
        // view's files and the manifest are answered on the serving threads at once.
        [](const HttpRequest& req) {
            return req.path.starts_with("/v1/") || req.path == "/health/ready";
        });
    server_->observe([this](std::string_view method, std::string_view route, int status,
                            std::chrono::nanoseconds took, bool failedInside) {
        metrics_.request(method, route, status, took, failedInside);
    });
}

RelayServer::~RelayServer() = default;

std::string RelayServer::clientOf(const HttpRequest& req) const {
    if (options_.trustedProxies.empty() || !options_.trustedProxies.contains(req.remoteAddress)) {
        return req.remoteAddress;
    }
    // Several X-Forwarded-For fields are one list, in arrival order.
    std::string forwarded;
    for (const auto& [name, value] : req.headers) {
        if (name == "x-forwarded-for") {
            forwarded += (forwarded.empty() ? "" : ",") + value;
        }
    }
    return options_.trustedProxies.clientAddress(req.remoteAddress, forwarded);
}

UnixTime RelayServer::takeSessionAllowance(const std::string& client, UnixTime now) {
    if (store_.sharesLimits()) {
        return store_.takeAllowance("pairing-session", AddressRateLimit::clientKey(client),
                                    options_.sessionLimits, now);
    }
    UnixTime wait = 0;
    return sessionLimit_.take(client, now, wait) ? 0 : wait;
}

UnixTime RelayServer::admitClaim(const std::string& client, UnixTime now,
                                 std::size_t liveSessions) {
    if (store_.sharesLimits()) {
        return store_.admitClaim(ClaimThrottle::clientKey(client), options_.claimLimits,
                                 liveSessions, now);
    }
    return claimThrottle_.admit(client, now, liveSessions);
}

void RelayServer::claimSucceeded(const std::string& client) {
    if (store_.sharesLimits()) {
        store_.claimSucceeded(ClaimThrottle::clientKey(client));
    } else {
        claimThrottle_.succeeded(client);
    }
}

int RelayServer::bind(const std::string& host, int port) {
    return server_->bind(host, port);
}

int RelayServer::bindMetrics(const std::string& host, int port) {
    HttpLimits limits;
    limits.threads = 1;
    limits.workers = 0;
    limits.maxConnections = 64;
    metricsServer_ =
        std::make_unique<HttpServer>(limits, [this](HttpRequest& req, HttpResponse& res) {
            if (req.method != "GET" || req.path != "/metrics") {
                res.status = 404;
                res.body = jsonError("Not found");
                return;
            }
            RelayMetrics::Gauges gauges;
            gauges.openConnections = server_->openConnections();
            gauges.poolWaitTimeouts = store_.poolWaitTimeouts();
            try {
                gauges.pairingSessionsLive =
                    static_cast<long>(store_.liveSessions(options_.clock ? options_.clock() : 0));
            } catch (const std::exception&) {
                // Left out of this scrape; the database errors say why.
            }
            res.body = metrics_.text(gauges);
            res.contentType = "text/plain; version=0.0.4";
        });
    const int bound = metricsServer_->bind(host, port);
    if (bound < 0) {
        metricsServer_.reset();
    }
    return bound;
}

bool RelayServer::listen() {
    std::thread metrics;
    if (metricsServer_) {
        metrics = std::thread([this] { metricsServer_->listen(); });
    }
    const bool served = server_->listen();
    if (metrics.joinable()) {
        metricsServer_->stop();
        metrics.join();
    }
    return served;
}

void RelayServer::stop() {
    server_->stop();
}

void RelayServer::routes() {
    const auto to = [this](void (RelayServer::*handler)(const HttpRequest&, HttpResponse&)) {
        return [this, handler](const HttpRequest& req, HttpResponse& res) {
            (this->*handler)(req, res);
        };
    };
    router_.get("/health", to(&RelayServer::health));
    router_.get("/health/ready", to(&RelayServer::ready));
    router_.post("/v1/pairing/sessions", to(&RelayServer::createSession));
    router_.get("/v1/pairing/sessions/{}", to(&RelayServer::pollSession));
    router_.post("/v1/pairing/claim", to(&RelayServer::claim));
    router_.post("/v1/sync-spaces/{}/snapshots", to(&RelayServer::uploadSnapshot));
    router_.get("/v1/sync-spaces/{}/snapshots/latest", to(&RelayServer::latestSnapshot));
    router_.get("/v1/sync-spaces/{}/snapshots/latest/view", to(&RelayServer::snapshotView));
    router_.get("/v1/sync-spaces/{}/devices", to(&RelayServer::listDevices));
    router_.del("/v1/sync-spaces/{}/devices/{}", to(&RelayServer::deleteDevice));
    router_.get("/download/{}/manifest.json", to(&RelayServer::manifest));
    // The web view's files; added last, so every API route above wins.
    router_.get("/", to(&RelayServer::webFile));
    router_.get("/{}", to(&RelayServer::webFile));
}

std::optional<AuthenticatedDevice> RelayServer::authenticated(const HttpRequest& req,
                                                              HttpResponse& res,
                                                              const std::string& syncSpaceId) {
    const auto token = bearerToken(req);
    if (!token) {
        fail(res, 401, "Missing bearer token");
        return std::nullopt;
    }
    auto found = store_.authenticate(syncSpaceId, *token, options_.clock());
    if (!found) {
        fail(res, 401, "Invalid token for this sync space");
    }
    return found;
}

void RelayServer::health(const HttpRequest&, HttpResponse& res) {
    answer(res,
           jsonObject({{"status", "ok"}, {"environment", options_.environment}, {"webApp", "/"}}));
}

// For load balancers: ready when the database answers now.
void RelayServer::ready(const HttpRequest& req, HttpResponse& res) {
    try {
        store_.checkReady();
    } catch (const std::exception& e) {
        res.status = 503;
        res.body = jsonObject({{"status", "unavailable"}});
        req.logDetail = e.what();
        res.setHeader("retry-after", "2");
        return;
    }
    answer(res, jsonObject({{"status", "ready"}}));
}

void RelayServer::createSession(const HttpRequest& req, HttpResponse& res) {
    std::string problem;
    const auto members =
        stringMembers(req.body, {"connectorDeviceId", "connectorDeviceName"}, problem);
    if (!members) {
        return fail(res, 400, problem);
    }
    const std::string& deviceId = (*members)[0];
    const std::string& deviceName = (*members)[1];
    if (const auto problem = tooLong("connectorDeviceId", deviceId, kMaxDeviceIdBytes)) {
        return fail(res, 400, *problem);
    }
    if (const auto problem = tooLong("connectorDeviceName", deviceName, kMaxDeviceNameBytes)) {
        return fail(res, 400, *problem);
    }
    if (containsNul(deviceId) || containsNul(deviceName)) {
        return fail(res, 400, "A device name or id contains a NUL character");
    }
    const UnixTime time = options_.clock();
    if (store_.liveSessions(time) >= options_.maxLiveSessions) {
        // A session frees its place within ten minutes, most of them much sooner.
        res.setHeader("retry-after", "60");
        return fail(res, 503, "Too many pairing sessions in progress; try again later");
    }
    if (const UnixTime wait = takeSessionAllowance(clientOf(req), time); wait > 0) {
        res.setHeader("retry-after", std::to_string(wait));
        return fail(res, 429, "Too many pairing sessions; try again later");
    }
    const auto session = store_.createSession(deviceId, deviceName, time);
    if (!session) {
        return fail(res, 503, "No free pairing code; try again later");
    }
    const std::string payload = "korvo://pair?session=" + session->id + "&code=" + session->code +
                                "&secret=" + session->secret;
    answer(res, jsonObject({{"pairingSessionId", session->id},
                            {"pairingCode", session->code},
                            {"qrPayload", payload},
                            {"expiresAt", isoTime(session->expiresAt)}}));
}

void RelayServer::pollSession(const HttpRequest& req, HttpResponse& res) {
    const auto poll =
        store_.pollSession(req.params[0], req.header("x-pairing-secret"), options_.clock());
    using Outcome = SessionPoll::Outcome;
    switch (poll.outcome) {
    case Outcome::unknown:
        return fail(res, 404, "Unknown pairing session");
    case Outcome::forbidden:
        return fail(res, 403, "Wrong pairing secret");
    case Outcome::pending:
        return answer(res, jsonObject({{"status", "pending"}}));
    case Outcome::expired:
        return answer(res, jsonObject({{"status", "expired"}}));
    case Outcome::paired:
        return answer(res, jsonObject({{"status", "paired"},
                                       {"connectorDeviceId", poll.connectorDeviceId},
                                       {"syncSpaceId", poll.syncSpaceId},
                                       {"connectorDeviceToken", poll.connectorDeviceToken}}));
    }
}

void RelayServer::claim(const HttpRequest& req, HttpResponse& res) {
    std::string problem;
    const auto members = stringMembers(req.body, {"pairingCode"}, problem);
    if (!members) {
        return fail(res, 400, problem);
    }
    const UnixTime time = options_.clock();
    const std::string client = clientOf(req);
    if (const UnixTime wait = admitClaim(client, time, store_.liveSessions(time)); wait > 0) {
        res.setHeader("retry-after", std::to_string(wait));
        return fail(res, 429, "Too many pairing attempts; try again later");
    }
    const auto name = optionalStringMember(req.body, "deviceName").value_or("iPhone");
    if (const auto problem = tooLong("deviceName", name, kMaxDeviceNameBytes)) {
        return fail(res, 400, *problem);
    }
    if (containsNul(name)) {
        return fail(res, 400, "deviceName contains a NUL character");
    }
    const auto claim = store_.claim((*members)[0], name, time);
    switch (claim.outcome) {
    case Claim::Outcome::unknown:
        return fail(res, 404, "Unknown or expired pairing code");
    case Claim::Outcome::alreadyClaimed:
        return fail(res, 409, "Pairing code already claimed");
    case Claim::Outcome::claimed:
        claimSucceeded(client);
        return answer(res, jsonObject({{"syncSpaceId", claim.syncSpaceId},
                                       {"phoneDeviceId", claim.phoneDeviceId},
                                       {"phoneDeviceToken", claim.phoneDeviceToken}}));
    }
}

void RelayServer::uploadSnapshot(const HttpRequest& req, HttpResponse& res) {
    const std::string& space = req.params[0];
    const auto accepted = [&](const std::string& snapshotId, UnixTime stamp) {
        answer(res, jsonObject({{"status", "accepted"},
                                {"snapshotId", snapshotId},
                                {"updatedAt", isoTime(stamp)}}));
    };
    // The common case in one step: the body is a valid snapshot by the device it names, and the
    // token is that connector's. Anything else takes the path below, which finds the right
    // refusal.
    const auto token = bearerToken(req);
    const auto named = optionalStringMember(req.body, "device", "id");
    std::string snapshotId;
    if (token && named && !validator_(req.body, space, *named, snapshotId)) {
        const UnixTime stamp = options_.clock();
        const std::string readings = usageReadings(space, *named, req.body, stamp);
        if (store_.uploadSnapshot(space, *token, *named, snapshotId, req.body, stamp, readings)) {
            if (!readings.empty()) {
                seriesSteps_.stored(space, *named, usageSeriesBucket(stamp));
            }
            return accepted(snapshotId, stamp);
        }
    }
    const auto who = authenticated(req, res, space);
    if (!who) {
        return;
    }
    if (who->role != DeviceRole::connector) {
        return fail(res, 401, "Only a connector device may upload snapshots");
    }
    if (auto problem = validator_(req.body, space, who->id, snapshotId)) {
        return fail(res, 400, *problem);
    }
    const UnixTime stamp = options_.clock();
    const std::string readings = usageReadings(space, who->id, req.body, stamp);
    if (!store_.putSnapshot(space, snapshotId, req.body, stamp, who->id, readings)) {
        return fail(res, 401, "Invalid token for this sync space");
    }
    if (!readings.empty()) {
        seriesSteps_.stored(space, who->id, usageSeriesBucket(stamp));
    }
    accepted(snapshotId, stamp);
}

std::string RelayServer::usageReadings(const std::string& syncSpaceId, const std::string& deviceId,
                                       const std::string& body, UnixTime now) const {
    if (!options_.usageSeries || !seriesSteps_.due(syncSpaceId, deviceId, usageSeriesBucket(now))) {
        return {};
    }
    return encodeUsageReadings(body);
}

void RelayServer::latestSnapshot(const HttpRequest& req, HttpResponse& res) {
    const std::string& space = req.params[0];
    if (!authenticated(req, res, space)) {
        return;
    }
    auto body = store_.latestSnapshot(space);
    if (!body) {
        return fail(res, 404, "No snapshot uploaded yet");
    }
    answer(res, std::move(*body));
}

// The latest snapshot as display rows for the web view.
void RelayServer::snapshotView(const HttpRequest& req, HttpResponse& res) {
    const std::string& space = req.params[0];
    for (const auto& [name, value] : webSecurityHeaders()) {
        res.setHeader(std::string(name), std::string(value));
    }
    res.setHeader("cache-control", "no-store");
    if (!authenticated(req, res, space)) {
        return;
    }
    std::string pairedName;
    std::optional<std::string> connectorId;
    for (const auto& d : store_.devices(space)) {
        if (d.kind == "connector") {
            pairedName = d.name;
            connectorId = d.id;
            break;
        }
    }
    const UnixTime now = options_.clock();
    const auto series = connectorId && options_.usageSeries
                            ? decodeUsageSeries(store_.usageSeries(space, *connectorId, now))
                            : UsageSeriesByRow();
    auto view =
        snapshotViewJson(store_.latestSnapshot(space), pairedName, instantFromUnixSeconds(now),
                         connectorId.has_value(), series, utcOffsetOf(req));
    if (!view) {
        return fail(res, 500, "Stored snapshot does not decode");
    }
    answer(res, std::move(*view));
}

void RelayServer::listDevices(const HttpRequest& req, HttpResponse& res) {
    const std::string& space = req.params[0];
    if (!authenticated(req, res, space)) {
        return;
    }
    std::string body = "{\"devices\":[";
    bool first = true;
    for (const auto& d : store_.devices(space)) {
        body += first ? "" : ",";
        first = false;
        body += jsonObject({{"id", d.id},
                            {"name", d.name},
                            {"kind", d.kind},
                            {"createdAt", d.createdAt},
                            {"lastSeenAt", d.lastSeenAt}});
    }
    body += "]}";
    answer(res, std::move(body));
}

void RelayServer::deleteDevice(const HttpRequest& req, HttpResponse& res) {
    const std::string& space = req.params[0];
    const std::string& target = req.params[1];
    if (!authenticated(req, res, space)) {
        return;
    }
    if (!store_.deleteDevice(space, target)) {
        return fail(res, 404, "Unknown device");
    }
    answer(res, jsonObject({{"status", "deleted"}, {"deviceId", target}}));
}

void RelayServer::manifest(const HttpRequest&, HttpResponse& res) {
    if (!options_.manifest) {
        return fail(res, 404, "No manifest");
    }
    auto body = readBounded(*options_.manifest, kMaxBodyBytes);
    if (!body) {
        return fail(res, 404, "No manifest");
    }
    answer(res, std::move(*body));
}

void RelayServer::webFile(const HttpRequest& req, HttpResponse& res) {
    const auto found = webPageAnswer(req.path, req.header("if-none-match"));
    if (!found) {
        return fail(res, 404, "Not found");
    }
    for (const auto& [name, value] : found->headers) {
        res.setHeader(std::string(name), std::string(value));
    }
    res.status = found->status;
    res.contentType = found->contentType;
    res.body = found->body;
}

} // namespace korvo::relayserver

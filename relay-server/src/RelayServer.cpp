#include "RelayServer.h"

#include "RelayJson.h"
#include "SnapshotView.h"
#include "WebPage.h"

#include <algorithm>
#include <fstream>
#include <simdjson.h>
#include <thread>

namespace korvo::relayserver {
namespace {

void fail(HttpResponse& res, int status, std::string_view message) {
    res.status = status;
    res.body = jsonError(message);
}

void answer(HttpResponse& res, std::string body) {
    res.status = 200;
    res.body = std::move(body);
}

// The token of an "authorization: Bearer TOKEN" header, or nothing.
std::optional<std::string> bearerToken(const HttpRequest& req) {
    const std::string& value = req.header("authorization");
    constexpr std::string_view prefix = "Bearer ";
    if (value.size() <= prefix.size() || value.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    return value.substr(prefix.size());
}

// The string members `names` of a JSON object body; nothing when the body is not such an
// object or a member is missing, empty or not a string.
std::optional<std::vector<std::string>> stringMembers(const std::string& body,
                                                      std::initializer_list<const char*> names,
                                                      std::string& problem) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(body).get(root) != simdjson::SUCCESS) {
        problem = "Request body is not valid JSON";
        return std::nullopt;
    }
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS) {
        problem = "Request body is not a JSON object";
        return std::nullopt;
    }
    std::vector<std::string> values;
    for (const char* name : names) {
        std::string_view value;
        if (object[name].get_string().get(value) != simdjson::SUCCESS || value.empty()) {
            problem = std::string("Missing string member \"") + name + "\"";
            return std::nullopt;
        }
        values.emplace_back(value);
    }
    return values;
}

// The string member `name` of a JSON object body (with `inner`, the member `inner` of that
// member); nothing when it is missing, empty or not a string.
std::optional<std::string> optionalStringMember(const std::string& body, const char* name,
                                                const char* inner = nullptr) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    std::string_view value;
    if (parser.parse(body).get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    auto member = root[name];
    if (inner != nullptr) {
        member = member[inner];
    }
    if (member.get_string().get(value) != simdjson::SUCCESS || value.empty()) {
        return std::nullopt;
    }
    return std::string(value);
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The relay's API (as opposed to the web view's files): its answers are never cached.
bool isApiPath(std::string_view path) {
    return path.starts_with("/v1/") || path == "/health" || path.starts_with("/health/");
}

// Whether `request`, sent by a browser, comes from a page of the relay's own origin: no Origin
// header (not a browser's cross-origin request), or one whose host and port are the request's
// Host. Behind a proxy, that proxy passes the Host on.
bool sameOrigin(const HttpRequest& request) {
    if (!request.hasHeader("origin")) {
        return true;
    }
    const std::string origin = lowerCase(request.header("origin"));
    const auto scheme = origin.find("://");
    if (scheme == std::string::npos) {
        return false; // "null", or not an origin
    }
    std::string authority = origin.substr(scheme + 3);
    std::string host = lowerCase(request.header("host"));
    // A default port may be named or not on either side.
    const auto withoutDefaultPort = [](std::string& text, std::string_view port) {
        if (text.ends_with(port)) {
            text.resize(text.size() - port.size());
        }
    };
    const std::string_view defaultPort = origin.starts_with("https://") ? ":443" : ":80";
    withoutDefaultPort(authority, defaultPort);
    withoutDefaultPort(host, defaultPort);
    return !host.empty() && authority == host;
}

// A write to the API that is refused before it is routed: a POST whose body is not declared as
// JSON (415), so that no cross-origin form or text/plain request can make one without a
// preflight, and any write from a browser page of another origin (403).
std::optional<std::pair<int, std::string>> refusedWrite(const HttpRequest& request) {
    if (!request.path.starts_with("/v1/") ||
        (request.method != "POST" && request.method != "DELETE" && request.method != "PUT")) {
        return std::nullopt;
    }
    if (!sameOrigin(request)) {
        return std::make_pair(403, std::string("Cross-origin request refused"));
    }
    if (request.method == "POST") {
        const std::string type = lowerCase(request.header("content-type"));
        const auto end = type.find_first_of("; \t");
        if (type.substr(0, end) != "application/json") {
            return std::make_pair(415, std::string("Content-Type must be application/json"));
        }
    }
    return std::nullopt;
}

// Names and ids are text: a NUL, which JSON can carry, is refused rather than stored.
std::optional<std::string> unstorableText(const std::vector<std::string>& values) {
    for (const auto& value : values) {
        if (value.find('\0') != std::string::npos) {
            return "A device name or id contains a NUL character";
        }
    }
    return std::nullopt;
}

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
    auto& s = router_;
    const auto now = [this] { return options_.clock(); };

    s.get("/health", [this](const HttpRequest&, HttpResponse& res) {
        answer(
            res,
            jsonObject({{"status", "ok"}, {"environment", options_.environment}, {"webApp", "/"}}));
    });

    // For load balancers: ready when the database answers now.
    s.get("/health/ready", [this](const HttpRequest& req, HttpResponse& res) {
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
    });

    s.post("/v1/pairing/sessions", [this, now](const HttpRequest& req, HttpResponse& res) {
        std::string problem;
        const auto members =
            stringMembers(req.body, {"connectorDeviceId", "connectorDeviceName"}, problem);
        if (!members) {
            return fail(res, 400, problem);
        }
        if ((*members)[0].size() > kMaxDeviceIdBytes) {
            return fail(res, 400,
                        "connectorDeviceId is longer than " + std::to_string(kMaxDeviceIdBytes) +
                            " bytes");
        }
        if ((*members)[1].size() > kMaxDeviceNameBytes) {
            return fail(res, 400,
                        "connectorDeviceName is longer than " +
                            std::to_string(kMaxDeviceNameBytes) + " bytes");
        }
        if (const auto problem = unstorableText(*members)) {
            return fail(res, 400, *problem);
        }
        const UnixTime time = now();
        if (store_.liveSessions(time) >= options_.maxLiveSessions) {
            // A session frees its place within ten minutes, most of them much sooner.
            res.setHeader("retry-after", "60");
            return fail(res, 503, "Too many pairing sessions in progress; try again later");
        }
        if (const UnixTime wait = takeSessionAllowance(clientOf(req), time); wait > 0) {
            res.setHeader("retry-after", std::to_string(wait));
            return fail(res, 429, "Too many pairing sessions; try again later");
        }
        const auto session = store_.createSession((*members)[0], (*members)[1], time);
        if (!session) {
            return fail(res, 503, "No free pairing code; try again later");
        }
        const std::string payload = "korvo://pair?session=" + session->id +
                                    "&code=" + session->code + "&secret=" + session->secret;
        answer(res, jsonObject({{"pairingSessionId", session->id},
                                {"pairingCode", session->code},
                                {"qrPayload", payload},
                                {"expiresAt", isoTime(session->expiresAt)}}));
    });

    s.get("/v1/pairing/sessions/{}", [this, now](const HttpRequest& req, HttpResponse& res) {
        const auto poll = store_.pollSession(req.params[0], req.header("x-pairing-secret"), now());
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
    });

    s.post("/v1/pairing/claim", [this, now](const HttpRequest& req, HttpResponse& res) {
        std::string problem;
        const auto members = stringMembers(req.body, {"pairingCode"}, problem);
        if (!members) {
            return fail(res, 400, problem);
        }
        const UnixTime time = now();
        const std::string client = clientOf(req);
        if (const UnixTime wait = admitClaim(client, time, store_.liveSessions(time)); wait > 0) {
            res.setHeader("retry-after", std::to_string(wait));
            return fail(res, 429, "Too many pairing attempts; try again later");
        }
        const auto name = optionalStringMember(req.body, "deviceName").value_or("iPhone");
        if (name.size() > kMaxDeviceNameBytes) {
            return fail(res, 400,
                        "deviceName is longer than " + std::to_string(kMaxDeviceNameBytes) +
                            " bytes");
        }
        if (name.find('\0') != std::string::npos) {
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
    });

    // The device of the request's bearer token in the path's sync space, or an error answer.
    auto device = [this,
                   now](const HttpRequest& req, HttpResponse& res,
                        const std::string& syncSpaceId) -> std::optional<AuthenticatedDevice> {
        const auto token = bearerToken(req);
        if (!token) {
            fail(res, 401, "Missing bearer token");
            return std::nullopt;
        }
        auto found = store_.authenticate(syncSpaceId, *token, now());
        if (!found) {
            fail(res, 401, "Invalid token for this sync space");
        }
        return found;
    };

    s.post("/v1/sync-spaces/{}/snapshots",
           [this, now, device](const HttpRequest& req, HttpResponse& res) {
               const std::string space = req.params[0];
               // The common case in one step: the body is a valid snapshot by the device it
               // names, and the token is that connector's. Anything else takes the path below,
               // which finds the right refusal.
               const auto token = bearerToken(req);
               const auto named = optionalStringMember(req.body, "device", "id");
               std::string snapshotId;
               if (token && named && !validator_(req.body, space, *named, snapshotId)) {
                   const UnixTime stamp = now();
                   if (store_.uploadSnapshot(space, *token, *named, snapshotId, req.body, stamp)) {
                       return answer(res, jsonObject({{"status", "accepted"},
                                                      {"snapshotId", snapshotId},
                                                      {"updatedAt", isoTime(stamp)}}));
                   }
               }
               const auto who = device(req, res, space);
               if (!who) {
                   return;
               }
               if (who->role != DeviceRole::connector) {
                   return fail(res, 401, "Only a connector device may upload snapshots");
               }
               if (auto problem = validator_(req.body, space, who->id, snapshotId)) {
                   return fail(res, 400, *problem);
               }
               const UnixTime stamp = now();
               if (!store_.putSnapshot(space, snapshotId, req.body, stamp)) {
                   return fail(res, 401, "Invalid token for this sync space");
               }
               answer(res, jsonObject({{"status", "accepted"},
                                       {"snapshotId", snapshotId},
                                       {"updatedAt", isoTime(stamp)}}));
           });

    s.get("/v1/sync-spaces/{}/snapshots/latest",
          [this, device](const HttpRequest& req, HttpResponse& res) {
              const std::string space = req.params[0];
              if (!device(req, res, space)) {
                  return;
              }
              auto body = store_.latestSnapshot(space);
              if (!body) {
                  return fail(res, 404, "No snapshot uploaded yet");
              }
              answer(res, std::move(*body));
          });

    // The latest snapshot as display rows for the web view.
    s.get("/v1/sync-spaces/{}/snapshots/latest/view",
          [this, now, device](const HttpRequest& req, HttpResponse& res) {
              const std::string space = req.params[0];
              for (const auto& [name, value] : webSecurityHeaders()) {
                  res.setHeader(std::string(name), std::string(value));
              }
              res.setHeader("cache-control", "no-store");
              if (!device(req, res, space)) {
                  return;
              }
              std::string pairedName;
              bool connectorLinked = false;
              for (const auto& d : store_.devices(space)) {
                  if (d.kind == "connector") {
                      pairedName = d.name;
                      connectorLinked = true;
                      break;
                  }
              }
              auto view = snapshotViewJson(store_.latestSnapshot(space), pairedName,
                                           instantFromUnixSeconds(now()), connectorLinked);
              if (!view) {
                  return fail(res, 500, "Stored snapshot does not decode");
              }
              answer(res, std::move(*view));
          });

    s.get("/v1/sync-spaces/{}/devices", [this, device](const HttpRequest& req, HttpResponse& res) {
        const std::string space = req.params[0];
        if (!device(req, res, space)) {
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
    });

    s.del("/v1/sync-spaces/{}/devices/{}",
          [this, device](const HttpRequest& req, HttpResponse& res) {
              const std::string space = req.params[0];
              const std::string target = req.params[1];
              if (!device(req, res, space)) {
                  return;
              }
              if (!store_.deleteDevice(space, target)) {
                  return fail(res, 404, "Unknown device");
              }
              answer(res, jsonObject({{"status", "deleted"}, {"deviceId", target}}));
          });

    s.get("/download/{}/manifest.json", [this](const HttpRequest&, HttpResponse& res) {
        if (!options_.manifest) {
            return fail(res, 404, "No manifest");
        }
        auto body = readBounded(*options_.manifest, kMaxBodyBytes);
        if (!body) {
            return fail(res, 404, "No manifest");
        }
        answer(res, std::move(*body));
    });

    // The web view's files; added last, so every API route above wins.
    const auto page = [](const HttpRequest& req, HttpResponse& res) {
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
    };
    s.get("/", page);
    s.get("/{}", page);
}

} // namespace korvo::relayserver

#include "RelayServer.h"

#include "RelayJson.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fstream>
#include <httplib.h>
#include <netinet/in.h>
#include <simdjson.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvo::relayserver {
namespace {

constexpr const char* kJson = "application/json";

void fail(httplib::Response& res, int status, std::string_view message) {
    res.status = status;
    res.set_content(jsonError(message), kJson);
}

void answer(httplib::Response& res, std::string body) {
    res.status = 200;
    res.set_content(std::move(body), kJson);
}

// The token of an "authorization: Bearer TOKEN" header, or nothing.
std::optional<std::string> bearerToken(const httplib::Request& req) {
    const std::string value = req.get_header_value("authorization");
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

std::optional<std::string> optionalStringMember(const std::string& body, const char* name) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    std::string_view value;
    if (parser.parse(body).get(root) != simdjson::SUCCESS ||
        root[name].get_string().get(value) != simdjson::SUCCESS || value.empty()) {
        return std::nullopt;
    }
    return std::string(value);
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

RelayServer::RelayServer(RelayStore& store, RelayOptions options, SnapshotValidator validator)
    : store_(store), options_(std::move(options)), validator_(std::move(validator)),
      claimThrottle_(options_.claimLimits), server_(std::make_unique<httplib::Server>()) {
    const int threads = options_.workerThreads;
    server_->new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<std::size_t>(threads));
    };
    server_->set_payload_max_length(kMaxBodyBytes);
    server_->set_keep_alive_max_count(1000);
    // Headers and body go out in separate writes; without this, Nagle's algorithm and the
    // peer's delayed acknowledgement add tens of milliseconds to every answer.
    server_->set_tcp_nodelay(true);
    routes();
}

RelayServer::~RelayServer() = default;

namespace {

// The HTTP library listens with a backlog of 5; a burst of connecting clients overflows it and
// the kernel drops their handshakes, which then wait a second for a retransmission. Raise the
// backlog of our listening socket (found by its port) to the system maximum.
void widenBacklog(int port) {
    const int limit = static_cast<int>(::sysconf(_SC_OPEN_MAX));
    for (int fd = 3; fd < std::min(limit, 4096); ++fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening) {
            continue;
        }
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            continue;
        }
        int bound = -1;
        if (address.ss_family == AF_INET) {
            bound = ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        } else if (address.ss_family == AF_INET6) {
            bound = ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
        }
        if (bound == port) {
            ::listen(fd, SOMAXCONN);
        }
    }
}

} // namespace

int RelayServer::bind(const std::string& host, int port) {
    const int bound = port == 0 ? server_->bind_to_any_port(host)
                                : (server_->bind_to_port(host, port) ? port : -1);
    if (bound > 0) {
        widenBacklog(bound);
    }
    return bound;
}

bool RelayServer::listen() {
    return server_->listen_after_bind();
}

void RelayServer::stop() {
    server_->stop();
}

void RelayServer::routes() {
    auto& s = *server_;
    const auto now = [this] { return options_.clock(); };

    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) {
            return;
        }
        switch (res.status) {
        case 404:
            res.set_content(jsonError("Not found"), kJson);
            break;
        case 413:
            res.set_content(jsonError("Request body exceeds 1 MiB"), kJson);
            break;
        case 400:
            res.set_content(jsonError("Bad request"), kJson);
            break;
        default:
            res.set_content(jsonError("HTTP error " + std::to_string(res.status)), kJson);
        }
    });
    s.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
            std::string message = "Internal error";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                message += std::string(": ") + e.what();
            } catch (...) {
            }
            fail(res, 500, message);
        });

    s.Get("/health", [this](const httplib::Request&, httplib::Response& res) {
        answer(res, jsonObject({{"status", "ok"}, {"environment", options_.environment}}));
    });

    s.Post("/v1/pairing/sessions",
           [this, now](const httplib::Request& req, httplib::Response& res) {
               std::string problem;
               const auto members =
                   stringMembers(req.body, {"connectorDeviceId", "connectorDeviceName"}, problem);
               if (!members) {
                   return fail(res, 400, problem);
               }
               const auto session = store_.createSession((*members)[0], (*members)[1], now());
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

    s.Get(R"(/v1/pairing/sessions/([^/]+))", [this, now](const httplib::Request& req,
                                                         httplib::Response& res) {
        const auto poll =
            store_.pollSession(req.matches[1], req.get_header_value("x-pairing-secret"), now());
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

    s.Post("/v1/pairing/claim", [this, now](const httplib::Request& req, httplib::Response& res) {
        std::string problem;
        const auto members = stringMembers(req.body, {"pairingCode"}, problem);
        if (!members) {
            return fail(res, 400, problem);
        }
        const UnixTime time = now();
        if (!claimThrottle_.allows(req.remote_addr, time)) {
            res.set_header("retry-after",
                           std::to_string(claimThrottle_.retryAfter(req.remote_addr, time)));
            return fail(res, 429, "Too many pairing attempts; try again later");
        }
        const auto name = optionalStringMember(req.body, "deviceName").value_or("iPhone");
        const auto claim = store_.claim((*members)[0], name, time);
        switch (claim.outcome) {
        case Claim::Outcome::unknown:
            claimThrottle_.recordFailure(req.remote_addr, time);
            return fail(res, 404, "Unknown or expired pairing code");
        case Claim::Outcome::alreadyClaimed:
            claimThrottle_.recordFailure(req.remote_addr, time);
            return fail(res, 409, "Pairing code already claimed");
        case Claim::Outcome::claimed:
            return answer(res, jsonObject({{"syncSpaceId", claim.syncSpaceId},
                                           {"phoneDeviceId", claim.phoneDeviceId},
                                           {"phoneDeviceToken", claim.phoneDeviceToken}}));
        }
    });

    // The device of the request's bearer token in the path's sync space, or an error answer.
    auto device = [this,
                   now](const httplib::Request& req, httplib::Response& res,
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

    s.Post(R"(/v1/sync-spaces/([^/]+)/snapshots)",
           [this, now, device](const httplib::Request& req, httplib::Response& res) {
               const std::string space = req.matches[1];
               const auto who = device(req, res, space);
               if (!who) {
                   return;
               }
               if (who->role != DeviceRole::connector) {
                   return fail(res, 401, "Only a connector device may upload snapshots");
               }
               std::string snapshotId;
               if (auto problem = validator_(req.body, space, snapshotId)) {
                   return fail(res, 400, *problem);
               }
               const UnixTime stamp = now();
               store_.putSnapshot(space, snapshotId, req.body, stamp);
               answer(res, jsonObject({{"status", "accepted"},
                                       {"snapshotId", snapshotId},
                                       {"updatedAt", isoTime(stamp)}}));
           });

    s.Get(R"(/v1/sync-spaces/([^/]+)/snapshots/latest)",
          [this, device](const httplib::Request& req, httplib::Response& res) {
              const std::string space = req.matches[1];
              if (!device(req, res, space)) {
                  return;
              }
              auto body = store_.latestSnapshot(space);
              if (!body) {
                  return fail(res, 404, "No snapshot uploaded yet");
              }
              answer(res, std::move(*body));
          });

    s.Get(R"(/v1/sync-spaces/([^/]+)/devices)",
          [this, device](const httplib::Request& req, httplib::Response& res) {
              const std::string space = req.matches[1];
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

    s.Delete(R"(/v1/sync-spaces/([^/]+)/devices/([^/]+))",
             [this, device](const httplib::Request& req, httplib::Response& res) {
                 const std::string space = req.matches[1];
                 const std::string target = req.matches[2];
                 if (!device(req, res, space)) {
                     return;
                 }
                 if (!store_.deleteDevice(space, target)) {
                     return fail(res, 404, "Unknown device");
                 }
                 answer(res, jsonObject({{"status", "deleted"}, {"deviceId", target}}));
             });

    s.Get(R"(/download/([^/]+)/manifest.json)",
          [this](const httplib::Request&, httplib::Response& res) {
              if (!options_.manifest) {
                  return fail(res, 404, "No manifest");
              }
              auto body = readBounded(*options_.manifest, kMaxBodyBytes);
              if (!body) {
                  return fail(res, 404, "No manifest");
              }
              answer(res, std::move(*body));
          });
}

} // namespace korvo::relayserver

// korvo-relay's request bodies, sent over loopback to a relay server in this process: the input's
// first byte picks the endpoint (pairing session, phone claim, snapshot upload with a valid
// token), the rest is the body, where "@SPACE@" stands for the paired sync space's id. Every
// answer is a JSON object with a status below 500, and a snapshot answered 200 reads back byte
// for byte.

#include "FuzzSupport.h"
#include "RelayServer.h"
#include "RelayStore.h"
#include "SnapshotValidation.h"
#include "model/SnapshotJson.h"
#include "support/TestHome.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <simdjson.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace korvo;
using namespace korvo::relayserver;

namespace {

constexpr UnixTime kNow = 1'772'356'445;

// One relay with one paired connector and phone, serving on its own thread until exit.
struct Relay {
    Relay() {
        std::signal(SIGPIPE, SIG_IGN);
        store = std::make_unique<RelayStore>(folder / "relay.db");
        RelayOptions options;
        options.clock = [] { return kNow; };
        options.http.threads = 2;
        // Made-up claims and new sessions are most of what the fuzzer sends: never throttled.
        options.claimLimits.perClient = options.claimLimits.minFailures = 1'000'000'000;
        options.sessionLimits.burst = 1'000'000'000;
        options.maxLiveSessions = 1'000'000'000;
        server = std::make_unique<RelayServer>(*store, options,
                                               korvo::relayserver::validateUploadedSnapshot);
        port = server->bind("127.0.0.1", 0);
        test::expect(port > 0, "the relay binds");
        thread = std::thread([this] { server->listen(); });
        const auto session = store->createSession("conn", "Fuzz", kNow);
        const auto claim = store->claim(session->code, "Phone", kNow);
        const auto poll = store->pollSession(session->id, session->secret, kNow);
        space = claim.syncSpaceId;
        phoneToken = claim.phoneDeviceToken;
        connectorToken = poll.connectorDeviceToken.value_or("");
        test::expect(!connectorToken.empty(), "the connector is paired");
    }

    // The status and body of one request; status 0 when no HTTP answer came.
    std::pair<int, std::string> request(const std::string& head, std::string_view body) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string out;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            std::string message =
                head + "Host: 127.0.0.1\r\nConnection: close\r\n" +
                "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n";
            message.append(body);
            for (std::size_t sent = 0; sent < message.size();) {
                const ssize_t n = ::send(fd, message.data() + sent, message.size() - sent, 0);
                if (n <= 0) {
                    break;
                }
                sent += static_cast<std::size_t>(n);
            }
            char buffer[65536];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                out.append(buffer, static_cast<std::size_t>(n));
            }
        }
        ::close(fd);
        const std::size_t headEnd = out.find("\r\n\r\n");
        if (!out.starts_with("HTTP/1.1 ") || headEnd == std::string::npos) {
            return {0, out};
        }
        return {std::atoi(out.c_str() + 9), out.substr(headEnd + 4)};
    }

    test::TestHome folder;
    std::unique_ptr<RelayStore> store;
    std::unique_ptr<RelayServer> server;
    std::thread thread;
    int port = 0;
    std::string space, phoneToken, connectorToken;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    // Lives until the process ends: libFuzzer exits without unwinding.
    static Relay* relay = new Relay();
    // The relay's clock stands still, so no pairing session would ever expire: the sessions of
    // a long run would fill the space of pairing codes until a new one finds no free code (503)
    // and claims of made-up codes start to succeed, answers that depend on the inputs run before
    // and cannot be reproduced from one input. All sessions go every few hundred inputs.
    static unsigned inputs = 0;
    if (++inputs % 256 == 0) {
        relay->store->sweepExpiredSessions(kNow + RelayStore::kSessionLifetime + 86'400);
    }
    if (size == 0) {
        return 0;
    }
    std::string body(test::text(data + 1, size - 1));
    for (std::size_t at; (at = body.find("@SPACE@")) != std::string::npos;) {
        body.replace(at, 7, relay->space);
    }
    std::string head;
    switch (data[0] % 3) {
    case 0:
        head = "POST /v1/pairing/sessions HTTP/1.1\r\n";
        break;
    case 1:
        head = "POST /v1/pairing/claim HTTP/1.1\r\n";
        break;
    default:
        head = "POST /v1/sync-spaces/" + relay->space + "/snapshots HTTP/1.1\r\n" +
               "Authorization: Bearer " + relay->connectorToken + "\r\n";
    }
    auto [status, answer] = relay->request(head, body);
    if (status == 0) { // no HTTP answer at all (a connection refused or reset): once more
        std::tie(status, answer) = relay->request(head, body);
    }
    if (status < 200 || status >= 500) {
        std::fprintf(stderr, "status %d: %s\n", status, answer.c_str());
    }
    test::expect(status >= 200 && status < 500, "an answer below 500");
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    test::expect(parser.parse(answer).get_object().get(object) == simdjson::SUCCESS,
                 "the answer is a JSON object");
    if (data[0] % 3 == 2 && status == 200) {
        const auto latest = relay->request("GET /v1/sync-spaces/" + relay->space +
                                               "/snapshots/latest HTTP/1.1\r\n"
                                               "Authorization: Bearer " +
                                               relay->phoneToken + "\r\n",
                                           {});
        test::expect(latest.first == 200 && latest.second == body,
                     "an accepted snapshot reads back byte for byte");
    }
    return 0;
}

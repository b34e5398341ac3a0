// The relay against clients that bend HTTP framing, flood it with bodies, or share one
// dual-stack listener: real sockets to a korvo-relay child process.

#include "RelayLoad.h"
#include "support/RawConnection.h"
#include "support/RelayChildTest.h"
#include "support/SanitizedBuild.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/resource.h>
#include <thread>

namespace korvo {
namespace {

using Ms = std::chrono::milliseconds;
using relayserver::residentMiB;
using test::RawConnection;

class RelayHostileClientsTest : public test::RelayChildTest {};

TEST_F(RelayHostileClientsTest, AmbiguousFramingIsRefusedWith400AndTheConnectionClosed) {
    start();
    const std::string upload = "POST /v1/pairing/claim HTTP/1.1\r\nHost: relay\r\n";
    const struct {
        const char* name;
        std::string request;
    } cases[] = {
        {"whitespace before the colon of Transfer-Encoding",
         upload + "Transfer-Encoding : chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n"},
        {"a tab before a colon", "GET /health HTTP/1.1\r\nHost: relay\r\nX-A\t: one\r\n\r\n"},
        {"an obs-folded Transfer-Encoding next to a Content-Length",
         upload + "Transfer-Encoding:\r\n chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n"},
        {"an obs-folded Transfer-Encoding value next to a Content-Length",
         upload + "Transfer-Encoding: identity\r\n chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n"},
        {"a header folded into the one before",
         upload + "X-A: y\r\n Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n"},
        {"an obs-fold elsewhere",
         "GET /health HTTP/1.1\r\nHost: relay\r\nX-A: one\r\n two three\r\n\r\n"},
        {"no Host on HTTP/1.1", "GET /health HTTP/1.1\r\n\r\n"},
        {"two Host fields", "GET /health HTTP/1.1\r\nHost: relay\r\nHost: other\r\n\r\n"},
        {"a bare CR in a field", "GET /health HTTP/1.1\r\nHost: relay\r\nX-A: a\rb\r\n\r\n"},
        {"a control character in a field",
         "GET /health HTTP/1.1\r\nHost: relay\r\nX-A: a\x01b\r\n\r\n"},
        {"a signed Content-Length", upload + "Content-Length: +2\r\n\r\n{}"},
        {"a Content-Length list", upload + "Content-Length: 2, 2\r\n\r\n{}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string answer = answerThenClosed(c.request);
        EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << answer.substr(0, 300);
    }
    // What stays allowed: no space after the colon, spaces after the value, HTTP/1.0 without
    // Host.
    for (const std::string& request :
         {std::string("GET /health HTTP/1.1\r\nHost:relay\r\nX-A: b  \r\n\r\n"),
          std::string("GET /health HTTP/1.0\r\n\r\n")}) {
        SCOPED_TRACE(request);
        RawConnection connection(port());
        connection.send(request);
        EXPECT_EQ(connection.readAnswers(1, Ms(5000)).rfind("HTTP/1.1 200", 0), 0u);
    }
}

TEST_F(RelayHostileClientsTest, OnADualStackListenerEachIpv4ClientHasItsOwnAllowance) {
    start({"--listen", "[::]:0"});
    const auto createSession = [&](const char* source) {
        RawConnection connection(port(), source);
        const std::string body = R"({"connectorDeviceId":"C-1","connectorDeviceName":"Box"})";
        connection.send("POST /v1/pairing/sessions HTTP/1.1\r\nHost: relay\r\n"
                        "Content-Type: application/json\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
        const std::string answer = connection.readAnswers(1, Ms(5000));
        return answer.size() > 12 ? answer.substr(9, 3) : answer;
    };
    // The default allowance is 10 sessions per address at once.
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(createSession("127.0.0.1"), "200") << i;
    }
    EXPECT_EQ(createSession("127.0.0.1"), "429");
    EXPECT_EQ(createSession("127.0.0.2"), "200");
    EXPECT_EQ(createSession("127.0.0.3"), "200");
}

TEST_F(RelayHostileClientsTest, BodiesInFlightShareOneMemoryBudget) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    start();
    const double before = residentMiB(relay_->pid());
    // 1,024 connections, each with an almost complete body of almost 1 MiB.
    constexpr int kConnections = 1024;
    constexpr std::size_t kDeclared = (1 << 20) - 1;
    const std::string head = "POST /v1/sync-spaces/s/snapshots HTTP/1.1\r\nHost: relay\r\n"
                             "Content-Type: application/json\r\nContent-Length: " +
                             std::to_string(kDeclared) + "\r\n\r\n";
    const std::string body(kDeclared - 1000, 'x');
    std::vector<std::unique_ptr<RawConnection>> connections;
    int refused = 0;
    double peak = before;
    for (int i = 0; i < kConnections; ++i) {
        // 200 connections from each loopback address, within the per-address share.
        const std::string source = "127.0.5." + std::to_string(1 + i / 200);
        auto connection = std::make_unique<RawConnection>(port(), source.c_str());
        ASSERT_TRUE(connection->connected());
        connection->send(head);
        const std::string early =
            connection->read(Ms(2), [](const std::string& d) { return !d.empty(); });
        if (early.rfind("HTTP/1.1 503", 0) == 0) {
            ++refused;
            continue;
        }
        connection->send(body);
        connections.push_back(std::move(connection));
        if (i % 64 == 0) {
            peak = std::max(peak, residentMiB(relay_->pid()));
        }
    }
    std::this_thread::sleep_for(Ms(1000));
    peak = std::max(peak, residentMiB(relay_->pid()));
    connections.clear();
    double after = residentMiB(relay_->pid());
    // AddressSanitizer keeps freed blocks in its quarantine, so only an optimised relay can give
    // the memory back; a sanitized one is not waited for.
    for (int i = 0; i < 60 && !test::kSanitizedBuild && after > before + 32; ++i) {
        std::this_thread::sleep_for(Ms(1000));
        after = residentMiB(relay_->pid());
    }
    std::printf("body flood: %.0f MiB before, %.0f MiB at the peak, %.0f MiB after; %d of %d "
                "refused at once\n",
                before, peak, after, refused, kConnections);
    EXPECT_GT(refused, 0);
    EXPECT_LE(peak - before, 128);
    if (!test::kSanitizedBuild) {
        EXPECT_LE(after - before, 32);
    }
    // Still serving.
    httplib::Client client("127.0.0.1", port());
    const auto health = client.Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
}

TEST_F(RelayHostileClientsTest, ApiAnswersAreNeverCachedNorSniffed) {
    start();
    httplib::Client client("127.0.0.1", port());
    const struct {
        const char* method;
        const char* path;
        const char* body;
    } requests[] = {
        {"GET", "/health", ""},
        {"POST", "/v1/pairing/sessions", R"({"connectorDeviceId":"C","connectorDeviceName":"B"})"},
        {"POST", "/v1/pairing/claim", R"({"pairingCode":"000000"})"},
        {"GET", "/v1/sync-spaces/nope/snapshots/latest", ""},
        {"GET", "/v1/pairing/sessions/nope", ""},
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.path);
        const auto res = std::string(r.method) == "GET"
                             ? client.Get(r.path)
                             : client.Post(r.path, r.body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->get_header_value("cache-control"), "no-store");
        EXPECT_EQ(res->get_header_value("x-content-type-options"), "nosniff");
        EXPECT_EQ(res->get_header_value("x-request-id").size(), 16u);
    }
}

TEST_F(RelayHostileClientsTest, TenAttackingAddressesCannotKeepAPhoneFromPairing) {
    start();
    // One request from `source`; its status and body.
    const auto post = [&](const char* source, const std::string& path, const std::string& body) {
        RawConnection connection(port(), source);
        connection.send("POST " + path + " HTTP/1.1\r\nHost: relay\r\n" +
                        "Content-Type: application/json\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
        const std::string answer = connection.readAnswers(1, Ms(5000));
        const auto headEnd = answer.find("\r\n\r\n");
        return std::make_pair(answer.size() > 12 ? answer.substr(9, 3) : answer,
                              headEnd == std::string::npos ? "" : answer.substr(headEnd + 4));
    };
    const std::string session = R"({"connectorDeviceId":"C-1","connectorDeviceName":"Box"})";
    // Ten addresses, each in a network of its own, open every session their allowance lets
    // them (shrinking nothing), then guess until refused.
    std::vector<std::string> attackers;
    for (int i = 1; i <= 10; ++i) {
        attackers.push_back("127.0." + std::to_string(i) + ".1");
    }
    for (const auto& attacker : attackers) {
        for (int i = 0; i < 10; ++i) {
            post(attacker.c_str(), "/v1/pairing/sessions", session);
        }
    }
    int guesses = 0;
    for (const auto& attacker : attackers) {
        for (int code = 0; code < 20; ++code) {
            const auto [status, body] =
                post(attacker.c_str(), "/v1/pairing/claim",
                     R"({"pairingCode":"99999)" + std::to_string(code % 10) + R"("})");
            if (status == "429") {
                break;
            }
            ++guesses;
        }
    }
    EXPECT_GT(guesses, 0);
    // A connector elsewhere pairs, and its phone claims with the right code at the first try.
    const auto [created, answer] = post("127.0.20.1", "/v1/pairing/sessions", session);
    ASSERT_EQ(created, "200") << answer;
    const std::string marker = R"("pairingCode":")";
    const std::string code = answer.substr(answer.find(marker) + marker.size(), 6);
    const auto [claimed, claimAnswer] =
        post("127.0.21.1", "/v1/pairing/claim", R"({"pairingCode":")" + code + R"("})");
    EXPECT_EQ(claimed, "200") << claimAnswer;
}

TEST_F(RelayHostileClientsTest, WritesAreJsonFromTheRelaysOwnOrigin) {
    start();
    httplib::Client client("127.0.0.1", port());
    const std::string own = "http://127.0.0.1:" + std::to_string(port());
    const std::string claim = R"({"pairingCode":"000000"})";
    const struct {
        const char* name;
        const char* contentType;
        std::string origin; // "" for none
        int status;
    } cases[] = {
        {"JSON without an Origin (not a browser)", "application/json", "", 404},
        {"JSON from the relay's own page", "application/json", own, 404},
        {"JSON with a charset", "application/json; charset=utf-8", "", 404},
        {"text/plain, which a page of any origin may send without asking", "text/plain", "", 415},
        {"a form", "application/x-www-form-urlencoded", "", 415},
        {"JSON from another origin", "application/json", "https://evil.example", 403},
        {"JSON from another port", "application/json", "http://127.0.0.1:1", 403},
        {"JSON from an opaque origin", "application/json", "null", 403},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        httplib::Headers headers;
        if (!c.origin.empty()) {
            headers.emplace("Origin", c.origin);
        }
        const auto res = client.Post("/v1/pairing/claim", headers, claim, c.contentType);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status) << res->body;
    }
    // A removal from another origin is refused before it is looked at.
    const auto removal =
        client.Delete("/v1/sync-spaces/s/devices/d", {{"Origin", "https://evil.example"}});
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->status, 403);
}

} // namespace
} // namespace korvo

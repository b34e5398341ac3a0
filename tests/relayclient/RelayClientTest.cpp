#include "relayclient/RelayClient.h"

#include "model/SnapshotJson.h"
#include "support/HostileRelay.h"
#include "support/RunTask.h"
#include "support/TestSnapshot.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <functional>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using test::HostileRelay;
using test::httpResponse;
using test::runTask;
using Call = std::function<QCoro::Task<std::string>(RelayClient&)>;

// A credential of the relay the client talks to.
RelayCredential mine(const RelayClient& client, std::string value) {
    return {std::move(value), RelayAddress::origin(client.baseURL())};
}

// "" when the call succeeded, else the error's description.
template <class T> QCoro::Task<std::string> outcome(QCoro::Task<RelayResult<T>> task) {
    const auto result = co_await std::move(task);
    co_return result.ok() ? std::string() : result.error().description();
}

class RelayClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureApplication(); }
    QNetworkAccessManager network_;
};

struct RequestCase {
    const char* name;
    Call call;
    QByteArray requestLine;
    QByteArray authorization, pairingSecret; // values as sent; empty: no such header
    QByteArray body; // with a body, exactly one "content-type: application/json"
};

TEST_F(RelayClientTest, EachOperationSendsItsMethodPathHeadersAndBody) {
    const UsageSnapshot snapshot = test::testSnapshot("space-7");
    const std::vector<RequestCase> cases = {
        {"create pairing session",
         [](RelayClient& c) { return outcome(c.createPairingSession("DEV-1", "Dev \"Box\"")); },
         "POST /v1/pairing/sessions HTTP/1.1", "", "",
         R"({"connectorDeviceId":"DEV-1","connectorDeviceName":"Dev \"Box\""})"},
        {"pairing status",
         [](RelayClient& c) { return outcome(c.pairingStatus("ps1", mine(c, "s3cret"))); },
         "GET /v1/pairing/sessions/ps1 HTTP/1.1", "", "s3cret", ""},
        {"upload snapshot",
         [&snapshot](RelayClient& c) {
             return outcome(c.uploadSnapshot(snapshot, mine(c, "tok")));
         },
         "POST /v1/sync-spaces/space-7/snapshots HTTP/1.1", "Bearer tok", "",
         QByteArray::fromStdString(encodeSnapshot(snapshot).value())},
        {"health", [](RelayClient& c) { return outcome(c.health()); }, "GET /health HTTP/1.1", "",
         "", ""},
        {"delete device",
         [](RelayClient& c) { return outcome(c.deleteDevice("space-7", "DEV-1", mine(c, "tok"))); },
         "DELETE /v1/sync-spaces/space-7/devices/DEV-1 HTTP/1.1", "Bearer tok", "", ""},
        {"list devices, identifiers inserted unescaped",
         [](RelayClient& c) { return outcome(c.listDevices("a/b", mine(c, "tok"))); },
         "GET /v1/sync-spaces/a/b/devices HTTP/1.1", "Bearer tok", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostileRelay server(httpResponse(200, "{}"));
        // A base URL with a path of its own: requests still go to the host's root.
        RelayClient client(&network_, server.url("/api/"));
        QCoro::waitFor(c.call(client));
        ASSERT_EQ(server.requests().size(), 1u);
        const QByteArray raw = server.requests()[0].raw;
        const QByteArray head = raw.left(raw.indexOf("\r\n\r\n") + 2);
        EXPECT_EQ(head.left(head.indexOf("\r\n")), c.requestLine);
        const std::pair<QByteArray, QByteArray> headers[] = {
            {"authorization", c.authorization},
            {"x-pairing-secret", c.pairingSecret},
            {"content-type", c.body.isEmpty() ? "" : "application/json"}};
        for (const auto& [name, value] : headers) {
            // Names are matched case-sensitively: a re-cased name is not found.
            EXPECT_EQ(head.count("\r\n" + name + ": " + value + "\r\n"), value.isEmpty() ? 0 : 1)
                << name.data();
            EXPECT_EQ(head.toLower().count("\r\n" + name + ":"), value.isEmpty() ? 0 : 1)
                << name.data();
        }
        EXPECT_EQ(raw.mid(head.size() + 2), c.body);
    }
}

struct AnswerCase {
    const char* name;
    Call call;
    int status;
    QByteArray body;
    std::string description; // empty when the call succeeds
};

TEST_F(RelayClientTest, AnswersBecomeRecordsOrErrorsWithTheirTexts) {
    const Call status = [](RelayClient& c) {
        return outcome(c.pairingStatus("ps1", mine(c, "secret")));
    };
    const Call session = [](RelayClient& c) { return outcome(c.createPairingSession("D", "b")); };
    const Call devices = [](RelayClient& c) { return outcome(c.listDevices("s", mine(c, "t"))); };
    const std::string longBody = "{\"error\":\"" + std::string(5000, 'x') + "\"}";
    const QByteArray fractional =
        R"({"pairingSessionId":"ps1","pairingCode":"123456","qrPayload":"q","expiresAt":"2026-12-06T11:00:00.5Z"})";
    const QByteArray escapedDate =
        R"({"pairingSessionId":"ps1","pairingCode":"123456","qrPayload":"q","expiresAt":"\u001b]0;x\u0007"})";
    const QByteArray escapedCode =
        R"({"pairingSessionId":"ps1","pairingCode":"12\u001b[2J","qrPayload":"q","expiresAt":"2026-12-06T11:00:00Z"})";
    // A pairing session as an error quotes it: the code and the QR payload (which holds the
    // secret) hidden.
    const auto quoted = [](QByteArray body) {
        return body.replace(R"("123456")", R"("[hidden]")")
            .replace(R"("12\u001b[2J")", R"("[hidden]")")
            .replace(R"("q")", R"("[hidden]")")
            .toStdString();
    };
    const QByteArray noCreatedAt =
        R"({"devices":[{"id":"a","name":"A","kind":"phone","createdAt":"c"},{"id":"b","name":"B","kind":"connector"}]})";
    const std::vector<AnswerCase> cases = {
        {"long bodies are cut short", status, 403, QByteArray::fromStdString(longBody),
         "Relay returned HTTP 403: " + longBody.substr(0, 512) + "\u2026"},
        {"control characters are dropped, line breaks become spaces", status, 400,
         "\x1b]0;owned\x07\x1b[2J\x1b]8;;http://"
         "x\x1b\\{\"error\":\"bad\"}\r\n\xc2\x9b"
         "1m\xe2\x80\xaeZ",
         "Relay returned HTTP 400: ]0;owned[2J]8;;http://x\\{\"error\":\"bad\"}  1mZ"},
        {"a body that is not UTF-8 is left out", status, 502, "\xff\xfe",
         "Relay returned HTTP 502."},
        {"204 with an empty body", status, 204, "",
         "Relay response decode failed: the body is empty."},
        {"200 with a body that is not JSON", status, 200, "<html>",
         "Relay response decode failed: the body is not valid JSON. Body: <html>"},
        {"null optionals and unknown members", status, 200,
         R"({"status":"paired","syncSpaceId":null,"extra":[1,2]})", ""},
        {"missing status", status, 200, R"({"syncSpaceId":"s"})",
         R"(Relay response decode failed: the member "status" is missing. Body: {"syncSpaceId":"s"})"},
        {"wrong type; the token's value is hidden", status, 200,
         R"({"status":"paired","connectorDeviceToken":7})",
         R"(Relay response decode failed: the member "connectorDeviceToken" is not a string. Body: {"status":"paired","connectorDeviceToken":"[hidden]"})"},
        {"fractional seconds in expiresAt", session, 200, fractional,
         "Relay response decode failed: the member \"expiresAt\" is not an ISO 8601 date-time "
         "without fractional seconds: \"2026-12-06T11:00:00.5Z\". Body: " +
             quoted(fractional)},
        {"a quoted value loses its control characters", session, 200, escapedDate,
         "Relay response decode failed: the member \"expiresAt\" is not an ISO 8601 date-time "
         "without fractional seconds: \"]0;x\". Body: " +
             quoted(escapedDate)},
        {"an identifier printing would change is refused", session, 200, escapedCode,
         "Relay response decode failed: the member \"pairingCode\" is not a printable "
         "identifier. Body: " +
             quoted(escapedCode)},
        {"device without createdAt", devices, 200, noCreatedAt,
         "Relay response decode failed: the member \"devices[1].createdAt\" is missing. Body: " +
             noCreatedAt.toStdString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostileRelay server(httpResponse(c.status, c.body));
        RelayClient client(&network_, server.url());
        EXPECT_EQ(QCoro::waitFor(c.call(client)), c.description);
    }
    // Shown members lose their control characters when they are decoded; markup stays text.
    const auto listed = decodeDevicesResponse(
        R"({"devices":[{"id":"a","name":"<b>Box\u001b]0;t\u0007</b>","kind":"phone\u009b","createdAt":"c","lastSeenAt":"\r\nx"}]})");
    ASSERT_TRUE(listed.ok());
    const RelayDevice& device = listed.value().devices.at(0);
    EXPECT_EQ(std::tie(device.name, device.kind, device.lastSeenAt),
              std::make_tuple("<b>Box]0;t</b>", "phone", std::optional<std::string>("  x")));
}

TEST_F(RelayClientTest, TransportFailuresPassTheirErrorThrough) {
    HostileRelay silent{QByteArray()};
    QUrl closed;
    {
        HostileRelay gone(httpResponse(200, "{}"));
        closed = gone.url();
    }
    struct Case {
        const char* name;
        QUrl url;
        QNetworkReply::NetworkError error;
        std::string description;
    };
    for (const Case& c : {Case{"a server that never answers", silent.url(),
                               QNetworkReply::TimeoutError, "The request timed out."},
                          Case{"a refused connection", closed,
                               QNetworkReply::ConnectionRefusedError, "Connection refused"}}) {
        SCOPED_TRACE(c.name);
        const auto result =
            runTask(RelayClient(&network_, c.url, std::chrono::milliseconds(300)).health());
        ASSERT_FALSE(result.ok());
        ASSERT_NE(result.error().transportError(), nullptr);
        EXPECT_EQ(result.error().transportError()->networkError, static_cast<int>(c.error));
        EXPECT_EQ(result.error().description(), c.description);
    }
    EXPECT_EQ(silent.connections(), 1);
}

// The network layer going away (with the model that owns it) deletes its replies without a
// "finished": every call in flight still ends, as a cancellation, at that moment.
TEST_F(RelayClientTest, CallsInFlightEndWhenTheNetworkGoesAway) {
    HostileRelay silent{QByteArray()};
    auto network = std::make_unique<QNetworkAccessManager>();
    RelayClient client(network.get(), silent.url());
    const std::vector<Call> calls = {
        [](RelayClient& c) { return outcome(c.health()); },
        [](RelayClient& c) {
            return outcome(c.uploadSnapshot(test::testSnapshot("s"), mine(c, "t")));
        },
        [](RelayClient& c) { return outcome(c.pairingStatus("p", mine(c, "secret"))); },
    };
    std::vector<std::optional<std::string>> ends(calls.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        [](QCoro::Task<std::string> call, std::optional<std::string>* end) -> QCoro::Task<> {
            *end = co_await std::move(call);
        }(calls[i](client), &ends[i]);
    }
    QElapsedTimer waited;
    waited.start();
    while (silent.requests().size() < calls.size() && waited.elapsed() < 10'000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    ASSERT_EQ(silent.requests().size(), calls.size());
    EXPECT_EQ(ends, decltype(ends)(calls.size(), std::nullopt));
    network.reset();
    EXPECT_EQ(ends, decltype(ends)(calls.size(), "The request was cancelled."));
}

// A relay that redirects elsewhere: the request is not followed to the other origin, so the
// token never leaves the relay, and the error says why. A redirect within the relay's origin
// is followed.
TEST_F(RelayClientTest, RedirectsToAnotherOriginAreNotFollowed) {
    HostileRelay elsewhere(httpResponse(200, R"({"devices":[]})"));
    const auto redirectTo = [](const QUrl& target) {
        return "HTTP/1.1 307 Moved\r\nlocation: " + target.toEncoded() +
               "\r\ncontent-length: 0\r\nconnection: close\r\n\r\n";
    };
    const UsageSnapshot snapshot = test::testSnapshot("s");
    const std::vector<std::pair<const char*, Call>> cases = {
        {"upload",
         [&](RelayClient& c) { return outcome(c.uploadSnapshot(snapshot, mine(c, "tok"))); }},
        {"unlink",
         [](RelayClient& c) { return outcome(c.deleteDevice("s", "d", mine(c, "tok"))); }},
        {"device list", [](RelayClient& c) { return outcome(c.listDevices("s", mine(c, "tok"))); }},
        {"status poll",
         [](RelayClient& c) { return outcome(c.pairingStatus("p", mine(c, "secret"))); }},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        HostileRelay relay(redirectTo(elsewhere.url("/v1/sync-spaces/s/devices")));
        RelayClient client(&network_, relay.url());
        const std::string error = QCoro::waitFor(call(client));
        EXPECT_EQ(error, "The relay redirected the request to another origin (" +
                             elsewhere.url().toString().toStdString() +
                             "); redirects away from the relay are not followed, so no "
                             "credentials were sent there.");
        EXPECT_EQ(relay.requests().size(), 1u);
    }
    EXPECT_EQ(elsewhere.connections(), 0);

    HostileRelay relay(httpResponse(404, "{}"));
    relay.setAnswer("GET /old/devices", redirectTo(relay.url("/v1/sync-spaces/s/devices")));
    relay.setAnswer("GET /v1/sync-spaces/s/devices", httpResponse(200, R"({"devices":[]})"));
    RelayClient client(&network_, relay.url());
    const auto moved = runTask(client.listDevices("s", mine(client, "tok")));
    EXPECT_EQ(relay.count("GET /v1/sync-spaces/s/devices"), 1);
    EXPECT_TRUE(moved.ok());
}

// Answers past the cap end the transfer while it arrives, whatever their status and whether or
// not they announce their length.
TEST_F(RelayClientTest, OversizedAnswersAreAbortedWhileTheyArrive) {
    const QByteArray big(2 * RelayClient::kMaxReplyBytes, 'x');
    const QByteArray announced = "HTTP/1.1 200 OK\r\ncontent-length: 419430400\r\n\r\n" + big;
    const QByteArray unannounced = "HTTP/1.1 200 OK\r\nconnection: close\r\n\r\n" + big;
    const std::pair<const char*, QByteArray> cases[] = {
        {"400 MiB announced", announced},
        {"no length, read until the connection closes", unannounced},
        {"an error answer", httpResponse(500, big)},
        {"one byte over", httpResponse(200, QByteArray(RelayClient::kMaxReplyBytes + 1, ' '))},
    };
    for (const auto& [name, response] : cases) {
        SCOPED_TRACE(name);
        HostileRelay server(response);
        const auto result = runTask(RelayClient(&network_, server.url()).health());
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().description(),
                  "The relay's answer is larger than 1024 KiB; the transfer was stopped.");
    }
    // Right at the cap the answer is read whole (and fails only as JSON).
    HostileRelay server(httpResponse(200, QByteArray(RelayClient::kMaxReplyBytes, ' ')));
    const auto atCap = runTask(RelayClient(&network_, server.url()).health());
    ASSERT_NE(atCap.error().clientError(), nullptr);
}

TEST_F(RelayClientTest, RequestsThatCannotBeBuiltSendNothing) {
    UsageSnapshot notFinite = test::testSnapshot("space");
    notFinite.providers[0].usage.costUsd = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<const char*, Call>> cases = {
        {"space in an identifier",
         [](RelayClient& c) { return outcome(c.listDevices("my space", mine(c, "t"))); }},
        {"stray percent sign",
         [](RelayClient& c) { return outcome(c.deleteDevice("s", "50%", mine(c, "t"))); }},
        {"device name that is not UTF-8",
         [](RelayClient& c) { return outcome(c.createPairingSession("d", "\xff")); }},
        {"snapshot that cannot be encoded",
         [&notFinite](RelayClient& c) {
             return outcome(c.uploadSnapshot(notFinite, mine(c, "t")));
         }},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        HostileRelay server(httpResponse(200, "{}"));
        RelayClient client(&network_, server.url());
        EXPECT_NE(QCoro::waitFor(call(client)), "");
        EXPECT_EQ(server.connections(), 0);
    }
    const auto result = runTask(RelayClient(&network_, QUrl()).health());
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().requestError(), nullptr);
}

// The time limit holds from the start of a request to the end of its answer, however steadily
// the answer trickles in (a byte every 30 ms: the whole would take seconds), whatever its status.
TEST_F(RelayClientTest, ATrickledAnswerEndsAtTheOverallLimit) {
    const std::pair<int, QByteArray> answers[] = {
        {200, R"({"status":"ok","environment":"trickled"})"},
        {500, R"({"error":"slow and wrong"})"},
    };
    for (const auto& [status, body] : answers) {
        SCOPED_TRACE(status);
        HostileRelay relay;
        relay.answer("GET /health", status, body);
        relay.trickle(30ms);
        QElapsedTimer elapsed;
        elapsed.start();
        const auto result = runTask(RelayClient(&network_, relay.url(), 400ms).health());
        EXPECT_LT(elapsed.elapsed(), 2000);
        ASSERT_FALSE(result.ok());
        ASSERT_NE(result.error().transportError(), nullptr);
        EXPECT_EQ(result.error().transportError()->networkError,
                  static_cast<int>(QNetworkReply::TimeoutError));
        EXPECT_EQ(result.error().description(), "The request timed out.");
    }
}

// Without a limit of its own the client gives a request 60 s by its monotonic clock, counted
// from the start: an answer still trickling in at 59.9 s goes on, one still trickling in past 60 s
// ends there as timed out.
TEST_F(RelayClientTest, TheDefaultLimitIsSixtySecondsFromTheStart) {
    HostileRelay relay;
    relay.answer("GET /health", 200,
                 R"({"status":"ok","environment":")" + QByteArray(300, 'x') + "\"}");
    relay.trickle(20ms, true); // the whole body would take 6 s
    auto now = std::make_shared<std::chrono::steady_clock::time_point>();
    RelayClient client(&network_, relay.url());
    client.setClock([now] { return *now; });
    EXPECT_EQ(client.timeout(), 60s);
    std::optional<std::string> end;
    QCoro::Task<> call = [](QCoro::Task<std::string> task,
                            std::optional<std::string>* out) -> QCoro::Task<> {
        *out = co_await std::move(task);
    }(outcome(client.health()), &end);
    const auto waitFor = [](const std::function<bool()>& done, int milliseconds) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < milliseconds) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return done();
    };
    ASSERT_TRUE(waitFor([&] { return !relay.requests().empty(); }, 5000));
    *now += 59'900ms;
    EXPECT_FALSE(waitFor([&] { return end.has_value(); }, 400));
    *now += 200ms;
    EXPECT_TRUE(waitFor([&] { return end.has_value(); }, 1500));
    EXPECT_EQ(end, "The request timed out.");
    QCoro::waitFor(std::move(call));
}

// A credential goes to the origin it belongs to and nowhere else: a client whose base URL is on
// another origin sends nothing. Origins compare scheme, host and port, however they are spelt.
TEST_F(RelayClientTest, ACredentialIsSentToItsOwnOriginOnly) {
    HostileRelay issuer, other;
    const RelayCredential token{HostileRelay::kToken, issuer.origin()};
    const UsageSnapshot snapshot = test::testSnapshot("s");
    const std::vector<std::pair<const char*, Call>> cases = {
        {"upload", [&](RelayClient& c) { return outcome(c.uploadSnapshot(snapshot, token)); }},
        {"unlink", [&](RelayClient& c) { return outcome(c.deleteDevice("s", "d", token)); }},
        {"device list", [&](RelayClient& c) { return outcome(c.listDevices("s", token)); }},
        {"status poll", [&](RelayClient& c) { return outcome(c.pairingStatus("p", token)); }},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        RelayClient client(&network_, other.url());
        EXPECT_EQ(QCoro::waitFor(call(client)),
                  "The credential belongs to the relay at " + issuer.origin().toStdString() +
                      ", not to " + other.origin().toStdString() + "; nothing was sent.");
    }
    EXPECT_EQ(other.requests().size(), 0u);

    const std::pair<const char*, const char*> origins[] = {
        {"https://Relay.Example.com", "https://relay.example.com:443"},
        {"https://relay.example.com:443/api/", "https://relay.example.com:443"},
        {"http://me:pw@127.0.0.1:8787/x?y#z", "http://127.0.0.1:8787"},
        {"HTTP://[::1]", "http://[::1]:80"},
        {"ftp://relay.example.com", ""},
        {"relay.example.com", ""},
    };
    for (const auto& [url, origin] : origins) {
        EXPECT_EQ(RelayAddress::origin(QUrl(QString::fromLatin1(url))), QString::fromLatin1(origin))
            << url;
    }
}

// An error that quotes the relay's answer hides its token, secret and code fields, the
// credential the request carried and the password of the relay URL, wherever they stand in it.
TEST_F(RelayClientTest, QuotedAnswersHideTokensSecretsCodesAndPasswords) {
    const std::string fresh = "tok_FRESH_8e2b7c";
    const Call devices = [](RelayClient& c) {
        return outcome(c.listDevices("s", mine(c, "tok_SENT_41d9a0")));
    };
    const Call status = [](RelayClient& c) {
        return outcome(c.pairingStatus("p", mine(c, "sec_SENT_77ab01")));
    };
    const Call session = [](RelayClient& c) { return outcome(c.createPairingSession("d", "n")); };
    struct Case {
        const char* name;
        Call call;
        int status;
        QByteArray body;
        std::vector<std::string> hidden;
    };
    const std::vector<Case> cases = {
        {"the sent token echoed in free text",
         devices,
         401,
         R"({"error":"token tok_SENT_41d9a0 is revoked"})",
         {"tok_SENT_41d9a0"}},
        {"an undecodable paired answer carrying a token",
         status,
         200,
         QByteArray(R"({"status":"paired","connectorDeviceToken":")") + fresh.c_str() +
             R"(","syncSpaceId":7,"note":"again )" + fresh.c_str() + R"("})",
         {fresh}},
        {"an escaped member name",
         status,
         200,
         QByteArray(R"({"status":5,"conn\u0065ctorDeviceTok\u0065n":")") + fresh.c_str() + "\"}",
         {fresh}},
        {"an answer cut short inside the token",
         status,
         200,
         QByteArray(R"({"status":"paired","phoneDeviceToken":")") + fresh.c_str(),
         {fresh}},
        {"the secret sent, and one in another member",
         status,
         500,
         R"({"error":"bad x-pairing-secret sec_SENT_77ab01","pairingSecret":{"v":"sec_OTHER_3f"}})",
         {"sec_SENT_77ab01", "sec_OTHER_3f"}},
        {"a value the reason quotes",
         session,
         200,
         QByteArray(R"({"pairingSessionId":"p","pairingCode":")") + fresh.c_str() +
             R"(","qrPayload":"korvo://pair?secret=sec_QR_55c2","expiresAt":")" + fresh.c_str() +
             "\"}",
         {fresh, "sec_QR_55c2"}},
        {"the password of the relay URL",
         session,
         500,
         R"({"error":"hello me:pw_URL_19fe"})",
         {"pw_URL_19fe"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostileRelay server(httpResponse(c.status, c.body));
        QUrl url = server.url();
        url.setUserName(QStringLiteral("me"));
        url.setPassword(QStringLiteral("pw_URL_19fe"));
        RelayClient client(&network_, url);
        const std::string description = QCoro::waitFor(c.call(client));
        EXPECT_NE(description.find("[hidden]"), std::string::npos) << description;
        for (const std::string& secret : c.hidden) {
            EXPECT_EQ(description.find(secret), std::string::npos) << description;
        }
        EXPECT_LE(description.size(), 700u);
    }
}

} // namespace
} // namespace korvo

#include "relay/RelayClient.h"

#include "TestSnapshot.h"
#include "model/SnapshotJson.h"
#include "support/CannedServer.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <functional>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::CannedServer;
using test::httpResponse;
using test::runTask;
using Call = std::function<QCoro::Task<std::string>(RelayClient&)>;

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
        {"pairing status", [](RelayClient& c) { return outcome(c.pairingStatus("ps1", "s3cret")); },
         "GET /v1/pairing/sessions/ps1 HTTP/1.1", "", "s3cret", ""},
        {"upload snapshot",
         [&snapshot](RelayClient& c) { return outcome(c.uploadSnapshot(snapshot, "tok")); },
         "POST /v1/sync-spaces/space-7/snapshots HTTP/1.1", "Bearer tok", "",
         QByteArray::fromStdString(encodeSnapshot(snapshot).value())},
        {"health", [](RelayClient& c) { return outcome(c.health()); }, "GET /health HTTP/1.1", "",
         "", ""},
        {"delete device",
         [](RelayClient& c) { return outcome(c.deleteDevice("space-7", "DEV-1", "tok")); },
         "DELETE /v1/sync-spaces/space-7/devices/DEV-1 HTTP/1.1", "Bearer tok", "", ""},
        {"list devices, identifiers inserted unescaped",
         [](RelayClient& c) { return outcome(c.listDevices("a/b", "tok")); },
         "GET /v1/sync-spaces/a/b/devices HTTP/1.1", "Bearer tok", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer server(httpResponse(200, "{}"));
        // A base URL with a path of its own: requests still go to the host's root.
        RelayClient client(&network_, server.url("/api/"));
        QCoro::waitFor(c.call(client));
        ASSERT_EQ(server.requests().size(), 1u);
        const QByteArray raw = server.requests()[0];
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
    const Call status = [](RelayClient& c) { return outcome(c.pairingStatus("ps1", "secret")); };
    const Call session = [](RelayClient& c) { return outcome(c.createPairingSession("D", "b")); };
    const Call devices = [](RelayClient& c) { return outcome(c.listDevices("s", "t")); };
    const std::string longBody = "{\"error\":\"" + std::string(5000, 'x') + "\"}";
    const QByteArray fractional =
        R"({"pairingSessionId":"ps1","pairingCode":"123456","qrPayload":"q","expiresAt":"2026-12-06T11:00:00.5Z"})";
    const QByteArray escapedDate =
        R"({"pairingSessionId":"ps1","pairingCode":"123456","qrPayload":"q","expiresAt":"\u001b]0;x\u0007"})";
    const QByteArray escapedCode =
        R"({"pairingSessionId":"ps1","pairingCode":"12\u001b[2J","qrPayload":"q","expiresAt":"2026-12-06T11:00:00Z"})";
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
        {"wrong type", status, 200, R"({"status":"paired","connectorDeviceToken":7})",
         R"(Relay response decode failed: the member "connectorDeviceToken" is not a string. Body: {"status":"paired","connectorDeviceToken":7})"},
        {"fractional seconds in expiresAt", session, 200, fractional,
         "Relay response decode failed: the member \"expiresAt\" is not an ISO 8601 date-time "
         "without fractional seconds: \"2026-12-06T11:00:00.5Z\". Body: " +
             fractional.toStdString()},
        {"a quoted value loses its control characters", session, 200, escapedDate,
         "Relay response decode failed: the member \"expiresAt\" is not an ISO 8601 date-time "
         "without fractional seconds: \"]0;x\". Body: " +
             escapedDate.toStdString()},
        {"an identifier printing would change is refused", session, 200, escapedCode,
         "Relay response decode failed: the member \"pairingCode\" is not a printable "
         "identifier. Body: " +
             escapedCode.toStdString()},
        {"device without createdAt", devices, 200, noCreatedAt,
         "Relay response decode failed: the member \"devices[1].createdAt\" is missing. Body: " +
             noCreatedAt.toStdString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer server(httpResponse(c.status, c.body));
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
    CannedServer silent{QByteArray()};
    QUrl closed;
    {
        CannedServer gone(httpResponse(200, "{}"));
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
    CannedServer silent{QByteArray()};
    auto network = std::make_unique<QNetworkAccessManager>();
    RelayClient client(network.get(), silent.url());
    const std::vector<Call> calls = {
        [](RelayClient& c) { return outcome(c.health()); },
        [](RelayClient& c) { return outcome(c.uploadSnapshot(test::testSnapshot("s"), "t")); },
        [](RelayClient& c) { return outcome(c.pairingStatus("p", "secret")); },
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
    CannedServer elsewhere(httpResponse(200, R"({"devices":[]})"));
    const auto redirectTo = [](const QUrl& target) {
        return "HTTP/1.1 307 Moved\r\nlocation: " + target.toEncoded() +
               "\r\ncontent-length: 0\r\nconnection: close\r\n\r\n";
    };
    const UsageSnapshot snapshot = test::testSnapshot("s");
    const std::vector<std::pair<const char*, Call>> cases = {
        {"upload", [&](RelayClient& c) { return outcome(c.uploadSnapshot(snapshot, "tok")); }},
        {"unlink", [](RelayClient& c) { return outcome(c.deleteDevice("s", "d", "tok")); }},
        {"device list", [](RelayClient& c) { return outcome(c.listDevices("s", "tok")); }},
        {"status poll", [](RelayClient& c) { return outcome(c.pairingStatus("p", "secret")); }},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        CannedServer relay(redirectTo(elsewhere.url("/v1/sync-spaces/s/devices")));
        RelayClient client(&network_, relay.url());
        const std::string error = QCoro::waitFor(call(client));
        EXPECT_EQ(error, "The relay redirected the request to another origin (" +
                             elsewhere.url().toString().toStdString() +
                             "); redirects away from the relay are not followed, so no "
                             "credentials were sent there.");
        EXPECT_EQ(relay.requests().size(), 1u);
    }
    EXPECT_EQ(elsewhere.connections(), 0);

    CannedServer relay(httpResponse(404, "{}"));
    relay.answer("GET /old/devices", redirectTo(relay.url("/v1/sync-spaces/s/devices")));
    relay.answer("GET /v1/sync-spaces/s/devices", httpResponse(200, R"({"devices":[]})"));
    const auto moved = runTask(RelayClient(&network_, relay.url()).listDevices("s", "tok"));
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
        CannedServer server(response);
        const auto result = runTask(RelayClient(&network_, server.url()).health());
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().description(),
                  "The relay's answer is larger than 1024 KiB; the transfer was stopped.");
    }
    // Right at the cap the answer is read whole (and fails only as JSON).
    CannedServer server(httpResponse(200, QByteArray(RelayClient::kMaxReplyBytes, ' ')));
    const auto atCap = runTask(RelayClient(&network_, server.url()).health());
    ASSERT_NE(atCap.error().clientError(), nullptr);
}

TEST_F(RelayClientTest, RequestsThatCannotBeBuiltSendNothing) {
    UsageSnapshot notFinite = test::testSnapshot("space");
    notFinite.providers[0].usage.costUsd = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<const char*, Call>> cases = {
        {"space in an identifier",
         [](RelayClient& c) { return outcome(c.listDevices("my space", "t")); }},
        {"stray percent sign",
         [](RelayClient& c) { return outcome(c.deleteDevice("s", "50%", "t")); }},
        {"device name that is not UTF-8",
         [](RelayClient& c) { return outcome(c.createPairingSession("d", "\xff")); }},
        {"snapshot that cannot be encoded",
         [&notFinite](RelayClient& c) { return outcome(c.uploadSnapshot(notFinite, "t")); }},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        CannedServer server(httpResponse(200, "{}"));
        RelayClient client(&network_, server.url());
        EXPECT_NE(QCoro::waitFor(call(client)), "");
        EXPECT_EQ(server.connections(), 0);
    }
    const auto result = runTask(RelayClient(&network_, QUrl()).health());
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().requestError(), nullptr);
}

} // namespace
} // namespace korvo

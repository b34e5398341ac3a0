#include "relay/RelayClient.h"

#include "CannedServer.h"
#include "TestSnapshot.h"
#include "model/SnapshotJson.h"
#include "model/TimeText.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <functional>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::CannedServer;
using test::httpResponse;

// The request line and header block of a raw request, and its body.
struct SeenRequest {
    QByteArray line;
    QList<QByteArray> headers; // "name: value", exactly as sent
    QByteArray body;
};

SeenRequest parse(const QByteArray& raw) {
    const auto end = raw.indexOf("\r\n\r\n");
    QList<QByteArray> lines = raw.left(end).split('\n');
    for (auto& l : lines) {
        l = l.trimmed();
    }
    SeenRequest seen{lines.takeFirst(), lines, raw.mid(end + 4)};
    return seen;
}

// The value of header `name` (compared case-sensitively, so a re-cased name is not found).
std::optional<QByteArray> header(const SeenRequest& r, const QByteArray& name) {
    for (const auto& h : r.headers) {
        if (h.startsWith(name + ":")) {
            return h.mid(name.size() + 1).trimmed();
        }
    }
    return std::nullopt;
}

bool hasHeaderNamed(const SeenRequest& r, const QByteArray& lowerName) {
    for (const auto& h : r.headers) {
        if (h.toLower().startsWith(lowerName + ":")) {
            return true;
        }
    }
    return false;
}

class RelayClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensureApplication();
        network_ = std::make_unique<QNetworkAccessManager>();
    }

    template <class T> RelayResult<T> run(QCoro::Task<RelayResult<T>> task) {
        return test::runTask(std::move(task));
    }

    std::unique_ptr<QNetworkAccessManager> network_;
};

// What one operation sends: checked on the wire of an in-test server.
struct RequestCase {
    const char* name;
    std::function<QCoro::Task<bool>(RelayClient&)> call; // true when the call succeeded
    QByteArray answer;
    QByteArray requestLine;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    std::vector<QByteArray> absentHeaders;
    QByteArray body;
};

template <class T> QCoro::Task<bool> succeeded(QCoro::Task<RelayResult<T>> task) {
    auto result = co_await std::move(task);
    co_return result.ok();
}

TEST_F(RelayClientTest, EachOperationSendsItsMethodPathHeadersAndBody) {
    const UsageSnapshot snapshot = test::testSnapshot("space-7");
    const QByteArray snapshotJson = QByteArray::fromStdString(encodeSnapshot(snapshot).value());
    const std::vector<RequestCase> cases = {
        {"create pairing session",
         [](RelayClient& c) { return succeeded(c.createPairingSession("DEV-1", "Dev \"Box\"")); },
         R"({"pairingSessionId":"ps1","pairingCode":"123456","qrPayload":"korvo://pair?secret=s","expiresAt":"2026-12-06T11:00:00Z"})",
         "POST /v1/pairing/sessions HTTP/1.1",
         {{"content-type", "application/json"}},
         {"authorization", "x-pairing-secret"},
         R"({"connectorDeviceId":"DEV-1","connectorDeviceName":"Dev \"Box\""})"},
        {"pairing status",
         [](RelayClient& c) { return succeeded(c.pairingStatus("ps1", "s3cret")); },
         R"({"status":"pending"})",
         "GET /v1/pairing/sessions/ps1 HTTP/1.1",
         {{"x-pairing-secret", "s3cret"}},
         {"authorization", "content-type"},
         ""},
        {"upload snapshot",
         [&snapshot](RelayClient& c) { return succeeded(c.uploadSnapshot(snapshot, "tok")); },
         R"({"status":"accepted","snapshotId":"snap_1","updatedAt":"2026-12-06T11:00:00Z"})",
         "POST /v1/sync-spaces/space-7/snapshots HTTP/1.1",
         {{"content-type", "application/json"}, {"authorization", "Bearer tok"}},
         {"x-pairing-secret"},
         snapshotJson},
        {"health",
         [](RelayClient& c) { return succeeded(c.health()); },
         R"({"status":"ok"})",
         "GET /health HTTP/1.1",
         {},
         {"authorization", "x-pairing-secret", "content-type"},
         ""},
        {"list devices",
         [](RelayClient& c) { return succeeded(c.listDevices("space-7", "tok")); },
         R"({"devices":[]})",
         "GET /v1/sync-spaces/space-7/devices HTTP/1.1",
         {{"authorization", "Bearer tok"}},
         {"x-pairing-secret", "content-type"},
         ""},
        {"delete device",
         [](RelayClient& c) { return succeeded(c.deleteDevice("space-7", "DEV-1", "tok")); },
         R"({"status":"deleted","deviceId":"DEV-1"})",
         "DELETE /v1/sync-spaces/space-7/devices/DEV-1 HTTP/1.1",
         {{"authorization", "Bearer tok"}},
         {"x-pairing-secret", "content-type"},
         ""},
        {"identifiers are inserted unescaped",
         [](RelayClient& c) { return succeeded(c.listDevices("a/b", "tok")); },
         R"({"devices":[]})",
         "GET /v1/sync-spaces/a/b/devices HTTP/1.1",
         {},
         {},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer server(httpResponse(200, c.answer));
        // A base URL with a path of its own: requests still go to the host's root.
        RelayClient client(network_.get(), server.url("/api/"));
        EXPECT_TRUE(QCoro::waitFor(c.call(client)));
        ASSERT_EQ(server.requests().size(), 1u);
        const SeenRequest seen = parse(server.requests()[0]);
        EXPECT_EQ(seen.line, c.requestLine);
        for (const auto& [name, value] : c.headers) {
            EXPECT_EQ(header(seen, name), value) << name.toStdString();
        }
        for (const auto& name : c.absentHeaders) {
            EXPECT_FALSE(hasHeaderNamed(seen, name)) << name.toStdString();
        }
        EXPECT_EQ(seen.body, c.body);
        int contentTypes = 0;
        for (const auto& h : seen.headers) {
            contentTypes += h.toLower().startsWith("content-type:") ? 1 : 0;
        }
        EXPECT_EQ(contentTypes, c.body.isEmpty() ? 0 : 1) << server.requests()[0].toStdString();
    }
}

struct AnswerCase {
    const char* name;
    int status;
    QByteArray body;
    std::string description; // empty when the call succeeds
};

TEST_F(RelayClientTest, AnswersBecomeRecordsOrErrorsWithTheirTexts) {
    const std::string longBody = "{\"error\":\"" + std::string(5000, 'x') + "\"}";
    const std::vector<AnswerCase> cases = {
        {"401 with a short JSON body", 401, R"({"error":"Invalid token"})",
         R"(Relay returned HTTP 401: {"error":"Invalid token"})"},
        {"long bodies are not shortened", 403, QByteArray::fromStdString(longBody),
         "Relay returned HTTP 403: " + longBody},
        {"500 with an empty body", 500, "", "Relay returned HTTP 500."},
        {"a body that is not UTF-8 is left out", 502, "\xff\xfe", "Relay returned HTTP 502."},
        {"204 with an empty body", 204, "", "Relay response decode failed: the body is empty."},
        {"200 with a body that is not JSON", 200, "<html>",
         "Relay response decode failed: the body is not valid JSON. Body: <html>"},
        {"status only", 200, R"({"status":"pending"})", ""},
        {"null optionals and unknown members", 200,
         R"({"status":"paired","syncSpaceId":null,"extra":[1,2]})", ""},
        {"missing status", 200, R"({"syncSpaceId":"s"})",
         R"(Relay response decode failed: the member "status" is missing. Body: {"syncSpaceId":"s"})"},
        {"wrong type", 200, R"({"status":"paired","connectorDeviceToken":7})",
         R"(Relay response decode failed: the member "connectorDeviceToken" is not a string. Body: {"status":"paired","connectorDeviceToken":7})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer server(httpResponse(c.status, c.body));
        RelayClient client(network_.get(), server.url());
        const auto result = run(client.pairingStatus("ps1", "secret"));
        if (c.description.empty()) {
            EXPECT_TRUE(result.ok()) << result.error().description();
        } else {
            ASSERT_FALSE(result.ok());
            ASSERT_NE(result.error().clientError(), nullptr);
            EXPECT_EQ(result.error().description(), c.description);
        }
    }
}

TEST_F(RelayClientTest, DecodesPairingSessionsAndDevicesStrictly) {
    const QByteArray fractional =
        R"({"pairingSessionId":"ps1","pairingCode":"123456","qrPayload":"q","expiresAt":"2026-12-06T11:00:00.5Z"})";
    {
        CannedServer server(httpResponse(200, fractional));
        RelayClient client(network_.get(), server.url());
        const auto result = run(client.createPairingSession("DEV-1", "box"));
        ASSERT_FALSE(result.ok());
        ASSERT_NE(result.error().clientError(), nullptr);
        EXPECT_EQ(result.error().clientError()->kind, RelayClientError::Kind::decodeFailed);
        EXPECT_EQ(result.error().clientError()->body, fractional.toStdString());
    }
    {
        CannedServer server(httpResponse(200, QByteArray(fractional).replace(".5Z", "Z")));
        RelayClient client(network_.get(), server.url());
        const auto result = run(client.createPairingSession("DEV-1", "box"));
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.value().expiresAt, parseInternetDateTime("2026-12-06T11:00:00Z"));
        EXPECT_EQ(result.value().pairingCode, "123456");
    }
    {
        CannedServer server(httpResponse(
            200, R"({"devices":[{"id":"a","name":"A","kind":"phone","createdAt":"yesterday"},)"
                 R"({"id":"b","name":"B","kind":"connector","createdAt":"c","lastSeenAt":"l"}]})"));
        RelayClient client(network_.get(), server.url());
        const auto result = run(client.listDevices("s", "t"));
        ASSERT_TRUE(result.ok());
        const std::vector<RelayDevice> expected = {{"a", "A", "phone", "yesterday", std::nullopt},
                                                   {"b", "B", "connector", "c", "l"}};
        EXPECT_EQ(result.value().devices, expected);
    }
    {
        CannedServer server(
            httpResponse(200, R"({"devices":[{"id":"a","name":"A","kind":"phone","createdAt":"c"},)"
                              R"({"id":"b","name":"B","kind":"connector"}]})"));
        RelayClient client(network_.get(), server.url());
        const auto result = run(client.listDevices("s", "t"));
        ASSERT_FALSE(result.ok());
        EXPECT_NE(result.error().description().find("\"devices[1].createdAt\" is missing"),
                  std::string::npos)
            << result.error().description();
    }
}

TEST_F(RelayClientTest, ServerThatNeverAnswersTimesOut) {
    CannedServer silent{QByteArray()};
    RelayClient client(network_.get(), silent.url(), std::chrono::milliseconds(300));
    const auto result = run(client.health());
    ASSERT_FALSE(result.ok());
    ASSERT_NE(result.error().transportError(), nullptr);
    EXPECT_EQ(silent.connections(), 1);
    EXPECT_EQ(result.error().transportError()->networkError,
              static_cast<int>(QNetworkReply::TimeoutError));
    EXPECT_EQ(result.error().description(), "The request timed out.");
}

TEST_F(RelayClientTest, RefusedConnectionPassesTheTransportErrorThrough) {
    QUrl closed;
    {
        CannedServer gone(httpResponse(200, "{}"));
        closed = gone.url();
    }
    RelayClient client(network_.get(), closed);
    const auto result = run(client.health());
    ASSERT_FALSE(result.ok());
    ASSERT_NE(result.error().transportError(), nullptr);
    EXPECT_EQ(result.error().transportError()->networkError,
              static_cast<int>(QNetworkReply::ConnectionRefusedError));
    EXPECT_EQ(result.error().description(), "Connection refused");
}

TEST_F(RelayClientTest, RequestsThatCannotBeBuiltSendNothing) {
    UsageSnapshot notFinite = test::testSnapshot("space");
    notFinite.providers[0].usage.costUsd = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<const char*, std::function<QCoro::Task<bool>(RelayClient&)>>>
        cases = {
            {"space in an identifier",
             [](RelayClient& c) { return succeeded(c.listDevices("my space", "t")); }},
            {"non-ASCII identifier",
             [](RelayClient& c) { return succeeded(c.pairingStatus("s\xC3\xA9", "x")); }},
            {"stray percent sign",
             [](RelayClient& c) { return succeeded(c.deleteDevice("s", "50%", "t")); }},
            {"device name that is not UTF-8",
             [](RelayClient& c) { return succeeded(c.createPairingSession("d", "\xff")); }},
            {"snapshot that cannot be encoded",
             [&notFinite](RelayClient& c) { return succeeded(c.uploadSnapshot(notFinite, "t")); }},
        };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        CannedServer server(httpResponse(200, "{}"));
        RelayClient client(network_.get(), server.url());
        EXPECT_FALSE(QCoro::waitFor(call(client)));
        EXPECT_EQ(server.connections(), 0);
    }
    RelayClient noBase(network_.get(), QUrl());
    const auto result = run(noBase.health());
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().requestError(), nullptr);
}

} // namespace
} // namespace korvo

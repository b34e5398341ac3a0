// What a phone's token and a pairing session's secret can and cannot do, seen through the
// relay's HTTP answers. Runs on SQLite and, through scripts/with-postgres, on PostgreSQL.

#include "model/SnapshotJson.h"
#include "support/PairedConnector.h"
#include "support/RelayProcess.h"
#include "support/TestHome.h"
#include "support/TestSnapshot.h"

#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <simdjson.h>

namespace korvo {
namespace {

using test::member;

constexpr long long kStart = 1'800'000'000;

httplib::Headers bearer(const std::string& token) {
    return {{"authorization", "Bearer " + token}};
}

struct Session {
    std::string id, code, secret;
};

class RelayRolesTest : public ::testing::Test {
protected:
    void SetUp() override {
        setNow(kStart);
        relay_ = std::make_unique<test::RelayProcess>(
            dir_.filePath("relay.db"),
            std::vector<std::string>{"--clock-file", dir_.filePath("now")});
        ASSERT_TRUE(relay_->isRunning());
        client_ = std::make_unique<httplib::Client>("127.0.0.1", relay_->port());
    }
    void setNow(long long seconds) {
        std::ofstream(dir_.filePath("now"), std::ios::trunc) << seconds;
    }
    Session createSession(const std::string& deviceId) {
        const auto res = client_->Post("/v1/pairing/sessions",
                                       R"({"connectorDeviceId":")" + deviceId +
                                           R"(","connectorDeviceName":"Build Box"})",
                                       "application/json");
        EXPECT_TRUE(res && res->status == 200);
        const std::string payload = res ? member(res->body, "qrPayload") : std::string();
        return {res ? member(res->body, "pairingSessionId") : "",
                res ? member(res->body, "pairingCode") : "",
                payload.substr(payload.find("secret=") + 7)};
    }
    // The phone's claim: its device id and token, and the sync space.
    std::tuple<std::string, std::string, std::string> claim(const Session& session) {
        const auto res =
            client_->Post("/v1/pairing/claim", R"({"pairingCode":")" + session.code + R"("})",
                          "application/json");
        EXPECT_TRUE(res && res->status == 200);
        return {member(res->body, "phoneDeviceId"), member(res->body, "phoneDeviceToken"),
                member(res->body, "syncSpaceId")};
    }
    httplib::Result poll(const Session& session) {
        return client_->Get("/v1/pairing/sessions/" + session.id,
                            {{"x-pairing-secret", session.secret}});
    }
    httplib::Result upload(const std::string& space, const std::string& token,
                           const std::string& body) {
        return client_->Post("/v1/sync-spaces/" + space + "/snapshots", bearer(token), body,
                             "application/json");
    }
    httplib::Result latest(const std::string& space, const std::string& token) {
        return client_->Get("/v1/sync-spaces/" + space + "/snapshots/latest", bearer(token));
    }

    test::TestHome dir_;
    std::unique_ptr<test::RelayProcess> relay_;
    std::unique_ptr<httplib::Client> client_;
};

// A phone reads snapshots and never writes one: not a snapshot that names the phone itself (so
// that the device check passes), not before the connector's first upload, not after it.
TEST_F(RelayRolesTest, APhoneCannotUploadASnapshot) {
    const Session session = createSession("CONNECTOR-1");
    const auto [phoneId, phoneToken, space] = claim(session);
    const std::string connectorToken = member(poll(session)->body, "connectorDeviceToken");
    ASSERT_FALSE(connectorToken.empty());
    const std::string asPhone = encodeSnapshot(test::testSnapshot(space, 1, phoneId)).value();

    const auto early = upload(space, phoneToken, asPhone);
    ASSERT_TRUE(early);
    EXPECT_EQ(early->status, 401) << early->body;
    EXPECT_EQ(latest(space, phoneToken)->status, 404);

    const std::string real = encodeSnapshot(test::testSnapshot(space, 2)).value();
    ASSERT_EQ(upload(space, connectorToken, real)->status, 200);
    const auto late = upload(space, phoneToken, asPhone);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->status, 401) << late->body;
    EXPECT_EQ(member(late->body, "error"), "Only a connector device may upload snapshots");
    EXPECT_EQ(latest(space, phoneToken)->body, real);
}

// A session claimed by the phone but not polled before it expired hands out no connector
// token, whether the relay's expiry sweep has run yet or not: the token was meant for the
// connector within ten minutes, and a poll after that may come from anyone who saw the secret.
TEST_F(RelayRolesTest, AnExpiredSessionHandsOutNoToken) {
    for (const long long after : {600LL, 601LL, 3600LL}) {
        SCOPED_TRACE(after);
        setNow(kStart);
        const Session session = createSession("CONNECTOR-" + std::to_string(after));
        const auto [phoneId, phoneToken, space] = claim(session);
        setNow(kStart + after);
        const auto late = poll(session);
        ASSERT_TRUE(late);
        EXPECT_EQ(late->status, 200);
        EXPECT_EQ(late->body.find("connectorDeviceToken"), std::string::npos) << late->body;
    }
    // One second before the end, the token still goes out.
    setNow(kStart);
    const Session session = createSession("CONNECTOR-LAST");
    claim(session);
    setNow(kStart + 599);
    EXPECT_FALSE(member(poll(session)->body, "connectorDeviceToken").empty());
}

} // namespace
} // namespace korvo

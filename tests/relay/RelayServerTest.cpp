#include "RelayProcess.h"
#include "TestSnapshot.h"
#include "model/SnapshotJson.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <set>
#include <simdjson.h>

namespace korvo {
namespace {

using relayserver::RelayProcess;
using relayserver::TemporaryDirectory;

constexpr const char* kRelay = KORVO_BIN_DIR "/korvo-relay";

std::string member(const std::string& body, const char* name) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    std::string_view value;
    if (parser.parse(body).get(root) != simdjson::SUCCESS ||
        root[name].get_string().get(value) != simdjson::SUCCESS) {
        return {};
    }
    return std::string(value);
}

bool hasMember(const std::string& body, const char* name) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    return parser.parse(body).get(root) == simdjson::SUCCESS &&
           root[name].error() == simdjson::SUCCESS;
}

// One connector paired with one phone through the relay's own endpoints.
struct Pairing {
    std::string sessionId;
    std::string code;
    std::string secret;
    std::string syncSpaceId;
    std::string connectorToken;
    std::string phoneDeviceId;
    std::string phoneToken;
};

class RelayServerTest : public ::testing::Test {
protected:
    void start(std::vector<std::string> extra = {}) {
        relay_ = std::make_unique<RelayProcess>(kRelay, dir_.path() / "relay.db", extra);
        client_ = std::make_unique<httplib::Client>("127.0.0.1", relay_->port());
    }
    void SetUp() override {
        std::ofstream(clockFile()) << 1'800'000'000;
        start({"--clock-file", clockFile().string()});
    }
    std::filesystem::path clockFile() const { return dir_.path() / "now"; }
    void setNow(long long seconds) { std::ofstream(clockFile(), std::ios::trunc) << seconds; }

    Pairing createSession(const std::string& deviceId = "CONNECTOR-1") {
        auto res = client_->Post("/v1/pairing/sessions",
                                 R"({"connectorDeviceId":")" + deviceId +
                                     R"(","connectorDeviceName":"Build Box"})",
                                 "application/json");
        EXPECT_TRUE(res && res->status == 200);
        Pairing p;
        p.sessionId = member(res->body, "pairingSessionId");
        p.code = member(res->body, "pairingCode");
        const std::string payload = member(res->body, "qrPayload");
        p.secret = payload.substr(payload.find("secret=") + 7);
        EXPECT_EQ(payload, "korvo://pair?session=" + p.sessionId + "&code=" + p.code +
                               "&secret=" + p.secret);
        return p;
    }
    httplib::Result claim(const std::string& code) {
        return client_->Post("/v1/pairing/claim", R"({"pairingCode":")" + code + R"("})",
                             "application/json");
    }
    httplib::Result poll(const Pairing& p, const std::string& secret) {
        return client_->Get(("/v1/pairing/sessions/" + p.sessionId).c_str(),
                            {{"x-pairing-secret", secret}});
    }
    Pairing pair(const std::string& deviceId = "CONNECTOR-1") {
        Pairing p = createSession(deviceId);
        auto claimed = claim(p.code);
        EXPECT_TRUE(claimed && claimed->status == 200);
        p.phoneDeviceId = member(claimed->body, "phoneDeviceId");
        p.phoneToken = member(claimed->body, "phoneDeviceToken");
        auto polled = poll(p, p.secret);
        EXPECT_TRUE(polled && polled->status == 200);
        p.syncSpaceId = member(polled->body, "syncSpaceId");
        p.connectorToken = member(polled->body, "connectorDeviceToken");
        EXPECT_EQ(member(claimed->body, "syncSpaceId"), p.syncSpaceId);
        return p;
    }
    httplib::Result upload(const std::string& space, const std::string& token,
                           const std::string& body) {
        return client_->Post(("/v1/sync-spaces/" + space + "/snapshots").c_str(),
                             {{"authorization", "Bearer " + token}}, body, "application/json");
    }
    httplib::Result latest(const std::string& space, const std::string& token) {
        return client_->Get(("/v1/sync-spaces/" + space + "/snapshots/latest").c_str(),
                            {{"authorization", "Bearer " + token}});
    }

    TemporaryDirectory dir_;
    std::unique_ptr<RelayProcess> relay_;
    std::unique_ptr<httplib::Client> client_;
};

struct RuleCase {
    const char* name;
    std::function<httplib::Result()> request;
    int status;
};

TEST_F(RelayServerTest, RefusedRequestsGetTheirStatusAndAJsonError) {
    const Pairing p = pair();
    const Pairing other = pair("CONNECTOR-2");
    const Pairing open = createSession("CONNECTOR-3");
    const std::string good = encodeSnapshot(test::testSnapshot(p.syncSpaceId)).value();
    const std::string foreign = encodeSnapshot(test::testSnapshot(other.syncSpaceId)).value();
    std::string missingId = good;
    missingId.replace(missingId.find("\"snapshotId\""), 12, "\"renamedId\"");
    const std::vector<RuleCase> cases = {
        {"upload without a token",
         [&] {
             return client_->Post(("/v1/sync-spaces/" + p.syncSpaceId + "/snapshots").c_str(), good,
                                  "application/json");
         },
         401},
        {"upload with an unknown token", [&] { return upload(p.syncSpaceId, "nope", good); }, 401},
        {"upload with the phone's token", [&] { return upload(p.syncSpaceId, p.phoneToken, good); },
         401},
        {"upload with another space's token",
         [&] { return upload(p.syncSpaceId, other.connectorToken, good); }, 401},
        {"latest with another space's token",
         [&] { return latest(p.syncSpaceId, other.phoneToken); }, 401},
        {"devices without a token",
         [&] { return client_->Get(("/v1/sync-spaces/" + p.syncSpaceId + "/devices").c_str()); },
         401},
        {"poll with a wrong secret", [&] { return poll(open, "wrong"); }, 403},
        {"poll without a secret",
         [&] { return client_->Get(("/v1/pairing/sessions/" + open.sessionId).c_str()); }, 403},
        {"poll of an unknown session",
         [&] {
             return client_->Get("/v1/pairing/sessions/ps_unknown", {{"x-pairing-secret", "x"}});
         },
         404},
        {"claim of an unknown code",
         [&] { return claim(open.code == "000000" ? "000001" : "000000"); }, 404},
        {"claim of a claimed code", [&] { return claim(p.code); }, 409},
        {"latest before any upload", [&] { return latest(p.syncSpaceId, p.phoneToken); }, 404},
        {"delete of an unknown device",
         [&] {
             return client_->Delete(
                 ("/v1/sync-spaces/" + p.syncSpaceId + "/devices/NOBODY").c_str(),
                 {{"authorization", "Bearer " + p.connectorToken}});
         },
         404},
        {"unknown path", [&] { return client_->Get("/v2/anything"); }, 404},
        {"manifest without --manifest",
         [&] { return client_->Get("/download/linux/manifest.json"); }, 404},
        {"body over 1 MiB",
         [&] { return upload(p.syncSpaceId, p.connectorToken, std::string((1 << 20) + 1, ' ')); },
         413},
        {"body that is not JSON",
         [&] { return upload(p.syncSpaceId, p.connectorToken, "{not json"); }, 400},
        {"snapshot of another sync space",
         [&] { return upload(p.syncSpaceId, p.connectorToken, foreign); }, 400},
        {"snapshot without snapshotId",
         [&] { return upload(p.syncSpaceId, p.connectorToken, missingId); }, 400},
        {"session without a device name",
         [&] {
             return client_->Post("/v1/pairing/sessions", R"({"connectorDeviceId":"x"})",
                                  "application/json");
         },
         400},
        {"claim without a code",
         [&] { return client_->Post("/v1/pairing/claim", "[]", "application/json"); }, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto res = c.request();
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        EXPECT_EQ(res->status, c.status) << res->body;
        EXPECT_FALSE(member(res->body, "error").empty()) << res->body;
    }
    // None of the refused uploads replaced anything.
    EXPECT_EQ(latest(p.syncSpaceId, p.phoneToken)->status, 404);
}

TEST_F(RelayServerTest, UploadedSnapshotReadsBackByteForByteAcrossARestart) {
    const Pairing p = pair();
    const std::string body = encodeSnapshot(test::testSnapshot(p.syncSpaceId, 3)).value();
    // Exactly 1 MiB is still accepted: padding after the document is insignificant JSON space.
    const std::string padded = body + std::string((1 << 20) - body.size(), ' ');
    auto accepted = upload(p.syncSpaceId, p.connectorToken, padded);
    ASSERT_TRUE(accepted);
    ASSERT_EQ(accepted->status, 200) << accepted->body;
    accepted = upload(p.syncSpaceId, p.connectorToken, body);
    ASSERT_EQ(accepted->status, 200) << accepted->body;
    EXPECT_EQ(member(accepted->body, "status"), "accepted");
    EXPECT_EQ(member(accepted->body, "snapshotId"), "snap_1000000000000003");
    EXPECT_EQ(member(accepted->body, "updatedAt"), "2027-01-15T08:00:00Z");

    EXPECT_EQ(relay_->stop(), 0);
    start({"--clock-file", clockFile().string()});
    auto read = latest(p.syncSpaceId, p.phoneToken);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, 200);
    EXPECT_EQ(read->body, body);
    // The connector's token survived too.
    EXPECT_EQ(latest(p.syncSpaceId, p.connectorToken)->status, 200);
}

TEST_F(RelayServerTest, SessionsExpireAfterTenMinutes) {
    const Pairing unclaimed = createSession("CONNECTOR-A");
    const Pairing claimed = pair("CONNECTOR-B");

    setNow(1'800'000'000 + 599);
    EXPECT_EQ(member(poll(unclaimed, unclaimed.secret)->body, "status"), "pending");
    auto live = poll(claimed, claimed.secret);
    EXPECT_EQ(member(live->body, "status"), "paired");
    EXPECT_EQ(member(live->body, "connectorDeviceToken"), claimed.connectorToken);

    setNow(1'800'000'000 + 600);
    EXPECT_EQ(member(poll(unclaimed, unclaimed.secret)->body, "status"), "expired");
    EXPECT_EQ(claim(unclaimed.code)->status, 404);
    auto late = poll(claimed, claimed.secret);
    EXPECT_EQ(member(late->body, "status"), "paired");
    EXPECT_EQ(member(late->body, "syncSpaceId"), claimed.syncSpaceId);
    EXPECT_FALSE(hasMember(late->body, "connectorDeviceToken")) << late->body;
    // The token itself keeps working after its session is gone.
    const std::string body = encodeSnapshot(test::testSnapshot(claimed.syncSpaceId)).value();
    EXPECT_EQ(upload(claimed.syncSpaceId, claimed.connectorToken, body)->status, 200);
}

TEST_F(RelayServerTest, SecretsAndTokensAreNeverStoredInTheClear) {
    const Pairing p = pair();
    const Pairing open = createSession("CONNECTOR-2");
    ASSERT_EQ(relay_->stop(), 0); // everything flushed and the WAL checkpointed or kept
    std::string bytes;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
        std::ifstream in(entry.path(), std::ios::binary);
        bytes += std::string(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_NE(bytes.find(p.syncSpaceId), std::string::npos); // the data is there...
    for (const auto& secret : {p.secret, p.connectorToken, p.phoneToken, open.secret}) {
        EXPECT_EQ(bytes.find(secret), std::string::npos) << secret; // ...the secrets are not
    }
}

TEST_F(RelayServerTest, PairingCodesAreSixDigitsAndUniqueAmongLiveSessions) {
    std::set<std::string> codes;
    for (int i = 0; i < 300; ++i) {
        const Pairing p = createSession("C" + std::to_string(i));
        ASSERT_EQ(p.code.size(), 6u);
        EXPECT_EQ(p.code.find_first_not_of("0123456789"), std::string::npos);
        EXPECT_TRUE(codes.insert(p.code).second) << p.code;
        EXPECT_EQ(p.secret.size(), 43u); // 32 bytes, URL-safe base64 without padding
    }
}

TEST_F(RelayServerTest, DevicesAreListedAndDeleted) {
    const Pairing p = pair();
    const auto list = [&](const std::string& token) {
        return client_->Get(("/v1/sync-spaces/" + p.syncSpaceId + "/devices").c_str(),
                            {{"authorization", "Bearer " + token}});
    };
    auto listed = list(p.phoneToken);
    ASSERT_EQ(listed->status, 200);
    simdjson::dom::parser parser;
    auto devices = parser.parse(listed->body)["devices"].get_array();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(std::string_view(devices.at(0)["id"].get_string()), "CONNECTOR-1");
    EXPECT_EQ(std::string_view(devices.at(0)["name"].get_string()), "Build Box");
    EXPECT_EQ(std::string_view(devices.at(1)["id"].get_string()), p.phoneDeviceId);
    EXPECT_EQ(std::string_view(devices.at(1)["createdAt"].get_string()), "2027-01-15T08:00:00Z");

    auto deleted =
        client_->Delete(("/v1/sync-spaces/" + p.syncSpaceId + "/devices/CONNECTOR-1").c_str(),
                        {{"authorization", "Bearer " + p.connectorToken}});
    ASSERT_EQ(deleted->status, 200);
    EXPECT_EQ(member(deleted->body, "deviceId"), "CONNECTOR-1");
    EXPECT_EQ(list(p.connectorToken)->status, 401); // its token went with it
    EXPECT_EQ(list(p.phoneToken)->status, 200);
}

TEST(RelayServerOptions, HealthNamesTheEnvironmentAndTheManifestIsServed) {
    TemporaryDirectory dir;
    const std::string manifest = R"({"latestVersion":"9.9.9"})";
    std::ofstream(dir.path() / "manifest.json") << manifest;
    RelayProcess relay(
        kRelay, dir.path() / "relay.db",
        {"--environment", "staging", "--manifest", (dir.path() / "manifest.json").string()});
    httplib::Client client("127.0.0.1", relay.port());
    auto health = client.Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->body, R"({"environment":"staging","status":"ok"})");
    auto served = client.Get("/download/linux/manifest.json");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
    EXPECT_EQ(served->body, manifest);
}

} // namespace
} // namespace korvo

#include "RelayLoad.h"
#include "model/SnapshotJson.h"
#include "support/PairedConnector.h"
#include "support/RelayProcess.h"
#include "support/SanitizedBuild.h"
#include "support/TestDatabase.h"
#include "support/TestHome.h"
#include "support/TestSnapshot.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <set>
#include <simdjson.h>
#include <sys/stat.h>
#include <thread>

namespace korvo {
namespace {

using test::member;

using test::RelayProcess;

// One connector paired with one phone through the relay's own endpoints.
struct Pairing {
    std::string sessionId, code, secret, syncSpaceId, connectorToken, phoneId, phoneToken;
};

httplib::Headers bearer(const std::string& token) {
    return {{"authorization", "Bearer " + token}};
}

using Devices = std::vector<std::pair<std::string, std::string>>;

// Every byte of the files in `dir`.
std::string filesOf(const test::TestHome& dir) {
    std::string bytes;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        std::ifstream in(entry.path(), std::ios::binary);
        bytes += std::string(std::istreambuf_iterator<char>(in), {});
    }
    return bytes;
}

class RelayServerTest : public ::testing::Test {
protected:
    // The relay's clock reads the file "now" in the test's folder; its manifest is not written
    // unless a test writes it. It believes X-Forwarded-For from loopback, so a test can speak
    // for many clients.
    std::unique_ptr<RelayProcess> startRelay() {
        return std::make_unique<RelayProcess>(
            dir_.filePath("relay.db"),
            std::vector<std::string>{"--clock-file", dir_.filePath("now"), "--environment",
                                     "staging", "--manifest", dir_.filePath("manifest.json"),
                                     "--sessions-per-address", "1000", "--trusted-proxy",
                                     "127.0.0.1/32", "--threads", "16"});
    }
    void start() {
        relay_ = startRelay();
        ASSERT_TRUE(relay_->isRunning());
        client_ = std::make_unique<httplib::Client>("127.0.0.1", relay_->port());
    }
    void SetUp() override {
        setNow(1'800'000'000);
        start();
    }
    void setNow(long long seconds) {
        std::ofstream(dir_.filePath("now"), std::ios::trunc) << seconds;
    }

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
        p.phoneId = member(claimed->body, "phoneDeviceId");
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
        return client_->Post(("/v1/sync-spaces/" + space + "/snapshots").c_str(), bearer(token),
                             body, "application/json");
    }
    httplib::Result latest(const std::string& space, const std::string& token) {
        return client_->Get(("/v1/sync-spaces/" + space + "/snapshots/latest").c_str(),
                            bearer(token));
    }
    // The devices of a space as (id, kind) pairs, listed with `token`.
    Devices devices(const std::string& space, const std::string& token) {
        auto res = client_->Get(("/v1/sync-spaces/" + space + "/devices").c_str(), bearer(token));
        Devices result;
        simdjson::dom::parser parser;
        simdjson::dom::array list;
        if (res && res->status == 200 && parser.parse(res->body)["devices"].get(list) == 0) {
            for (auto device : list) {
                result.emplace_back(device["id"].get_string().value(),
                                    device["kind"].get_string().value());
            }
        }
        return result;
    }

    test::TestHome dir_;
    std::unique_ptr<RelayProcess> relay_;
    std::unique_ptr<httplib::Client> client_;
};

struct RuleCase {
    const char* name;
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
    int status;
};

TEST_F(RelayServerTest, RefusedRequestsGetTheirStatusAndAJsonError) {
    const Pairing p = pair();
    const Pairing other = pair("CONNECTOR-2");
    const Pairing open = createSession("CONNECTOR-3");
    const std::string good = encodeSnapshot(test::testSnapshot(p.syncSpaceId)).value();
    const std::string foreign = encodeSnapshot(test::testSnapshot(other.syncSpaceId)).value();
    const std::string forged =
        encodeSnapshot(test::testSnapshot(p.syncSpaceId, 0, "CONNECTOR-2")).value();
    std::string missingId = good;
    missingId.replace(missingId.find("\"snapshotId\""), 12, "\"renamedId\"");
    const std::string space = "/v1/sync-spaces/" + p.syncSpaceId;
    const std::string snapshots = space + "/snapshots";
    const std::string session = "/v1/pairing/sessions/" + open.sessionId;
    const httplib::Headers mine = bearer(p.connectorToken);
    const std::string claimPath = "/v1/pairing/claim";
    const std::string sessions = "/v1/pairing/sessions";
    const std::string unused = open.code == "000000" ? "000001" : "000000";
    const std::string noName = R"({"connectorDeviceId":"x"})";
    const auto named = [](const std::string& id, std::size_t length) {
        return R"({"connectorDeviceId":")" + id + R"(","connectorDeviceName":")" +
               std::string(length, 'n') + "\"}";
    };
    const std::string longId = named(std::string(201, 'i'), 1);
    const std::string longPhoneName =
        R"({"pairingCode":"123456","deviceName":")" + std::string(201, 'n') + "\"}";
    const auto code = [](const std::string& c) { return R"({"pairingCode":")" + c + "\"}"; };
    const auto secret = [](const char* s) { return httplib::Headers{{"x-pairing-secret", s}}; };
    const std::vector<RuleCase> cases = {
        {"upload without a token", "POST", snapshots, {}, good, 401},
        {"upload with an unknown token", "POST", snapshots, bearer("nope"), good, 401},
        {"upload with the phone's token", "POST", snapshots, bearer(p.phoneToken), good, 401},
        {"upload with another space's token", "POST", snapshots, bearer(other.connectorToken), good,
         401},
        {"latest with another space's token", "GET", snapshots + "/latest",
         bearer(other.phoneToken), "", 401},
        {"devices without a token", "GET", space + "/devices", {}, "", 401},
        {"poll with a wrong secret", "GET", session, secret("wrong"), "", 403},
        {"poll without a secret", "GET", session, {}, "", 403},
        {"poll of an unknown session", "GET", "/v1/pairing/sessions/ps_1", secret("x"), "", 404},
        {"claim of an unknown code", "POST", claimPath, {}, code(unused), 404},
        {"claim of a claimed code", "POST", claimPath, {}, code(p.code), 409},
        {"latest before any upload", "GET", snapshots + "/latest", bearer(p.phoneToken), "", 404},
        {"delete of an unknown device", "DELETE", space + "/devices/NOBODY", mine, "", 404},
        {"unknown path", "GET", "/v2/anything", {}, "", 404},
        {"unknown page file", "GET", "/missing.js", {}, "", 404},
        {"manifest not written", "GET", "/download/linux/manifest.json", {}, "", 404},
        {"body over 1 MiB", "POST", snapshots, mine, std::string((1 << 20) + 1, ' '), 413},
        {"body that is not JSON", "POST", snapshots, mine, "{not json", 400},
        {"snapshot of another sync space", "POST", snapshots, mine, foreign, 400},
        {"snapshot naming another device", "POST", snapshots, mine, forged, 400},
        {"snapshot without snapshotId", "POST", snapshots, mine, missingId, 400},
        {"session without a device name", "POST", sessions, {}, noName, 400},
        {"device name over 200 bytes", "POST", sessions, {}, named("x", 201), 400},
        {"device id over 200 bytes", "POST", sessions, {}, longId, 400},
        {"phone name over 200 bytes", "POST", claimPath, {}, longPhoneName, 400},
        {"claim without a code", "POST", claimPath, {}, "[]", 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        httplib::Request request;
        request.method = c.method;
        request.path = c.path;
        request.headers = c.headers;
        request.body = c.body;
        if (!c.body.empty()) {
            request.set_header("content-type", "application/json");
        }
        auto res = client_->send(request);
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        EXPECT_EQ(res->status, c.status) << res->body;
        EXPECT_FALSE(member(res->body, "error").empty()) << res->body;
    }
    // None of the refused uploads replaced anything.
    EXPECT_EQ(latest(p.syncSpaceId, p.phoneToken)->status, 404);
}

TEST_F(RelayServerTest, UploadedSnapshotReadsBackByteForByteAcrossARestart) {
    const Pairing p = pair();
    const Pairing open = createSession("CONNECTOR-2");
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

    ASSERT_EQ(relay_->stop(), 0); // everything flushed and the WAL checkpointed or kept
    if (!test::onPostgres()) {
        const std::string bytes = filesOf(dir_);
        ASSERT_NE(bytes.find(p.syncSpaceId), std::string::npos); // the data is there...
        for (const auto& secret : {p.secret, p.connectorToken, p.phoneToken, open.secret}) {
            EXPECT_EQ(bytes.find(secret), std::string::npos) << secret; // ...the secrets are not
        }
    }
    start();
    auto read = latest(p.syncSpaceId, p.phoneToken);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, 200);
    EXPECT_EQ(read->body, body);
    EXPECT_EQ(latest(p.syncSpaceId, p.connectorToken)->status, 200);
}

TEST_F(RelayServerTest, SessionsExpireAfterTenMinutes) {
    const Pairing unclaimed = createSession("CONNECTOR-A");
    setNow(1'800'000'000 + 599);
    EXPECT_EQ(member(poll(unclaimed, unclaimed.secret)->body, "status"), "pending");
    setNow(1'800'000'000 + 600);
    EXPECT_EQ(member(poll(unclaimed, unclaimed.secret)->body, "status"), "expired");
    EXPECT_EQ(claim(unclaimed.code)->status, 404);
}

// The token goes out in the first paired answer only. Any later paired poll, while the session
// lives or after, means a second party holds the secret: it gets no token, and the connector
// device is revoked whoever took the token, its snapshot dropped. The phone stays.
TEST_F(RelayServerTest, TheConnectorTokenGoesOutOnceAndALaterPairedPollRevokesIt) {
    const std::pair<const char*, long long> cases[] = {
        {"a second poll while the session lives", 1},
        {"a poll after the session expired", 600},
    };
    int round = 0;
    for (const auto& [name, after] : cases) {
        SCOPED_TRACE(name);
        setNow(1'800'000'000);
        const std::string device = "CONNECTOR-" + std::to_string(++round);
        const Pairing p = pair(device);
        ASSERT_FALSE(p.connectorToken.empty());
        const std::string body =
            encodeSnapshot(test::testSnapshot(p.syncSpaceId, 0, device)).value();
        ASSERT_EQ(upload(p.syncSpaceId, p.connectorToken, body)->status, 200);

        setNow(1'800'000'000 + after);
        auto late = poll(p, p.secret);
        ASSERT_TRUE(late);
        EXPECT_EQ(late->status, 200);
        EXPECT_EQ(member(late->body, "status"), "paired");
        EXPECT_EQ(member(late->body, "syncSpaceId"), p.syncSpaceId);
        EXPECT_EQ(late->body.find("connectorDeviceToken"), std::string::npos) << late->body;

        EXPECT_EQ(upload(p.syncSpaceId, p.connectorToken, body)->status, 401);
        EXPECT_EQ(latest(p.syncSpaceId, p.phoneToken)->status, 404);
        EXPECT_EQ(devices(p.syncSpaceId, p.phoneToken), (Devices{{p.phoneId, "phone"}}));
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

TEST_F(RelayServerTest, HealthManifestAndPageAreServed) {
    const std::string manifest = R"({"latestVersion":"9.9.9"})";
    std::ofstream(dir_.filePath("manifest.json")) << manifest;
    EXPECT_EQ(client_->Get("/health")->body,
              R"({"environment":"staging","status":"ok","webApp":"/"})");
    auto served = client_->Get("/download/linux/manifest.json");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
    EXPECT_EQ(served->body, manifest);
    // The page is served whatever the query string, with its policy.
    const auto page = client_->Get("/pair?code=123456");
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(page->get_header_value("content-security-policy").find("default-src 'none'"),
              std::string::npos);
}

// The phone's view needs a token of the space (before any upload it shows the name the machine
// paired under), and no cache on the way keeps its answers.
TEST_F(RelayServerTest, TheViewNeedsATokenOfItsSpaceAndIsNotCached) {
    const Pairing p = pair();
    const std::string path = "/v1/sync-spaces/" + p.syncSpaceId + "/snapshots/latest/view";
    const std::string invalid = R"({"error":"Invalid token for this sync space"})";
    const std::tuple<std::string, std::string, int, std::string> cases[] = {
        {path, "Bearer " + p.phoneToken, 200,
         R"({"machine":"Build Box","updatedText":"No upload yet","providers":[]})"},
        {path, "Bearer wrong", 401, invalid},
        {path, "", 401, R"({"error":"Missing bearer token"})"},
        {"/v1/sync-spaces/other/snapshots/latest/view", "Bearer " + p.phoneToken, 401, invalid},
    };
    for (const auto& [target, authorization, status, body] : cases) {
        httplib::Headers headers;
        if (!authorization.empty()) {
            headers.emplace("authorization", authorization);
        }
        const auto res = client_->Get(target, headers);
        ASSERT_TRUE(res) << target;
        EXPECT_EQ(res->status, status) << target;
        EXPECT_EQ(res->body, body);
        EXPECT_EQ(res->get_header_value("cache-control"), "no-store");
        EXPECT_EQ(res->get_header_value("referrer-policy"), "no-referrer");
    }
}

// A device id that exists only in sync space B is out of reach through space A's path with A's
// token; a connector id, which the client chooses, may exist in both spaces, each its own.
TEST_F(RelayServerTest, ASpacesTokenReachesNoDeviceOfAnotherSpaceAndADeletedDeviceIsRevoked) {
    const Pairing a = pair();
    const Pairing b = pair(); // the same connector id, another space
    ASSERT_FALSE(b.phoneId.empty());
    const std::string bBody = encodeSnapshot(test::testSnapshot(b.syncSpaceId)).value();
    ASSERT_EQ(upload(b.syncSpaceId, b.connectorToken, bBody)->status, 200);
    const std::string aPath = "/v1/sync-spaces/" + a.syncSpaceId;
    const auto foreign =
        client_->Delete((aPath + "/devices/" + b.phoneId).c_str(), bearer(a.phoneToken));
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 404) << foreign->body;
    EXPECT_EQ(
        client_->Delete((aPath + "/devices/CONNECTOR-1").c_str(), bearer(a.connectorToken))->body,
        R"({"deviceId":"CONNECTOR-1","status":"deleted"})");
    EXPECT_EQ(latest(a.syncSpaceId, a.connectorToken)->status, 401);
    EXPECT_EQ(devices(a.syncSpaceId, a.phoneToken), (Devices{{a.phoneId, "phone"}}));
    EXPECT_EQ(devices(b.syncSpaceId, b.phoneToken).size(), 2u);
    EXPECT_EQ(latest(b.syncSpaceId, b.phoneToken)->body, bBody);
    EXPECT_EQ(upload(b.syncSpaceId, b.connectorToken, bBody)->status, 200);
}

// The SQLite files: the owner's alone whatever the umask (also when the file existed 0644), and
// a deleted space's snapshot leaves them while the relay runs.
TEST_F(RelayServerTest, TheDatabaseFilesArePrivateAndKeepNothingDeleted) {
    if (test::onPostgres()) {
        GTEST_SKIP() << "about the SQLite files";
    }
    const std::string db = dir_.filePath("relay.db");
    relay_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(db + suffix);
    }
    std::ofstream(db).close();
    ::chmod(db.c_str(), 0644);
    const mode_t previous = ::umask(0);
    start();
    ::umask(previous);
    const Pairing p = pair();
    const Pairing other = pair("CONNECTOR-2");
    const std::string marker = "MARKER-0b3c5d7e9f";
    UsageSnapshot snapshot = test::testSnapshot(p.syncSpaceId);
    snapshot.device.name = marker;
    ASSERT_EQ(upload(p.syncSpaceId, p.connectorToken, encodeSnapshot(snapshot).value())->status,
              200);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat info {};
        ASSERT_EQ(::stat((db + suffix).c_str(), &info), 0) << suffix;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << suffix;
    }
    // Later uploads of another space keep the log busy.
    const std::string otherBody =
        encodeSnapshot(test::testSnapshot(other.syncSpaceId, 0, "CONNECTOR-2")).value();
    for (int i = 0; i < 20; ++i) {
        upload(other.syncSpaceId, other.connectorToken, otherBody);
    }
    ASSERT_NE(filesOf(dir_).find(marker), std::string::npos);
    const std::string devicesPath = "/v1/sync-spaces/" + p.syncSpaceId + "/devices/";
    ASSERT_EQ(
        client_->Delete((devicesPath + "CONNECTOR-1").c_str(), bearer(p.connectorToken))->status,
        200);
    ASSERT_EQ(client_->Delete((devicesPath + p.phoneId).c_str(), bearer(p.phoneToken))->status,
              200);
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gone = filesOf(dir_).find(marker) == std::string::npos;
    }
    EXPECT_TRUE(gone) << "the deleted snapshot is still in the database files";
    EXPECT_EQ(latest(other.syncSpaceId, other.phoneToken)->body, otherBody);
}

// Two relays on one PostgreSQL database, several rounds each: 20 phones (20 clients, each its
// own forwarded network) claim one code through both relays at once and exactly one wins; the
// last two devices of a space, removed through both relays at once, take the space with them.
TEST_F(RelayServerTest, TwoRelaysOnOneDatabaseKeepEveryRuleUnderRaces) {
    if (!test::onPostgres()) {
        GTEST_SKIP() << "needs a database two relays share (scripts/with-postgres)";
    }
    const auto other = startRelay();
    ASSERT_TRUE(other->isRunning());
    const int ports[] = {relay_->port(), other->port()};
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        // Each round in a claim window of its own: its 19 failures stay within the budget.
        setNow(1'800'000'000 + 601LL * round);
        const Pairing p = createSession("CONNECTOR-" + std::to_string(round));
        std::atomic<int> won = 0, lost = 0, odd = 0;
        std::vector<std::thread> phones;
        for (int i = 0; i < 20; ++i) {
            phones.emplace_back([&, i] {
                httplib::Client client("127.0.0.1", ports[i % 2]);
                const auto res =
                    client.Post("/v1/pairing/claim",
                                {{"x-forwarded-for",
                                  "10." + std::to_string(i) + "." + std::to_string(round) + ".1"}},
                                R"({"pairingCode":")" + p.code + "\"}", "application/json");
                (!res                 ? odd
                 : res->status == 200 ? won
                 : res->status == 409 ? lost
                                      : odd)
                    .fetch_add(1);
            });
        }
        for (auto& phone : phones) {
            phone.join();
        }
        EXPECT_EQ(won.load(), 1);
        EXPECT_EQ(lost.load(), 19);
        EXPECT_EQ(odd.load(), 0);
    }
    // 16 spaces (a request thread of each relay for each device); both of each one's devices
    // leave at the same moment through either relay. The device rows are held locked meanwhile
    // (from psql), so both removals of a space run into each other at the same step.
    const std::string db = test::testDatabase(dir_.filePath("relay.db"));
    std::vector<std::pair<std::string, std::string>> leaving; // device path, token
    std::string spaces;
    for (int i = 0; i < 16; ++i) {
        const std::string connector = "CONNECTOR-" + std::to_string(i);
        const Pairing p = pair(connector);
        ASSERT_EQ(upload(p.syncSpaceId, p.connectorToken,
                         encodeSnapshot(test::testSnapshot(p.syncSpaceId, 0, connector)).value())
                      ->status,
                  200);
        const std::string path = "/v1/sync-spaces/" + p.syncSpaceId + "/devices/";
        leaving.emplace_back(path + connector, p.connectorToken);
        leaving.emplace_back(path + p.phoneId, p.phoneToken);
        spaces += (spaces.empty() ? "'" : ",'") + p.syncSpaceId + "'";
    }
    FILE* holder = ::popen(("psql -q '" + db + "' >/dev/null").c_str(), "w");
    ASSERT_NE(holder, nullptr);
    std::fprintf(holder, "BEGIN;\nSELECT 1 FROM devices WHERE sync_space_id IN (%s) FOR UPDATE;\n",
                 spaces.c_str());
    std::fflush(holder);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::atomic<int> deleted = 0;
    std::vector<std::thread> removals;
    for (std::size_t i = 0; i < leaving.size(); ++i) {
        removals.emplace_back([&, i] {
            httplib::Client client("127.0.0.1", ports[i % 2]);
            const auto res = client.Delete(leaving[i].first.c_str(), bearer(leaving[i].second));
            deleted += res && res->status == 200 ? 1 : 0;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::fprintf(holder, "COMMIT;\n");
    ::pclose(holder);
    for (auto& removal : removals) {
        removal.join();
    }
    EXPECT_EQ(deleted.load(), 32);
    const std::string command =
        "psql -tA -c \"SELECT (SELECT count(*) FROM sync_spaces WHERE id IN (" + spaces +
        ")) + (SELECT count(*) FROM snapshots WHERE sync_space_id IN (" + spaces + "))\" '" + db +
        "'";
    std::string left;
    if (FILE* out = ::popen(command.c_str(), "r")) {
        char line[64] = "";
        left = std::fgets(line, sizeof line, out) != nullptr ? line : "";
        ::pclose(out);
    }
    EXPECT_EQ(left, "0\n");
}

// The load target, run in full: it takes a few seconds. The 50 ms bound on the 99th percentile
// belongs to the benchmark (bench_relay_load); here other tests share the cores, so the bounds
// only catch stalls: Nagle's algorithm against delayed acknowledgements puts the median near
// 40-90 ms, an overflowing listen backlog costs a second per dropped handshake.
TEST(RelayLoad, TenThousandUploadsFromFiftyDevicesLoseNothing) {
    test::TestHome dir;
    RelayProcess relay(dir.filePath("relay.db"), {"--sessions-per-address", "50"});
    const auto report = relayserver::runUploadLoad("127.0.0.1", relay.port(), 50, 10'000);
    std::printf("%s\n", report.summary().c_str());
    for (const auto& problem : report.problems) {
        ADD_FAILURE() << problem;
    }
    EXPECT_EQ(report.uploads, 10'000);
    EXPECT_TRUE(report.lostNothing());
    if (!test::kSanitizedBuild) {
        EXPECT_LT(report.p50Ms, 40.0);
        EXPECT_LT(report.p99Ms, 400.0);
    }
    if (test::onPostgres()) {
        return;
    }
    // The log is checkpointed while the relay runs: it stays a few MiB (8 on a quiet machine),
    // not the tens of MiB that 10,000 uncheckpointed uploads would leave. The bound leaves room
    // for a checkpoint thread that a loaded machine starves for a while.
    std::error_code error;
    const auto log = std::filesystem::file_size(dir.filePath("relay.db-wal"), error);
    EXPECT_LT(error ? 0 : log, 24u << 20);
}

} // namespace
} // namespace korvo

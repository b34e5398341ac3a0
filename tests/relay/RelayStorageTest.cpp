#include "TestSnapshot.h"
#include "model/SnapshotJson.h"
#include "support/RelayProcess.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <thread>

namespace korvo {
namespace {

using test::RelayProcess;

std::string member(const std::string& body, const char* name) {
    simdjson::dom::parser parser;
    std::string_view value;
    return parser.parse(body)[name].get_string().get(value) == simdjson::SUCCESS
               ? std::string(value)
               : std::string();
}

struct Paired {
    std::string space, connectorToken, phoneToken;
};

// One connector paired with one phone through the relay's endpoints.
Paired pair(httplib::Client& client) {
    auto created = client.Post("/v1/pairing/sessions",
                               R"({"connectorDeviceId":"CONNECTOR-1","connectorDeviceName":"Box"})",
                               "application/json");
    EXPECT_TRUE(created && created->status == 200);
    const std::string payload = member(created->body, "qrPayload");
    auto claimed = client.Post("/v1/pairing/claim",
                               R"({"pairingCode":")" + member(created->body, "pairingCode") + "\"}",
                               "application/json");
    EXPECT_TRUE(claimed && claimed->status == 200);
    auto polled =
        client.Get(("/v1/pairing/sessions/" + member(created->body, "pairingSessionId")).c_str(),
                   {{"x-pairing-secret", payload.substr(payload.find("secret=") + 7)}});
    return {member(polled->body, "syncSpaceId"), member(polled->body, "connectorDeviceToken"),
            member(claimed->body, "phoneDeviceToken")};
}

httplib::Headers bearer(const std::string& token) {
    return {{"authorization", "Bearer " + token}};
}

// Every byte of the files in `dir`.
std::string filesOf(const QTemporaryDir& dir) {
    std::string bytes;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path().toStdString())) {
        std::ifstream in(entry.path(), std::ios::binary);
        bytes += std::string(std::istreambuf_iterator<char>(in), {});
    }
    return bytes;
}

TEST(RelayStorageTest, DatabaseFilesAreTheOwnersAloneWhateverTheUmask) {
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "a database created 0644 before" : "a new database");
        QTemporaryDir dir;
        const std::string db = dir.filePath("relay.db").toStdString();
        const mode_t previous = ::umask(0);
        if (existing) {
            std::ofstream(db).close();
            ::chmod(db.c_str(), 0644);
        }
        {
            RelayProcess relay(QString::fromStdString(db));
            ::umask(previous);
            ASSERT_TRUE(relay.isRunning());
            httplib::Client client("127.0.0.1", relay.port());
            const Paired p = pair(client);
            const std::string body = encodeSnapshot(test::testSnapshot(p.space)).value();
            ASSERT_EQ(client
                          .Post(("/v1/sync-spaces/" + p.space + "/snapshots").c_str(),
                                bearer(p.connectorToken), body, "application/json")
                          ->status,
                      200);
            for (const char* suffix : {"", "-wal", "-shm"}) {
                struct stat info {};
                ASSERT_EQ(::stat((db + suffix).c_str(), &info), 0) << suffix;
                EXPECT_EQ(info.st_mode & 0777, 0600u) << suffix;
            }
        }
    }
}

TEST(RelayStorageTest, ADeletedSpacesSnapshotLeavesTheFilesWhileTheRelayRuns) {
    QTemporaryDir dir;
    RelayProcess relay(dir.filePath("relay.db"));
    ASSERT_TRUE(relay.isRunning());
    httplib::Client client("127.0.0.1", relay.port());
    const Paired p = pair(client);
    const Paired other = pair(client);
    const std::string marker = "MARKER-0b3c5d7e9f";
    UsageSnapshot snapshot = test::testSnapshot(p.space);
    snapshot.device.name = marker;
    const std::string snapshots = "/v1/sync-spaces/" + p.space + "/snapshots";
    ASSERT_EQ(client
                  .Post(snapshots.c_str(), bearer(p.connectorToken),
                        encodeSnapshot(snapshot).value(), "application/json")
                  ->status,
              200);
    // Later uploads of another space keep the log busy.
    const std::string otherBody = encodeSnapshot(test::testSnapshot(other.space)).value();
    for (int i = 0; i < 20; ++i) {
        client.Post(("/v1/sync-spaces/" + other.space + "/snapshots").c_str(),
                    bearer(other.connectorToken), otherBody, "application/json");
    }
    ASSERT_NE(filesOf(dir).find(marker), std::string::npos);

    const std::string devices = "/v1/sync-spaces/" + p.space + "/devices/";
    auto listed =
        client.Get(("/v1/sync-spaces/" + p.space + "/devices").c_str(), bearer(p.phoneToken));
    ASSERT_EQ(client.Delete((devices + "CONNECTOR-1").c_str(), bearer(p.connectorToken))->status,
              200);
    simdjson::dom::parser parser;
    std::string_view phoneId;
    for (auto device : parser.parse(listed->body)["devices"].get_array()) {
        if (device["kind"].get_string().value() == "phone") {
            phoneId = device["id"].get_string().value();
        }
    }
    ASSERT_EQ(client.Delete((devices + std::string(phoneId)).c_str(), bearer(p.phoneToken))->status,
              200);

    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gone = filesOf(dir).find(marker) == std::string::npos;
    }
    EXPECT_TRUE(gone) << "the deleted snapshot is still in the database files";
    EXPECT_EQ(client
                  .Get(("/v1/sync-spaces/" + other.space + "/snapshots/latest").c_str(),
                       bearer(other.phoneToken))
                  ->body,
              otherBody);
}

} // namespace
} // namespace korvo

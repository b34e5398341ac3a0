#include "RelayStorage.h"
#include "support/TestDatabase.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace korvo {
namespace {

using relayserver::Claim;

// The store the relay would open for the file `file`: SQLite, or a fresh PostgreSQL schema.
std::unique_ptr<relayserver::RelayStorage> openStore(const std::string& file) {
    return relayserver::openRelayStorage(test::testDatabase(file), 2, {});
}

TEST(RelayStoreTest, ASyncSpaceAndItsSnapshotGoWithItsLastDevice) {
    QTemporaryDir dir;
    const auto opened = openStore(dir.filePath("relay.db").toStdString());
    auto& store = *opened;
    const auto session = store.createSession("CONNECTOR-1", "Box", 1000);
    ASSERT_TRUE(session);
    const Claim claim = store.claim(session->code, "Phone", 1001);
    ASSERT_EQ(claim.outcome, Claim::Outcome::claimed);
    const std::string space = claim.syncSpaceId;
    store.putSnapshot(space, "snap-1", R"({"snapshotId":"snap-1"})", 1002);

    ASSERT_TRUE(store.deleteDevice(space, claim.phoneDeviceId));
    EXPECT_TRUE(store.latestSnapshot(space)) << "the connector may still read its space";
    EXPECT_FALSE(store.deleteDevice(space, claim.phoneDeviceId));

    ASSERT_TRUE(store.deleteDevice(space, "CONNECTOR-1"));
    EXPECT_FALSE(store.latestSnapshot(space));
    EXPECT_TRUE(store.devices(space).empty());
}

TEST(RelayStoreTest, TheSweepForgetsSessionsADayAfterExpiryFindingThemByIndex) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("relay.db").toStdString();
    const auto opened = openStore(file);
    auto& store = *opened;
    const auto old = store.createSession("C-OLD", "Box", 1000);
    const auto claimed = store.createSession("C-CLAIMED", "Box", 1000);
    const auto live = store.createSession("C-LIVE", "Box", 1000 + 86'400);
    ASSERT_TRUE(old && claimed && live);
    ASSERT_EQ(store.claim(claimed->code, "Phone", 1001).outcome, Claim::Outcome::claimed);

    EXPECT_EQ(store.sweepExpiredSessions(1000 + 600), 0u);
    EXPECT_EQ(store.pollSession(claimed->id, claimed->secret, 1000 + 600).outcome,
              relayserver::SessionPoll::Outcome::paired);
    EXPECT_EQ(store.sweepExpiredSessions(1000 + 600 + 86'400), 2u);
    for (const auto& gone : {*old, *claimed}) {
        EXPECT_EQ(store.pollSession(gone.id, gone.secret, 1000 + 600 + 86'400).outcome,
                  relayserver::SessionPoll::Outcome::unknown);
    }
    EXPECT_EQ(store.pollSession(live->id, live->secret, 1000 + 86'401).outcome,
              relayserver::SessionPoll::Outcome::pending);

    if (test::onPostgres()) {
        return;
    }
    // Both sweeps find their rows through an index, not by reading the whole table.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    for (const char* query :
         {"EXPLAIN QUERY PLAN SELECT rowid FROM pairing_sessions WHERE expires_at <= 5",
          "EXPLAIN QUERY PLAN SELECT rowid FROM pairing_sessions WHERE expires_at <= 5 AND "
          "connector_token_sealed IS NOT NULL"}) {
        std::string plan;
        sqlite3_exec(
            db, query,
            [](void* out, int columns, char** values, char**) {
                *static_cast<std::string*>(out) += values[columns - 1];
                return 0;
            },
            &plan, nullptr);
        EXPECT_NE(plan.find("USING"), std::string::npos) << query << ": " << plan;
        EXPECT_NE(plan.find("INDEX"), std::string::npos) << query << ": " << plan;
    }
    sqlite3_close(db);
}

} // namespace
} // namespace korvo

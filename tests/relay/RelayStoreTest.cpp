#include "RelayStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using relayserver::Claim;
using relayserver::RelayStore;

TEST(RelayStoreTest, ASyncSpaceAndItsSnapshotGoWithItsLastDevice) {
    QTemporaryDir dir;
    RelayStore store(dir.filePath("relay.db").toStdString());
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

} // namespace
} // namespace korvo

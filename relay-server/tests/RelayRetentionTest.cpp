#include "support/PairedConnector.h"
#include "support/RelayProcess.h"
#include "support/TestHome.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

namespace korvo {
namespace {

using test::PairedConnector;
using test::RelayProcess;

constexpr long long kDay = 86'400;

class RelayRetentionTest : public ::testing::Test {
protected:
    void setNow(long long seconds) {
        std::ofstream(dir_.filePath("now"), std::ios::trunc) << seconds;
    }
    std::unique_ptr<RelayProcess> start() {
        auto relay = std::make_unique<RelayProcess>(
            dir_.filePath("relay.db"),
            std::vector<std::string>{"--clock-file", dir_.filePath("now")});
        EXPECT_GT(relay->port(), 0);
        return relay;
    }
    // The status of reading a space's latest snapshot with its phone's token.
    static int latest(const RelayProcess& relay, const PairedConnector& space) {
        httplib::Client client("127.0.0.1", relay.port());
        const auto res = space.latest(client);
        return res ? res->status : -1;
    }

    test::TestHome dir_;
};

TEST_F(RelayRetentionTest, ASpaceWhoseDevicesWentUnseenFor90DaysIsDeletedWithItsSnapshot) {
    const long long t0 = 1'800'000'000;
    setNow(t0);
    PairedConnector abandoned, used, read;
    {
        const auto relay = start();
        abandoned = PairedConnector::pair(relay->port());
        used = PairedConnector::pair(relay->port());
        read = PairedConnector::pair(relay->port());
        ASSERT_FALSE(abandoned.connectorToken.empty());
        ASSERT_FALSE(used.connectorToken.empty());
        ASSERT_FALSE(read.connectorToken.empty());
        httplib::Client client("127.0.0.1", relay->port());
        EXPECT_EQ(abandoned.upload(client, 1)->status, 200);
        EXPECT_EQ(used.upload(client, 1)->status, 200);
        EXPECT_EQ(read.upload(client, 1)->status, 200);
    }
    setNow(t0 + 89 * kDay);
    {
        const auto relay = start();
        httplib::Client client("127.0.0.1", relay->port());
        // After the sweep at 89 days: a space unseen since is still there (and its phone seen
        // now); another's connector is seen again.
        EXPECT_EQ(latest(*relay, read), 200);
        EXPECT_EQ(used.upload(client, 2)->status, 200);
    }
    setNow(t0 + 91 * kDay);
    const auto relay = start();
    // Swept before the relay serves (a read with the space's token would mark it seen).
    EXPECT_EQ(latest(*relay, abandoned), 401);
    httplib::Client client("127.0.0.1", relay->port());
    EXPECT_EQ(abandoned.upload(client, 3)->status, 401);
    EXPECT_EQ(latest(*relay, used), 200);
    EXPECT_EQ(latest(*relay, read), 200);
}

} // namespace
} // namespace korvo

// Answers outside 2xx, over real HTTP, are failures whatever their body: an upload answered
// with a 1xx or 3xx status was not stored, however much its body looks like an acceptance.

#include "relayclient/RelayAddress.h"
#include "relayclient/RelayClient.h"
#include "support/HostileRelay.h"
#include "support/RunTask.h"
#include "support/TestSnapshot.h"

#include <QNetworkAccessManager>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace korvo {
namespace {

// An answer with `status` and `reason`, the given extra header lines and a JSON body.
QByteArray answerWith(int status, const QByteArray& reason, const QByteArray& headers,
                      const QByteArray& body) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n" + headers +
           "content-type: application/json\r\ncontent-length: " + QByteArray::number(body.size()) +
           "\r\nconnection: close\r\n\r\n" + body;
}

TEST(NonSuccessAnswer, UploadsAndReadsAnsweredOutside2xxFail) {
    test::ensureApplication();
    const QByteArray accepted =
        R"({"status":"accepted","snapshotId":"snap_1","updatedAt":"2027-01-15T08:00:00Z"})";
    const QByteArray health = R"({"status":"ok","environment":"production"})";
    struct Case {
        const char* name;
        QByteArray response;
        std::string error; // the failure's description starts so
    };
    const Case cases[] = {
        {"300 with a body", answerWith(300, "Multiple Choices", "", accepted),
         "Relay returned HTTP 300"},
        {"303 without a location", answerWith(303, "See Other", "", accepted),
         "Relay returned HTTP 303"},
        {"304", answerWith(304, "Not Modified", "", ""), "Relay returned HTTP 304"},
        {"399", answerWith(399, "Odd", "", accepted), "Relay returned HTTP 399"},
        {"a 2xx for contrast", answerWith(202, "Accepted", "", accepted), ""},
        // Last: the network layer may keep waiting on a connection after an interim status.
        {"199, an informational status as the final answer", answerWith(199, "Odd", "", accepted),
         "Relay returned HTTP 199"},
    };
    // Every server lives to the end, so that each case has a port of its own: the network layer
    // keeps connections per host and port, and one left in the middle of an answer must not
    // meet the next case's server.
    std::vector<std::unique_ptr<test::HostileRelay>> servers;
    QNetworkAccessManager network;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::HostileRelay& relay =
            *servers.emplace_back(std::make_unique<test::HostileRelay>(c.response));
        RelayClient client(&network, relay.url());
        const auto uploaded = test::runTask(client.uploadSnapshot(
            test::testSnapshot("space"),
            RelayCredential{"token", RelayAddress::origin(client.baseURL())}));
        if (c.error.empty()) {
            EXPECT_TRUE(uploaded.ok());
            continue;
        }
        ASSERT_FALSE(uploaded.ok());
        EXPECT_EQ(uploaded.error().description().rfind(c.error, 0), 0u)
            << uploaded.error().description();
        EXPECT_EQ(relay.count("POST /v1/sync-spaces/space/snapshots"), 1);
    }
    // A health check answered 3xx is no healthy relay either.
    test::HostileRelay moved(answerWith(302, "Found", "", health));
    RelayClient client(&network, moved.url());
    const auto checked = test::runTask(client.health());
    ASSERT_FALSE(checked.ok());
    EXPECT_EQ(checked.error().description().rfind("Relay returned HTTP 302", 0), 0u)
        << checked.error().description();
}

} // namespace
} // namespace korvo

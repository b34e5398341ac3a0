#include "support/RelayProcess.h"
#include "support/TestHome.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvo {
namespace {

using test::RelayProcess;

// A loopback port free at the moment of asking.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(RelayMetricsTest, CountsRequestsLatencyAndLimitsOnTheMetricsListenerOnly) {
    test::TestHome dir;
    const int metricsPort = freePort();
    RelayProcess relay(dir.filePath("relay.db"),
                       {"--metrics-listen", "127.0.0.1:" + std::to_string(metricsPort),
                        "--sessions-per-address", "1"});
    ASSERT_GT(relay.port(), 0);
    httplib::Client client("127.0.0.1", relay.port());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(client.Get("/health")->status, 200);
    }
    const std::string session = R"({"connectorDeviceId":"C","connectorDeviceName":"B"})";
    EXPECT_EQ(client.Post("/v1/pairing/sessions", session, "application/json")->status, 200);
    EXPECT_EQ(client.Post("/v1/pairing/sessions", session, "application/json")->status, 429);
    EXPECT_EQ(
        client.Post("/v1/pairing/claim", R"({"pairingCode":"000000"})", "application/json")->status,
        404);
    // Not on the public listener.
    EXPECT_EQ(client.Get("/metrics")->status, 404);

    httplib::Client metrics("127.0.0.1", metricsPort);
    const auto scrape = metrics.Get("/metrics");
    ASSERT_TRUE(scrape);
    ASSERT_EQ(scrape->status, 200);
    const std::string& text = scrape->body;
    for (const char* line : {
             "korvo_relay_requests_total{route=\"GET /health\",status=\"200\"} 3\n",
             "korvo_relay_requests_total{route=\"POST /v1/pairing/sessions\",status=\"200\"} 1\n",
             "korvo_relay_requests_total{route=\"POST /v1/pairing/sessions\",status=\"429\"} 1\n",
             "korvo_relay_requests_total{route=\"POST /v1/pairing/claim\",status=\"404\"} 1\n",
             "korvo_relay_request_duration_seconds_bucket{route=\"GET /health\",le=\"+Inf\"} 3\n",
             "korvo_relay_request_duration_seconds_count{route=\"GET /health\"} 3\n",
             "korvo_relay_limited_total{limit=\"pairing-session\"} 1\n",
             "korvo_relay_database_errors_total{kind=\"unavailable\"} 0\n",
             "korvo_relay_pool_wait_timeouts_total 0\n",
             "korvo_relay_pairing_sessions_live 1\n",
             "# TYPE korvo_relay_open_connections gauge\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
}

} // namespace
} // namespace korvo

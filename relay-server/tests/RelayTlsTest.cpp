#include "support/RawConnection.h"
#include "support/RelayProcess.h"
#include "support/TestHome.h"
#include "support/TlsCertificate.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace korvo {
namespace {

using test::RawConnection;

// One request over TLS to 127.0.0.1:port, trusting only `certificate`; the whole answer, or
// "" when the handshake or the certificate check failed.
std::string exchangeOverTls(int port, const std::string& certificate, const std::string& request) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    std::string answer;
    if (SSL_CTX_load_verify_locations(context, certificate.c_str(), nullptr) == 1) {
        RawConnection connection(port);
        SSL* tls = SSL_new(context);
        SSL_set_fd(tls, connection.descriptor());
        if (SSL_connect(tls) == 1 &&
            SSL_write(tls, request.data(), static_cast<int>(request.size())) > 0) {
            char buffer[4096];
            for (int n; (n = SSL_read(tls, buffer, sizeof buffer)) > 0;) {
                answer.append(buffer, static_cast<std::size_t>(n));
            }
        }
        SSL_free(tls);
    }
    SSL_CTX_free(context);
    return answer;
}

TEST(RelayTlsTest, ServesHttpsWithTheGivenCertificate) {
    test::TestHome dir;
    const std::string cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    ASSERT_TRUE(
        test::writeSelfSignedCertificate("ec -pkeyopt ec_paramgen_curve:prime256v1", key, cert));

    test::RelayProcess relay(dir.filePath("relay.db"), {"--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(relay.isRunning());
    const std::string answer = exchangeOverTls(
        relay.port(), cert, "GET /health HTTP/1.1\r\nHost: relay\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_NE(answer.find("\r\n\r\n{\"status\":\"ok\",\"webApp\":\"/\"}"), std::string::npos)
        << answer;

    RawConnection plain(relay.port());
    plain.send("GET /health HTTP/1.1\r\nHost: relay\r\n\r\n");
    EXPECT_EQ(plain.read(std::chrono::milliseconds(3000)).find("200 OK"), std::string::npos)
        << "plain HTTP is not served on the TLS port";
}

} // namespace
} // namespace korvo

#include "support/RawConnection.h"
#include "support/RelayProcess.h"
#include "support/TestHome.h"
#include "support/TlsCertificate.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

namespace korvo {
namespace {

using test::RawConnection;

// Whether a TLS handshake with 127.0.0.1:port succeeds when the client offers only `version`
// (and would accept any cipher, so that only the server's choice decides).
bool handshakes(int port, int version) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(context, 0);
    SSL_CTX_set_cipher_list(context, "ALL:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(context, version);
    SSL_CTX_set_max_proto_version(context, version);
    RawConnection connection(port);
    SSL* tls = SSL_new(context);
    SSL_set_fd(tls, connection.descriptor());
    const bool ok = SSL_connect(tls) == 1;
    SSL_free(tls);
    SSL_CTX_free(context);
    return ok;
}

TEST(RelayTlsVersionsTest, OnlyTls12AndNewerAreSpoken) {
    test::TestHome dir;
    const std::string cert = dir.filePath("cert.pem");
    const std::string key = dir.filePath("key.pem");
    // RSA, so that the old versions' cipher suites would have a key to work with.
    ASSERT_TRUE(test::writeSelfSignedCertificate("rsa:2048", key, cert));
    test::RelayProcess relay(dir.filePath("relay.db"), {"--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(relay.isRunning());
    EXPECT_TRUE(handshakes(relay.port(), TLS1_3_VERSION));
    EXPECT_TRUE(handshakes(relay.port(), TLS1_2_VERSION));
    EXPECT_FALSE(handshakes(relay.port(), TLS1_1_VERSION));
    EXPECT_FALSE(handshakes(relay.port(), TLS1_VERSION));
}

} // namespace
} // namespace korvo

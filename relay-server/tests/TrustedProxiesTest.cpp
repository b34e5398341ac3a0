#include "TrustedProxies.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(TrustedProxiesTest, TheClientIsTheRightmostHopThatIsNotATrustedProxy) {
    relayserver::TrustedProxies proxies;
    ASSERT_TRUE(proxies.add("10.0.0.0/8"));
    ASSERT_TRUE(proxies.add("2001:db8::/32"));
    ASSERT_TRUE(proxies.add("192.0.2.7"));
    for (const char* bad : {"10.0.0.0/33", "2001:db8::/129", "10.0.0.0/", "10.0.0.0/8x", "proxy"}) {
        EXPECT_FALSE(proxies.add(bad)) << bad;
    }
    const struct {
        const char* peer;
        const char* forwardedFor;
        const char* client;
    } cases[] = {
        {"198.51.100.1", "203.0.113.9", "198.51.100.1"}, // not from a proxy: the header is ignored
        {"10.1.2.3", "203.0.113.9", "203.0.113.9"},
        {"10.1.2.3", "", "10.1.2.3"},
        {"10.1.2.3", "1.1.1.1, 203.0.113.9, 10.9.9.9", "203.0.113.9"}, // the client wrote 1.1.1.1
        {"10.1.2.3", "10.2.2.2,10.3.3.3", "10.2.2.2"},                 // every hop a proxy
        {"10.1.2.3", "203.0.113.9, nonsense", "10.1.2.3"},             // a malformed hop stops
        {"192.0.2.7", " 2001:db8:1::5 , 2001:db9::1 ", "2001:db9::1"},
        {"2001:db8::1", "[2001:db9::2]", "2001:db9::2"},
        {"::ffff:10.0.0.1", "203.0.113.9", "203.0.113.9"}, // IPv4-mapped peer
        {"192.0.2.8", "203.0.113.9", "192.0.2.8"},         // just outside a one-address range
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.peer) + " / " + c.forwardedFor);
        EXPECT_EQ(proxies.clientAddress(c.peer, c.forwardedFor), c.client);
    }
}

} // namespace
} // namespace korvo

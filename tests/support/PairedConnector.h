#pragma once

#include <httplib.h>
#include <string>

namespace korvo::test {

// The string member `name` of a JSON object, or "".
std::string member(const std::string& body, const char* name);

// A connector paired with a phone through a relay's own endpoints, for tests that need one
// device able to upload.
struct PairedConnector {
    std::string syncSpaceId, connectorToken, phoneToken;

    // Pairs "CONNECTOR-1" through the relay at 127.0.0.1:port; empty fields when that failed.
    static PairedConnector pair(int port);

    std::string snapshot(int serial) const;
    httplib::Headers bearer(const std::string& token) const;
    httplib::Result upload(httplib::Client& client, int serial) const;
    httplib::Result latest(httplib::Client& client) const;
};

} // namespace korvo::test

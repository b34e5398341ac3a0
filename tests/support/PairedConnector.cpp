#include "PairedConnector.h"

#include "model/SnapshotJson.h"
#include "support/TestSnapshot.h"

#include <simdjson.h>

namespace korvo::test {

std::string member(const std::string& body, const char* name) {
    simdjson::dom::parser parser;
    std::string_view value;
    return parser.parse(body)[name].get_string().get(value) == simdjson::SUCCESS
               ? std::string(value)
               : std::string();
}

PairedConnector PairedConnector::pair(int port) {
    httplib::Client client("127.0.0.1", port);
    PairedConnector p;
    const auto session =
        client.Post("/v1/pairing/sessions",
                    R"({"connectorDeviceId":"CONNECTOR-1","connectorDeviceName":"Build Box"})",
                    "application/json");
    if (!session || session->status != 200) {
        return p;
    }
    const std::string payload = member(session->body, "qrPayload");
    const std::string secret = payload.substr(payload.find("secret=") + 7);
    const auto claimed = client.Post(
        "/v1/pairing/claim", R"({"pairingCode":")" + member(session->body, "pairingCode") + R"("})",
        "application/json");
    if (!claimed || claimed->status != 200) {
        return p;
    }
    const auto polled =
        client.Get(("/v1/pairing/sessions/" + member(session->body, "pairingSessionId")).c_str(),
                   {{"x-pairing-secret", secret}});
    if (!polled || polled->status != 200) {
        return p;
    }
    p.syncSpaceId = member(polled->body, "syncSpaceId");
    p.connectorToken = member(polled->body, "connectorDeviceToken");
    p.phoneToken = member(claimed->body, "phoneDeviceToken");
    return p;
}

std::string PairedConnector::snapshot(int serial) const {
    return encodeSnapshot(testSnapshot(syncSpaceId, serial)).value();
}

httplib::Headers PairedConnector::bearer(const std::string& token) const {
    return {{"authorization", "Bearer " + token}};
}

httplib::Result PairedConnector::upload(httplib::Client& client, int serial) const {
    return client.Post(("/v1/sync-spaces/" + syncSpaceId + "/snapshots").c_str(),
                       bearer(connectorToken), snapshot(serial), "application/json");
}

httplib::Result PairedConnector::latest(httplib::Client& client) const {
    return client.Get(("/v1/sync-spaces/" + syncSpaceId + "/snapshots/latest").c_str(),
                      bearer(phoneToken));
}

} // namespace korvo::test

#pragma once

#include <QString>
#include <memory>

namespace korvo {

class Connection;
class DeviceToken;
class RelayClient;

// What the concerns that talk to the relay share: the client, the device token that
// authorises this device, this device's id, and where they report the overall status and
// failures. The model makes one and hands it to each of them.
struct RelayAccess {
    // Shared so that a request in flight keeps the client alive even if the model goes away.
    std::shared_ptr<RelayClient> client;
    DeviceToken* token = nullptr;
    Connection* connection = nullptr;
    QString connectorDeviceId;
};

} // namespace korvo

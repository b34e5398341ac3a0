#pragma once

#include "model/Instant.h"
#include "model/Result.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// Answers of the relay API. Member names on the wire equal the field names; optional members
// may be absent or null; unknown members are ignored; dates are internet date-times without
// fractional seconds.

struct PairingSessionResponse {
    std::string pairingSessionId;
    std::string pairingCode;
    std::string qrPayload;
    Instant expiresAt{};
    friend bool operator==(const PairingSessionResponse&, const PairingSessionResponse&) = default;
};

struct PairingStatusResponse {
    std::string status; // "paired" once the phone has claimed the session
    std::optional<std::string> connectorDeviceId;
    std::optional<std::string> syncSpaceId;
    std::optional<std::string> connectorDeviceToken;
    friend bool operator==(const PairingStatusResponse&, const PairingStatusResponse&) = default;
};

struct SnapshotUploadResponse {
    std::string status;
    std::string snapshotId;
    Instant updatedAt{};
    friend bool operator==(const SnapshotUploadResponse&, const SnapshotUploadResponse&) = default;
};

struct HealthResponse {
    std::string status;
    std::optional<std::string> environment;
    // Path of the web view when the relay serves one ("/").
    std::optional<std::string> webApp;
    friend bool operator==(const HealthResponse&, const HealthResponse&) = default;
};

// The two times are kept as the relay sent them; they are not parsed.
struct RelayDevice {
    std::string id;
    std::string name;
    std::string kind;
    std::string createdAt;
    std::optional<std::string> lastSeenAt;
    friend bool operator==(const RelayDevice&, const RelayDevice&) = default;
};

struct DevicesResponse {
    std::vector<RelayDevice> devices;
    friend bool operator==(const DevicesResponse&, const DevicesResponse&) = default;
};

struct DeleteDeviceResponse {
    std::string status;
    std::string deviceId;
    friend bool operator==(const DeleteDeviceResponse&, const DeleteDeviceResponse&) = default;
};

// Why a body did not decode into the expected record.
struct RelayDecodeError {
    std::string message;
    std::string description() const { return message; }
    friend bool operator==(const RelayDecodeError&, const RelayDecodeError&) = default;
};

// Decodes a body that is one JSON object into the answer `Answer`, one of the records above.
template <class Answer> Result<Answer, RelayDecodeError> decodeRelayAnswer(std::string_view body);

inline constexpr auto decodePairingSessionResponse = &decodeRelayAnswer<PairingSessionResponse>;
inline constexpr auto decodePairingStatusResponse = &decodeRelayAnswer<PairingStatusResponse>;
inline constexpr auto decodeSnapshotUploadResponse = &decodeRelayAnswer<SnapshotUploadResponse>;
inline constexpr auto decodeHealthResponse = &decodeRelayAnswer<HealthResponse>;
inline constexpr auto decodeDevicesResponse = &decodeRelayAnswer<DevicesResponse>;
inline constexpr auto decodeDeleteDeviceResponse = &decodeRelayAnswer<DeleteDeviceResponse>;

} // namespace korvo

#include "relayclient/RelayMessages.h"

#include "model/TimeText.h"
#include "model/Utf8.h"

#include <simdjson.h>

namespace korvo {
namespace {

using simdjson::dom::element;
using simdjson::dom::object;

// Thrown inside a decoder only; every public function catches it and returns it as a value.
struct Failure {
    RelayDecodeError error;
};

[[noreturn]] void failWith(std::string message) {
    throw Failure{{std::move(message)}};
}

std::string where(std::string_view path, std::string_view key) {
    return path.empty() ? std::string(key) : std::string(path) + "." + std::string(key);
}

std::optional<std::string> optionalString(object o, std::string_view key, std::string_view path) {
    element value;
    if (o[key].get(value) != simdjson::SUCCESS || value.is_null()) {
        return std::nullopt;
    }
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS) {
        failWith("the member \"" + where(path, key) + "\" is not a string");
    }
    return std::string(text);
}

std::string requiredString(object o, std::string_view key, std::string_view path = {}) {
    auto value = optionalString(o, key, path);
    if (!value) {
        failWith("the member \"" + where(path, key) + "\" is missing");
    }
    return std::move(*value);
}

// Members that are only shown (names, kinds, status words): what comes from the relay goes to
// terminals, logs and the window, so control characters are dropped here, once.
std::string shownString(object o, std::string_view key, std::string_view path = {}) {
    return printableText(requiredString(o, key, path));
}

std::optional<std::string> optionalShownString(object o, std::string_view key,
                                               std::string_view path) {
    auto value = optionalString(o, key, path);
    return value ? std::optional(printableText(*value)) : std::nullopt;
}

// Identifiers are printed and sent back as they are, so one that printing would change (control
// characters, line breaks, bytes that are not UTF-8, more than 4 KiB) is refused.
std::string identifier(object o, std::string_view key, std::string_view path = {}) {
    std::string value = requiredString(o, key, path);
    if (printableText(value) != value || value.find(' ') != std::string::npos) {
        failWith("the member \"" + where(path, key) + "\" is not a printable identifier");
    }
    return value;
}

std::optional<std::string> optionalIdentifier(object o, std::string_view key) {
    return optionalString(o, key, {}) ? std::optional(identifier(o, key)) : std::nullopt;
}

Instant requiredDate(object o, std::string_view key) {
    const std::string text = requiredString(o, key);
    auto instant = parseInternetDateTimeWholeSeconds(text);
    if (!instant) {
        failWith("the member \"" + std::string(key) +
                 "\" is not an ISO 8601 date-time without fractional seconds: \"" +
                 printableText(text, 64) + "\"");
    }
    return *instant;
}

// Each answer's members, read from the body's object.
void read(object o, PairingSessionResponse& r) {
    r.pairingSessionId = identifier(o, "pairingSessionId");
    r.pairingCode = identifier(o, "pairingCode");
    r.qrPayload = requiredString(o, "qrPayload");
    r.expiresAt = requiredDate(o, "expiresAt");
}

void read(object o, PairingStatusResponse& r) {
    r.status = shownString(o, "status");
    r.connectorDeviceId = optionalIdentifier(o, "connectorDeviceId");
    r.syncSpaceId = optionalIdentifier(o, "syncSpaceId");
    r.connectorDeviceToken = optionalString(o, "connectorDeviceToken", {});
}

void read(object o, SnapshotUploadResponse& r) {
    r.status = shownString(o, "status");
    r.snapshotId = identifier(o, "snapshotId");
    r.updatedAt = requiredDate(o, "updatedAt");
}

void read(object o, HealthResponse& r) {
    r.status = shownString(o, "status");
    r.environment = optionalShownString(o, "environment", {});
    // An addition to the health answer: anything but a string is ignored, never a failure.
    std::string_view webApp;
    if (o["webApp"].get_string().get(webApp) == simdjson::SUCCESS) {
        r.webApp = std::string(webApp);
    }
}

void read(object o, DevicesResponse& r) {
    element list;
    if (o["devices"].get(list) != simdjson::SUCCESS || list.is_null()) {
        failWith("the member \"devices\" is missing");
    }
    simdjson::dom::array items;
    if (list.get_array().get(items) != simdjson::SUCCESS) {
        failWith("the member \"devices\" is not an array");
    }
    std::size_t index = 0;
    for (element item : items) {
        const std::string path = "devices[" + std::to_string(index++) + "]";
        object device;
        if (item.get_object().get(device) != simdjson::SUCCESS) {
            failWith("\"" + path + "\" is not an object");
        }
        RelayDevice d;
        d.id = identifier(device, "id", path);
        d.name = shownString(device, "name", path);
        d.kind = shownString(device, "kind", path);
        d.createdAt = shownString(device, "createdAt", path);
        d.lastSeenAt = optionalShownString(device, "lastSeenAt", path);
        r.devices.push_back(std::move(d));
    }
}

void read(object o, DeleteDeviceResponse& r) {
    r.status = shownString(o, "status");
    r.deviceId = identifier(o, "deviceId");
}

} // namespace

template <class Answer> Result<Answer, RelayDecodeError> decodeRelayAnswer(std::string_view body) {
    simdjson::dom::parser parser;
    element root;
    if (body.empty()) {
        return RelayDecodeError{"the body is empty"};
    }
    if (parser.parse(body.data(), body.size()).get(root) != simdjson::SUCCESS) {
        return RelayDecodeError{"the body is not valid JSON"};
    }
    object o;
    if (root.get_object().get(o) != simdjson::SUCCESS) {
        return RelayDecodeError{"the body is not a JSON object"};
    }
    try {
        Answer answer;
        read(o, answer);
        return answer;
    } catch (const Failure& failure) {
        return failure.error;
    }
}

template Result<PairingSessionResponse, RelayDecodeError> decodeRelayAnswer(std::string_view);
template Result<PairingStatusResponse, RelayDecodeError> decodeRelayAnswer(std::string_view);
template Result<SnapshotUploadResponse, RelayDecodeError> decodeRelayAnswer(std::string_view);
template Result<HealthResponse, RelayDecodeError> decodeRelayAnswer(std::string_view);
template Result<DevicesResponse, RelayDecodeError> decodeRelayAnswer(std::string_view);
template Result<DeleteDeviceResponse, RelayDecodeError> decodeRelayAnswer(std::string_view);

} // namespace korvo

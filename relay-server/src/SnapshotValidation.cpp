#include "SnapshotValidation.h"

#include "model/SnapshotJson.h"

#include <cmath>

namespace korvo::relayserver {
namespace {

// Whether a code point may stand in displayed text: no C0 or C1 control (NUL, CR, ESC, ...),
// no DEL, and none of the invisible marks that reorder text around them (bidirectional
// embeddings, overrides and isolates, the direction marks) and could make a row read as another.
bool displayable(char32_t c) {
    return !(c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
             (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069));
}

// The reason `text` (valid UTF-8, as decoded) is refused as the field `name`, or nothing.
std::optional<std::string> checkText(const std::string& name, std::string_view text,
                                     std::size_t maxBytes) {
    if (text.size() > maxBytes) {
        return name + " is longer than " + std::to_string(maxBytes) + " bytes";
    }
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        char32_t c = length == 1   ? lead
                     : length == 2 ? lead & 0x1f
                     : length == 3 ? lead & 0x0f
                                   : lead & 0x07;
        for (int k = 1; k < length && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
        }
        if (!displayable(c)) {
            return name + " contains a control or bidirectional formatting character";
        }
        i += static_cast<std::size_t>(length);
    }
    return std::nullopt;
}

std::optional<std::string> checkPercent(const std::string& name, const std::optional<double>& v) {
    if (v && !(std::isfinite(*v) && *v >= 0 && *v <= 100)) {
        return name + " is not a percentage within 0 and 100";
    }
    return std::nullopt;
}

std::optional<std::string> checkCount(const std::string& name, const std::optional<double>& v) {
    if (v && !(std::isfinite(*v) && *v >= 0 && *v <= kMaxSnapshotCount)) {
        return name + " is not a finite, non-negative number within 1e15";
    }
    return std::nullopt;
}

std::optional<std::string> checkContents(const UsageSnapshot& s) {
    if (auto p = checkText("snapshotId", s.snapshotId, kMaxSnapshotIdBytes)) {
        return p;
    }
    if (auto p = checkText("device.id", s.device.id, kMaxSnapshotIdBytes)) {
        return p;
    }
    if (auto p = checkText("device.name", s.device.name, kMaxSnapshotTextBytes)) {
        return p;
    }
    if (s.providers.size() > kMaxSnapshotProviders) {
        return "providers has more than " + std::to_string(kMaxSnapshotProviders) + " entries";
    }
    for (std::size_t i = 0; i < s.providers.size(); ++i) {
        const auto& row = s.providers[i];
        const std::string at = "providers[" + std::to_string(i) + "].";
        for (const auto& problem :
             {checkText(at + "id", row.id, kMaxSnapshotIdBytes),
              checkText(at + "displayName", row.displayName, kMaxSnapshotTextBytes),
              row.window && row.window->label
                  ? checkText(at + "window.label", *row.window->label, kMaxSnapshotTextBytes)
                  : std::nullopt,
              row.usage.remainingText ? checkText(at + "usage.remainingText",
                                                  *row.usage.remainingText, kMaxSnapshotTextBytes)
                                      : std::nullopt,
              checkPercent(at + "usage.usedPercent", row.usage.usedPercent),
              checkPercent(at + "usage.remainingPercent", row.usage.remainingPercent),
              checkCount(at + "usage.inputTokens", row.usage.inputTokens),
              checkCount(at + "usage.outputTokens", row.usage.outputTokens),
              checkCount(at + "usage.cachedInputTokens", row.usage.cachedInputTokens),
              checkCount(at + "usage.costUsd", row.usage.costUsd)}) {
            if (problem) {
                return problem;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> validateUploadedSnapshot(const std::string& body,
                                                    const std::string& syncSpaceId,
                                                    const std::string& deviceId,
                                                    std::string& snapshotId) {
    auto decoded = decodeSnapshot(body);
    if (!decoded.ok()) {
        return "Snapshot does not decode: " + decoded.error().description();
    }
    if (decoded.value().syncSpaceId != syncSpaceId) {
        return "Snapshot syncSpaceId does not match the sync space of the path";
    }
    if (decoded.value().device.id != deviceId) {
        return "Snapshot device.id is not the id of the uploading device";
    }
    if (auto problem = checkContents(decoded.value())) {
        return "Snapshot " + *problem;
    }
    snapshotId = decoded.value().snapshotId;
    return std::nullopt;
}

} // namespace korvo::relayserver

#include "launcher/QuickSnapshot.h"

#include "model/DeviceIdentity.h"
#include "model/SettingsFile.h"
#include "model/SnapshotJson.h"
#include "sources/SourceRegistry.h"
#include "sources/io/ExecutableSearchPaths.h"

#include <simdjson.h>
#include <string_view>

namespace korvo {

namespace {

constexpr std::string_view kDeviceIdKey = "connectorDeviceId";
constexpr std::string_view kSyncSpaceIdKey = "syncSpaceId";

} // namespace

std::optional<std::string> quickSnapshot(const QuickSnapshotSources& sources) {
    const Environment& environment = sources.environment;
    // Qt's logging rules may ask for the full program's log lines.
    if (environment("QT_LOGGING_RULES") || environment("QT_LOGGING_CONF") || sources.home.empty()) {
        return std::nullopt;
    }
    const std::filesystem::path file = SettingsFile::location(environment, sources.home);
    if (file.empty()) {
        return std::nullopt;
    }
    // The same reader as the full program's: only a missing device id, which it would make and
    // store, makes the answers differ.
    const SettingsFile settings(file);
    const std::optional<std::string> deviceId = settings.value(kDeviceIdKey);
    if (!deviceId || !isUsableDeviceId(*deviceId)) {
        return std::nullopt;
    }
    const std::optional<std::string> syncSpaceId = settings.value(kSyncSpaceIdKey);

    std::vector<ProviderUsage> rows;
    for (const auto& adapter : realAdapters(sources.home, defaultExecutableSearchPaths(environment),
                                            sources.clock, environment)) {
        UsageReading reading = adapter->readUsage();
        if (reading.error) {
            return std::nullopt;
        }
        if (reading.row) {
            rows.push_back(std::move(*reading.row));
        }
    }
    if (rows.empty()) {
        return std::nullopt;
    }
    std::string deviceName = systemHostName(sources.machineInfo);
    if (deviceName.empty()) {
        deviceName = kUnnamedDevice;
    }
    if (!simdjson::validate_utf8(deviceName.data(), deviceName.size())) {
        return std::nullopt;
    }
    const UsageSnapshot snapshot = assembleSnapshot(
        localSnapshotId(), syncSpaceId.value_or(std::string(kLocalDisplaySyncSpace)),
        SnapshotDevice{*deviceId, std::move(deviceName), platformDeviceKind()}, std::move(rows),
        sources.clock());
    auto encoded = encodeSnapshot(snapshot);
    if (!encoded.ok()) {
        return std::nullopt;
    }
    std::string text = std::move(encoded).value();
    if (!text.ends_with('\n')) {
        text += '\n';
    }
    return text;
}

} // namespace korvo

#include "launcher/QuickSnapshot.h"

#include "launcher/PlainSettings.h"
#include "model/DeviceIdentity.h"
#include "model/SettingsNames.h"
#include "model/SnapshotJson.h"
#include "sources/SourceRegistry.h"
#include "sources/io/ExecutableSearchPaths.h"

#include <simdjson.h>
#include <string_view>
#include <unistd.h>

namespace korvo {

namespace {

constexpr std::string_view kDeviceIdKey = "connectorDeviceId";
constexpr std::string_view kSyncSpaceIdKey = "syncSpaceId";

bool isPresent(const std::filesystem::path& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// The settings file QSettings reads for the connector, or nothing when QSettings would also
// consult another one: the organization-wide file beside it, or a system-wide file.
std::optional<std::filesystem::path> settingsFile(const QuickSnapshotSources& sources) {
    const Environment& environment = sources.environment;
    if (const auto file = environment(kSettingsFileVariable); file && !file->empty()) {
        return std::filesystem::path(*file);
    }
    std::filesystem::path config;
    if (const auto configHome = environment("XDG_CONFIG_HOME");
        configHome && !configHome->empty()) {
        config = *configHome;
    } else if (!sources.home.empty()) {
        config = sources.home / ".config";
    }
    if (!config.is_absolute()) {
        return std::nullopt;
    }
    const std::string organizationFile = std::string(kSettingsOrganization) + ".conf";
    const std::filesystem::path applicationFile = std::filesystem::path(kSettingsOrganization) /
                                                  (std::string(kSettingsApplication) + ".conf");
    std::vector<std::filesystem::path> systemFolders = {sources.systemConfigDirectory};
    if (const auto dirs = environment("XDG_CONFIG_DIRS")) {
        std::string_view rest = *dirs;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            if (const std::string_view dir = rest.substr(0, colon); !dir.empty()) {
                systemFolders.emplace_back(dir);
            }
            rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
        }
    }
    if (isPresent(config / organizationFile)) {
        return std::nullopt;
    }
    for (const auto& folder : systemFolders) {
        if (isPresent(folder / organizationFile) || isPresent(folder / applicationFile)) {
            return std::nullopt;
        }
    }
    return config / applicationFile;
}

} // namespace

std::optional<std::string> quickSnapshot(const QuickSnapshotSources& sources) {
    const Environment& environment = sources.environment;
    // Qt's logging rules may ask for the full program's log lines.
    if (environment("QT_LOGGING_RULES") || environment("QT_LOGGING_CONF") || sources.home.empty()) {
        return std::nullopt;
    }
    const std::optional<std::filesystem::path> file = settingsFile(sources);
    if (!file) {
        return std::nullopt;
    }
    const auto settings = readPlainSettings(*file, {kDeviceIdKey, kSyncSpaceIdKey});
    if (!settings) {
        return std::nullopt;
    }
    const auto deviceId = settings->find(kDeviceIdKey);
    if (deviceId == settings->end() || !isUsableDeviceId(deviceId->second)) {
        return std::nullopt;
    }
    const auto syncSpaceId = settings->find(kSyncSpaceIdKey);

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
        localSnapshotId(),
        syncSpaceId != settings->end() ? syncSpaceId->second : std::string(kLocalDisplaySyncSpace),
        SnapshotDevice{deviceId->second, std::move(deviceName), platformDeviceKind()},
        std::move(rows), sources.clock());
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

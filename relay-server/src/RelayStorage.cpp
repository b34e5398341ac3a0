#include "RelayStorage.h"

#include "PostgresStore.h"
#include "RelayStore.h"

#include <ctime>

namespace korvo::relayserver {

bool RelayStorage::uploadSnapshot(const std::string& syncSpaceId, const std::string& token,
                                  const std::string& deviceId, const std::string& snapshotId,
                                  const std::string& body, UnixTime now,
                                  const std::string& readings) {
    const auto device = authenticate(syncSpaceId, token, now);
    return device && device->role == DeviceRole::connector && device->id == deviceId &&
           putSnapshot(syncSpaceId, snapshotId, body, now, deviceId, readings);
}

UnixTime RelayStorage::admitClaim(const std::string&, const ClaimLimits&, std::size_t, UnixTime) {
    return 0;
}

void RelayStorage::claimSucceeded(const std::string&) {}

UnixTime RelayStorage::takeAllowance(const std::string&, const std::string&, const RateLimits&,
                                     UnixTime) {
    return 0;
}

bool isPostgresUri(const std::string& db) {
    return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

std::unique_ptr<RelayStorage> openRelayStorage(const std::string& db, unsigned poolSize,
                                               std::function<UnixTime()> clock) {
    return openRelayStorage(db, poolSize, DatabaseLimits{}, std::move(clock));
}

std::unique_ptr<RelayStorage> openRelayStorage(const std::string& db, unsigned poolSize,
                                               DatabaseLimits limits,
                                               std::function<UnixTime()> clock) {
    if (isPostgresUri(db)) {
        return std::make_unique<PostgresStore>(db, poolSize, limits, std::move(clock));
    }
    return std::make_unique<RelayStore>(db, std::move(clock), limits.retention);
}

std::string isoTime(UnixTime time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace korvo::relayserver

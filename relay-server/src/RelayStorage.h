#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvo::relayserver {

// Seconds since the Unix epoch; the relay's clock is injected by the caller of every method.
using UnixTime = std::int64_t;

struct ClaimLimits;
struct RateLimits;

// Thrown by a store when the database did not answer within its time limits or cannot be
// reached now; the relay answers 503 with retry-after. Its text is for the log only.
class StorageUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The time limits of database work (PostgreSQL), and how snapshot uploads commit.
struct DatabaseLimits {
    // A statement's run on the server (statement_timeout), and the relay's own wait for its
    // answer (this plus a second), which also bounds a COMMIT waiting for a standby.
    std::chrono::milliseconds statementTimeout{5000};
    std::chrono::milliseconds lockTimeout{3000};    // waiting for a row or table lock
    std::chrono::milliseconds connectTimeout{5000}; // opening a connection
    std::chrono::milliseconds poolWait{2000};       // waiting for a free pooled connection
    // Snapshot uploads commit without waiting for their flush (synchronous_commit off for that
    // transaction only): a relay crash loses nothing answered, a database power loss may lose
    // the last moments of snapshots, which connectors replace within 30 s.
    bool asyncSnapshotCommit = true;
    // How long a sync space is kept once none of its devices is seen (RelayStorage::retention),
    // in seconds; 0 keeps them. For either backend.
    std::int64_t retention = 90 * 86'400;
};

struct CreatedSession {
    std::string id;
    std::string code;
    std::string secret;
    UnixTime expiresAt = 0;
};

struct SessionPoll {
    enum class Outcome { unknown, forbidden, pending, paired, expired };
    Outcome outcome = Outcome::unknown;
    std::string connectorDeviceId;
    std::string syncSpaceId;
    // Only in the first paired answer, and only while the session lives.
    std::optional<std::string> connectorDeviceToken;
    // A paired answer without the token: the connector device was revoked.
    bool revoked = false;
};

struct Claim {
    enum class Outcome { unknown, alreadyClaimed, claimed };
    Outcome outcome = Outcome::unknown;
    std::string syncSpaceId;
    std::string phoneDeviceId;
    std::string phoneDeviceToken;
};

struct StoredDevice {
    std::string id;
    std::string name;
    std::string kind;
    std::string createdAt;
    std::optional<std::string> lastSeenAt;
};

enum class DeviceRole { connector, phone };

// One point of a connector device's usage series (UsageSeries): when the relay recorded it and
// the encoded readings of the snapshot's rows.
struct UsageSeriesPoint {
    UnixTime at = 0;
    std::string readings;
};

struct AuthenticatedDevice {
    std::string id;
    DeviceRole role = DeviceRole::connector;
};

// The relay's state: pairing sessions, sync spaces, their devices and latest snapshots. Every
// method is atomic, also against other relay processes sharing the same database, and a write
// has been made durable when it returns. Methods may be called from several threads.
//
// Secrets and tokens are kept only as SHA-256 hashes. The connector's token, which the first
// paired status poll hands out, is kept sealed with a key derived from the pairing secret until
// then; only a caller that knows the secret can unseal it. The sealed copy is erased when it is
// handed out or when the session expires. Anyone who saw the QR code knows the secret, so a
// paired poll after the token went out revokes the connector device: whoever took the token,
// it stops working at once.
class RelayStorage {
public:
    static constexpr UnixTime kSessionLifetime = 600;

    virtual ~RelayStorage() = default;

    // Nothing when no free pairing code could be found.
    virtual std::optional<CreatedSession> createSession(const std::string& connectorDeviceId,
                                                        const std::string& connectorDeviceName,
                                                        UnixTime now) = 0;
    virtual SessionPoll pollSession(const std::string& sessionId, const std::string& secret,
                                    UnixTime now) = 0;
    virtual Claim claim(const std::string& code, const std::string& phoneDeviceName,
                        UnixTime now) = 0;

    // The device that holds `token` in `syncSpaceId`; marks it seen at `now`.
    virtual std::optional<AuthenticatedDevice>
    authenticate(const std::string& syncSpaceId, const std::string& token, UnixTime now) = 0;

    // False when the sync space no longer exists. Non-empty `readings` (encodeUsageReadings)
    // become the point of `now` in the usage series of the connector `deviceId`, in the same
    // transaction.
    virtual bool putSnapshot(const std::string& syncSpaceId, const std::string& snapshotId,
                             const std::string& body, UnixTime now, const std::string& deviceId,
                             const std::string& readings) = 0;
    virtual std::optional<std::string> latestSnapshot(const std::string& syncSpaceId) = 0;
    // Stores `body` as the latest snapshot of `syncSpaceId` only when `token` is the token of
    // the connector device `deviceId` there, marking it seen at `now`; false otherwise (nothing
    // is stored), with `readings` as putSnapshot(). By default authenticate() followed by
    // putSnapshot().
    virtual bool uploadSnapshot(const std::string& syncSpaceId, const std::string& token,
                                const std::string& deviceId, const std::string& snapshotId,
                                const std::string& body, UnixTime now, const std::string& readings);
    // The usage series of the connector `deviceId` in `syncSpaceId` as kept at `now`: at most
    // kUsageSeriesPoints points of the last 48 hours, oldest first.
    virtual std::vector<UsageSeriesPoint>
    usageSeries(const std::string& syncSpaceId, const std::string& deviceId, UnixTime now) = 0;

    virtual std::vector<StoredDevice> devices(const std::string& syncSpaceId) = 0;
    // Removing a sync space's last device removes the space and its snapshot; a device's usage
    // series goes with it.
    virtual bool deleteDevice(const std::string& syncSpaceId, const std::string& deviceId) = 0;

    // Pairing sessions not yet expired nor claimed: the codes a guess could hit.
    virtual std::size_t liveSessions(UnixTime now) = 0;

    // Erases the sealed tokens of expired sessions and forgets sessions expired a day ago;
    // returns how many sessions were forgotten. Deletes too every sync space (its devices and
    // snapshot and usage series with it) none of whose devices was seen within the retention
    // time.
    virtual std::size_t sweepExpiredSessions(UnixTime now) = 0;
    // How long a sync space is kept after the last of its devices was seen (or created, if it
    // never was); 0 keeps them all. 90 days unless set.
    static constexpr UnixTime kDefaultRetention = 90 * 86'400;
    void setRetention(UnixTime unseenFor) { retention_ = unseenFor; }
    UnixTime retention() const { return retention_; }
    // Moves what the store buffers into its main files; returns when done.
    virtual void checkpointNow() = 0;

    // Whether the claim and pairing-session rate limits are kept here, shared by every relay on
    // this database. When not, each relay counts in its own memory and the three methods below
    // are not used.
    virtual bool sharesLimits() const { return false; }
    // As ClaimThrottle::admit for the client key `client`: 0 when let through (and counted),
    // otherwise the seconds until the client may try again.
    virtual UnixTime admitClaim(const std::string& client, const ClaimLimits& limits,
                                std::size_t liveSessions, UnixTime now);
    // As ClaimThrottle::succeeded.
    virtual void claimSucceeded(const std::string& client);
    // As AddressRateLimit::take for `client` under the limit named `scope`: 0 when allowed,
    // otherwise the seconds until the next use is allowed.
    virtual UnixTime takeAllowance(const std::string& scope, const std::string& client,
                                   const RateLimits& limits, UnixTime now);

    // Throws (StorageUnavailable or another error) unless the database answers a query now.
    virtual void checkReady() { liveSessions(0); }
    // Waits for a pooled connection that ran out, since the start.
    virtual std::uint64_t poolWaitTimeouts() const { return 0; }

private:
    std::atomic<UnixTime> retention_{kDefaultRetention};
};

// `db` is a PostgreSQL connection URI (postgresql://...), served by a pool of `poolSize`
// connections, or else a SQLite database file. With a clock, expired pairing sessions are swept
// once a minute (by one relay at a time on a shared database). Throws std::runtime_error when
// the database cannot be opened or set up.
std::unique_ptr<RelayStorage> openRelayStorage(const std::string& db, unsigned poolSize,
                                               std::function<UnixTime()> clock);
// The same with the time limits of database work.
std::unique_ptr<RelayStorage> openRelayStorage(const std::string& db, unsigned poolSize,
                                               DatabaseLimits limits,
                                               std::function<UnixTime()> clock);

// Whether `db` names a PostgreSQL database rather than a file.
bool isPostgresUri(const std::string& db);

// ISO 8601 UTC text without fractional seconds.
std::string isoTime(UnixTime time);

} // namespace korvo::relayserver

#pragma once

#include "PgConnectionPool.h"
#include "RelayStorage.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace korvo::relayserver {

// The relay's state in a PostgreSQL database that several relay processes share. Each rule
// that spans rows holds under concurrent relays at READ COMMITTED because it is one statement
// or locks what it depends on first:
// - a pairing code is taken in the same statement that creates the session, by inserting it
//   into pairing_codes or taking over the row of an expired one, so two live sessions never
//   share a code;
// - a claim is one statement that marks the session claimed only where it is still unclaimed
//   and creates the sync space and both devices from what it marked, so one phone wins;
// - removing a device locks its sync space row first, so the last device cannot go without
//   its space, whoever removes the others at the same time;
// - claim attempts and pairing-session allowances are counted here, per client, under a lock
//   on that client, so every relay sees the same counts.
// The schema is created, or checked to be one this relay knows, under an advisory lock at
// start-up. A commit is durable when it returns (synchronous_commit as the server has it,
// "on" by default), except a snapshot upload's when DatabaseLimits::asyncSnapshotCommit is set:
// that transaction commits with synchronous_commit off (as SET LOCAL would), so it is answered
// before its flush. Every call keeps within DatabaseLimits (else StorageUnavailable).
class PostgresStore : public RelayStorage {
public:
    static constexpr int kSchemaVersion = 3;
    static constexpr std::chrono::seconds kSweepInterval{60};

    PostgresStore(const std::string& uri, unsigned poolSize, DatabaseLimits limits,
                  std::function<UnixTime()> clock);
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    std::optional<CreatedSession> createSession(const std::string& connectorDeviceId,
                                                const std::string& connectorDeviceName,
                                                UnixTime now) override;
    SessionPoll pollSession(const std::string& sessionId, const std::string& secret,
                            UnixTime now) override;
    Claim claim(const std::string& code, const std::string& phoneDeviceName, UnixTime now) override;
    std::optional<AuthenticatedDevice>
    authenticate(const std::string& syncSpaceId, const std::string& token, UnixTime now) override;
    bool putSnapshot(const std::string& syncSpaceId, const std::string& snapshotId,
                     const std::string& body, UnixTime now, const std::string& deviceId,
                     const std::string& readings) override;
    std::vector<UsageSeriesPoint> usageSeries(const std::string& syncSpaceId,
                                              const std::string& deviceId, UnixTime now) override;
    std::optional<std::string> latestSnapshot(const std::string& syncSpaceId) override;
    std::vector<StoredDevice> devices(const std::string& syncSpaceId) override;
    bool deleteDevice(const std::string& syncSpaceId, const std::string& deviceId) override;
    std::size_t liveSessions(UnixTime now) override;
    std::size_t sweepExpiredSessions(UnixTime now) override;
    void checkpointNow() override;
    // The upload is one statement (the token check, the last-seen time and the upsert);
    // only one relay sweeps at a time, the others return 0 at once; checkpointNow() does
    // nothing, since PostgreSQL checkpoints on its own.
    bool uploadSnapshot(const std::string& syncSpaceId, const std::string& token,
                        const std::string& deviceId, const std::string& snapshotId,
                        const std::string& body, UnixTime now,
                        const std::string& readings) override;

    bool sharesLimits() const override { return true; }
    UnixTime admitClaim(const std::string& client, const ClaimLimits& limits,
                        std::size_t liveSessions, UnixTime now) override;
    void claimSucceeded(const std::string& client) override;
    void checkReady() override;
    std::uint64_t poolWaitTimeouts() const override { return pool_.timedOutWaits(); }
    UnixTime takeAllowance(const std::string& scope, const std::string& client,
                           const RateLimits& limits, UnixTime now) override;

private:
    void createSchema();
    void sweepLoop();

    DatabaseLimits limits_;
    PgConnectionPool pool_;
    std::function<UnixTime()> clock_;
    std::mutex sweepMutex_;
    std::condition_variable sweepWake_;
    bool stopping_ = false;
    std::thread sweeper_;
};

} // namespace korvo::relayserver

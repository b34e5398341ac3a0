#pragma once

#include "RelayStorage.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace korvo::relayserver {

// The relay's state in one SQLite database (WAL), for one relay process. Every method is one
// transaction; a mutex serialises them, so the store may be used from the server's worker
// threads.
class RelayStore : public RelayStorage {
public:
    // The log is checkpointed (without stopping writers) once it holds this many pages, and
    // restarted (writers wait for the copy) once it holds four times as many.
    static constexpr int kWalCheckpointFrames = 512;
    static constexpr int kWalRestartFrames = 4 * kWalCheckpointFrames;
    static constexpr std::chrono::seconds kSweepInterval{60};

    // Opens (creating when needed, mode 0600) the database. With a clock, expired pairing
    // sessions (and sync spaces unseen for `retention`) are swept here and then every
    // kSweepInterval on the store's own thread. Throws
    // std::runtime_error on failure.
    explicit RelayStore(const std::filesystem::path& file, std::function<UnixTime()> clock = {},
                        UnixTime retention = kDefaultRetention);
    ~RelayStore() override;
    RelayStore(const RelayStore&) = delete;
    RelayStore& operator=(const RelayStore&) = delete;

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
    // The token check, the last-seen time and the snapshot in one transaction: one commit and
    // one round of locks per upload, and no device removal can fall between check and write.
    bool uploadSnapshot(const std::string& syncSpaceId, const std::string& token,
                        const std::string& deviceId, const std::string& snapshotId,
                        const std::string& body, UnixTime now,
                        const std::string& readings) override;
    std::optional<std::string> latestSnapshot(const std::string& syncSpaceId) override;
    std::vector<StoredDevice> devices(const std::string& syncSpaceId) override;
    bool deleteDevice(const std::string& syncSpaceId, const std::string& deviceId) override;
    std::size_t liveSessions(UnixTime now) override;
    std::size_t sweepExpiredSessions(UnixTime now) override;
    void checkpointNow() override;
    // Removing a sync space's last device also checkpoints the log to nothing, so no
    // copy of the space stays in the files; checkpointNow() copies the whole log into the
    // database and truncates it.

private:
    class Statement;
    void execute(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    void requestCheckpoint(int mode);
    void maintenanceLoop(std::filesystem::path file);
    void revokeConnector(const std::string& syncSpaceId, const std::string& deviceId);
    // With the mutex held: a device's last-seen time, written at most once a second; a sync
    // space's latest snapshot.
    void touchDevice(const std::string& syncSpaceId, const std::string& deviceId, UnixTime now);
    void writeSnapshot(const std::string& syncSpaceId, const std::string& snapshotId,
                       const std::string& body, UnixTime now);
    // With the mutex held, in a transaction: the usage series point of `now`, and the points
    // out of the series' span dropped.
    void writeUsagePoint(const std::string& syncSpaceId, const std::string& deviceId,
                         const std::string& readings, UnixTime now);

    std::function<UnixTime()> clock_;
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::map<const char*, sqlite3_stmt*> statements_;
    int logFrames_ = 0; // the log's size after the last commit, in pages

    // Checkpoints (which sync the database file) and the session sweep run on their own thread
    // and connection, so no request waits for one.
    std::mutex maintenanceMutex_;
    std::condition_variable maintenanceWake_;
    int checkpointMode_ = -1; // the strongest requested, -1 for none
    unsigned long checkpointsDone_ = 0;
    bool stopping_ = false;
    std::thread maintainer_;
};

} // namespace korvo::relayserver

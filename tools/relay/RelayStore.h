#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
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

// Seconds since the Unix epoch; the relay's clock is injected by the caller of every method.
using UnixTime = std::int64_t;

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

struct AuthenticatedDevice {
    std::string id;
    DeviceRole role = DeviceRole::connector;
};

// The relay's state in one SQLite database (WAL). Every method is one transaction; a mutex
// serialises them, so the store may be used from the server's worker threads.
//
// Secrets and tokens are kept only as SHA-256 hashes. The connector's token, which the first
// paired status poll hands out, is kept sealed with a key derived from the pairing secret until
// then; only a caller that knows the secret can unseal it. The sealed copy is erased when it is
// handed out or when the session expires. Anyone who saw the QR code knows the secret, so a
// paired poll after the token went out revokes the connector device: whoever took the token,
// it stops working at once.
class RelayStore {
public:
    static constexpr UnixTime kSessionLifetime = 600;
    // The log is checkpointed (without stopping writers) once it holds this many pages, and
    // restarted (writers wait for the copy) once it holds four times as many.
    static constexpr int kWalCheckpointFrames = 512;
    static constexpr int kWalRestartFrames = 4 * kWalCheckpointFrames;
    static constexpr std::chrono::seconds kSweepInterval{60};

    // Opens (creating when needed, mode 0600) the database. With a clock, expired pairing
    // sessions are swept every kSweepInterval on the store's own thread. Throws
    // std::runtime_error on failure.
    explicit RelayStore(const std::filesystem::path& file, std::function<UnixTime()> clock = {});
    ~RelayStore();
    RelayStore(const RelayStore&) = delete;
    RelayStore& operator=(const RelayStore&) = delete;

    // Nothing when no free pairing code could be found.
    std::optional<CreatedSession> createSession(const std::string& connectorDeviceId,
                                                const std::string& connectorDeviceName,
                                                UnixTime now);
    SessionPoll pollSession(const std::string& sessionId, const std::string& secret, UnixTime now);
    Claim claim(const std::string& code, const std::string& phoneDeviceName, UnixTime now);

    // The device that holds `token` in `syncSpaceId`; marks it seen at `now`.
    std::optional<AuthenticatedDevice> authenticate(const std::string& syncSpaceId,
                                                    const std::string& token, UnixTime now);

    void putSnapshot(const std::string& syncSpaceId, const std::string& snapshotId,
                     const std::string& body, UnixTime now);
    std::optional<std::string> latestSnapshot(const std::string& syncSpaceId);

    std::vector<StoredDevice> devices(const std::string& syncSpaceId);
    // Removing a sync space's last device removes the space and its snapshot, and then
    // checkpoints the log to nothing, so no copy of them stays in the files.
    bool deleteDevice(const std::string& syncSpaceId, const std::string& deviceId);

    // Erases the sealed tokens of expired sessions and forgets sessions expired a day ago;
    // returns how many sessions were forgotten.
    std::size_t sweepExpiredSessions(UnixTime now);
    // Copies the whole log into the database and truncates it; returns when done.
    void checkpointNow();

private:
    class Statement;
    void execute(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    void requestCheckpoint(int mode);
    void maintenanceLoop(std::filesystem::path file);
    void revokeConnector(const std::string& syncSpaceId, const std::string& deviceId);

    std::function<UnixTime()> clock_;
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::map<const char*, sqlite3_stmt*> statements_;

    // Checkpoints (which sync the database file) and the session sweep run on their own thread
    // and connection, so no request waits for one.
    std::mutex maintenanceMutex_;
    std::condition_variable maintenanceWake_;
    int checkpointMode_ = -1; // the strongest requested, -1 for none
    unsigned long checkpointsDone_ = 0;
    bool stopping_ = false;
    std::thread maintainer_;
};

// ISO 8601 UTC text without fractional seconds.
std::string isoTime(UnixTime time);

} // namespace korvo::relayserver

#include "RelayStore.h"

#include "RelayCrypto.h"
#include "UsageSeries.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace korvo::relayserver {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS pairing_sessions (
    id TEXT PRIMARY KEY,
    code TEXT NOT NULL,
    secret_hash BLOB NOT NULL,
    connector_device_id TEXT NOT NULL,
    connector_device_name TEXT NOT NULL,
    connector_token_hash BLOB NOT NULL,
    connector_token_sealed BLOB,
    expires_at INTEGER NOT NULL,
    sync_space_id TEXT
);
CREATE INDEX IF NOT EXISTS pairing_sessions_code ON pairing_sessions (code, expires_at);
CREATE INDEX IF NOT EXISTS pairing_sessions_expiry ON pairing_sessions (expires_at);
CREATE INDEX IF NOT EXISTS pairing_sessions_sealed ON pairing_sessions (expires_at)
    WHERE connector_token_sealed IS NOT NULL;
CREATE TABLE IF NOT EXISTS sync_spaces (
    id TEXT PRIMARY KEY,
    created_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS devices (
    sync_space_id TEXT NOT NULL,
    id TEXT NOT NULL,
    name TEXT NOT NULL,
    kind TEXT NOT NULL,
    role TEXT NOT NULL,
    token_hash BLOB NOT NULL UNIQUE,
    created_at INTEGER NOT NULL,
    last_seen_at INTEGER,
    PRIMARY KEY (sync_space_id, id)
);
CREATE TABLE IF NOT EXISTS snapshots (
    sync_space_id TEXT PRIMARY KEY,
    snapshot_id TEXT NOT NULL,
    body BLOB NOT NULL,
    updated_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS usage_points (
    sync_space_id TEXT NOT NULL,
    device_id TEXT NOT NULL,
    bucket INTEGER NOT NULL,
    at INTEGER NOT NULL,
    readings BLOB NOT NULL,
    PRIMARY KEY (sync_space_id, device_id, bucket)
) WITHOUT ROWID;
)sql";

} // namespace

// A prepared statement borrowed for one use: bound, stepped, then reset on scope exit.
class RelayStore::Statement {
public:
    Statement(RelayStore& store, const char* sql) : stmt_(store.prepare(sql)) {}
    ~Statement() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& text(int index, const std::string& value) {
        sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& blob(int index, const std::string& value) {
        sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& integer(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    // True while a row is available.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(stmt_)));
        }
        return false;
    }
    std::string columnText(int index) const {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
        return std::string(data != nullptr ? data : "",
                           static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)));
    }
    bool isNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }
    std::int64_t columnInteger(int index) const { return sqlite3_column_int64(stmt_, index); }

private:
    sqlite3_stmt* stmt_;
};

namespace {

// The database and its log hold device names and snapshots: readable by this user only,
// whatever the umask. SQLite gives the log and shared-memory files the mode of the database.
void restrictPermissions(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + file.string() + ": " + std::strerror(errno));
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    for (const char* suffix : {"-wal", "-shm"}) {
        ::chmod((file.string() + suffix).c_str(), 0600);
    }
}

} // namespace

RelayStore::RelayStore(const std::filesystem::path& file, std::function<UnixTime()> clock,
                       UnixTime retention)
    : clock_(std::move(clock)) {
    setRetention(retention);
    restrictPermissions(file);
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open " + file.string() + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        execute("PRAGMA journal_mode=WAL");
        // Durability: see DurableWrite below. NORMAL syncs the log only at checkpoints.
        execute("PRAGMA synchronous=NORMAL");
        // Deleted rows are overwritten, so a deleted space's snapshot leaves the database file
        // (and, after the next checkpoint, the log).
        execute("PRAGMA secure_delete=ON");
        // A log that was fully checkpointed is cut back to this size when writing restarts.
        execute(("PRAGMA journal_size_limit=" + std::to_string(kWalRestartFrames * 4096)).c_str());
        execute("PRAGMA foreign_keys=ON");
        // Checkpoints run on their own thread (below), never on a request's.
        execute("PRAGMA wal_autocheckpoint=0");
        execute(kSchema);
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
    sqlite3_wal_hook(
        db_,
        [](void* self, sqlite3*, const char*, int frames) {
            // Runs after each commit, under the store's mutex. A checkpoint is asked for each
            // time the log grows past another kWalCheckpointFrames, not after every commit past
            // the first: under a stream of uploads the log never empties, and a checkpoint per
            // commit would copy a few pages and sync the database file each time.
            auto* store = static_cast<RelayStore*>(self);
            const int before = std::exchange(store->logFrames_, frames);
            if (frames / kWalCheckpointFrames > before / kWalCheckpointFrames ||
                (frames < before && frames >= kWalCheckpointFrames)) {
                store->requestCheckpoint(frames >= kWalRestartFrames ? SQLITE_CHECKPOINT_RESTART
                                                                     : SQLITE_CHECKPOINT_PASSIVE);
            }
            return SQLITE_OK;
        },
        this);
    // The first sweep before the relay serves anything, so that nothing swept is answered.
    if (clock_) {
        sweepExpiredSessions(clock_());
    }
    maintainer_ = std::thread([this, file] { maintenanceLoop(file); });
}

void RelayStore::requestCheckpoint(int mode) {
    {
        std::lock_guard lock(maintenanceMutex_);
        if (checkpointMode_ >= 0 && checkpointMode_ >= mode) {
            return;
        }
        checkpointMode_ = mode; // PASSIVE < FULL < RESTART < TRUNCATE
    }
    maintenanceWake_.notify_all();
}

void RelayStore::checkpointNow() {
    requestCheckpoint(SQLITE_CHECKPOINT_TRUNCATE);
    std::unique_lock lock(maintenanceMutex_);
    const auto target = checkpointsDone_ + 1;
    maintenanceWake_.wait(lock, [&] { return checkpointsDone_ >= target || stopping_; });
}

void RelayStore::maintenanceLoop(std::filesystem::path file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return;
    }
    sqlite3_busy_timeout(db, 2000);
    auto nextSweep = std::chrono::steady_clock::now() + kSweepInterval;
    std::unique_lock lock(maintenanceMutex_);
    while (!stopping_) {
        const auto due = [&] { return stopping_ || checkpointMode_ >= 0; };
        if (clock_) {
            maintenanceWake_.wait_until(lock, nextSweep, due);
        } else {
            maintenanceWake_.wait(lock, due);
        }
        if (stopping_) {
            break;
        }
        const int mode = std::exchange(checkpointMode_, -1);
        lock.unlock();
        if (mode >= 0) {
            // A connection that has never read the database does not see the log: read first.
            sqlite3_exec(db, "SELECT 1 FROM sqlite_schema LIMIT 1", nullptr, nullptr, nullptr);
            // Most of the log is copied and synced while uploads go on. A stronger checkpoint,
            // which resets the log, then copies what came since with writers held back on the
            // store's mutex: a writer blocked inside SQLite would back off for milliseconds
            // past the checkpoint's end, holding that mutex and every request behind it.
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
            if (mode > SQLITE_CHECKPOINT_PASSIVE) {
                std::lock_guard writers(mutex_);
                sqlite3_wal_checkpoint_v2(db, nullptr, mode, nullptr, nullptr);
            }
        }
        if (clock_ && std::chrono::steady_clock::now() >= nextSweep) {
            sweepExpiredSessions(clock_());
            nextSweep = std::chrono::steady_clock::now() + kSweepInterval;
        }
        lock.lock();
        if (mode >= 0) {
            ++checkpointsDone_;
            maintenanceWake_.notify_all();
        }
    }
    lock.unlock();
    sqlite3_close(db);
}

RelayStore::~RelayStore() {
    {
        std::lock_guard lock(maintenanceMutex_);
        stopping_ = true;
    }
    maintenanceWake_.notify_all();
    maintainer_.join();
    for (auto& [sql, stmt] : statements_) {
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db_);
}

void RelayStore::execute(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error != nullptr ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

sqlite3_stmt* RelayStore::prepare(const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) {
        return found->second;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(db_));
    }
    statements_.emplace(sql, stmt);
    return stmt;
}

namespace {

// Durability. The log is synced to disk at every checkpoint and at every durable write. What a
// power cut may undo:
// - pairing sessions, claims (the sync space and its devices) and device deletions: nothing; each
//   commit is synced before it is answered (synchronous=FULL for that transaction);
// - snapshot uploads and last-seen times: the ones committed since the last sync, at most the
//   last few seconds' worth; the database stays consistent and the connector uploads again
//   within a minute. A crash of the relay process alone loses nothing.
class DurableWrite {
public:
    explicit DurableWrite(sqlite3* db) : db_(db) {
        sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    }
    ~DurableWrite() { sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr); }
    DurableWrite(const DurableWrite&) = delete;
    DurableWrite& operator=(const DurableWrite&) = delete;

private:
    sqlite3* db_;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when the scope is left by an exception.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) { run("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit() {
        run("COMMIT");
        done_ = true;
    }

private:
    void run(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(db_));
        }
    }
    sqlite3* db_;
    bool done_ = false;
};

} // namespace

std::size_t RelayStore::sweepExpiredSessions(UnixTime now) {
    // In small batches, each one transaction found through the expiry indexes, so requests
    // wait for at most one batch.
    constexpr int kBatch = 256;
    std::size_t removed = 0;
    for (bool more = true; more;) {
        std::lock_guard lock(mutex_);
        // Sessions are forgotten a day after they expired; their polls then answer "unknown".
        Statement(*this, "DELETE FROM pairing_sessions WHERE rowid IN (SELECT rowid FROM "
                         "pairing_sessions WHERE expires_at <= ? LIMIT ?)")
            .integer(1, now - 86'400)
            .integer(2, kBatch)
            .step();
        const int deleted = sqlite3_changes(db_);
        // An expired session's sealed connector token is no longer handed out: erase it.
        Statement(*this, "UPDATE pairing_sessions SET connector_token_sealed = NULL WHERE rowid IN "
                         "(SELECT rowid FROM pairing_sessions WHERE expires_at <= ? AND "
                         "connector_token_sealed IS NOT NULL LIMIT ?)")
            .integer(1, now)
            .integer(2, kBatch)
            .step();
        const int sealed = sqlite3_changes(db_);
        removed += static_cast<std::size_t>(deleted);
        more = deleted == kBatch || sealed == kBatch;
    }
    if (retention() > 0) {
        // Sync spaces none of whose devices was seen within the retention time, with their
        // devices and snapshots, in one transaction.
        std::lock_guard lock(mutex_);
        Transaction transaction(db_);
        // (Statements are cached by the address of their text: literals only.)
#define KORVO_ABANDONED                                                                            \
    "SELECT s.id FROM sync_spaces s WHERE s.created_at <= ?1 AND NOT EXISTS (SELECT 1 FROM "       \
    "devices d WHERE d.sync_space_id = s.id AND coalesce(d.last_seen_at, d.created_at) > ?1)"
        const UnixTime cutoff = now - retention();
        Statement(*this, "DELETE FROM snapshots WHERE sync_space_id IN (" KORVO_ABANDONED ")")
            .integer(1, cutoff)
            .step();
        Statement(*this, "DELETE FROM usage_points WHERE sync_space_id IN (" KORVO_ABANDONED ")")
            .integer(1, cutoff)
            .step();
        Statement(*this, "DELETE FROM devices WHERE sync_space_id IN (" KORVO_ABANDONED ")")
            .integer(1, cutoff)
            .step();
        Statement(*this, "DELETE FROM sync_spaces WHERE id IN (" KORVO_ABANDONED ")")
            .integer(1, cutoff)
            .step();
#undef KORVO_ABANDONED
        const bool any = sqlite3_changes(db_) > 0;
        transaction.commit();
        if (any) {
            // Older copies of their pages still sit in the log: rewrite the log to nothing.
            requestCheckpoint(SQLITE_CHECKPOINT_TRUNCATE);
        }
    }
    return removed;
}

std::optional<CreatedSession> RelayStore::createSession(const std::string& connectorDeviceId,
                                                        const std::string& connectorDeviceName,
                                                        UnixTime now) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    Transaction transaction(db_);
    CreatedSession session;
    for (int attempt = 0; attempt < 64 && session.code.empty(); ++attempt) {
        std::string code = randomDigits(6);
        Statement taken(*this, "SELECT 1 FROM pairing_sessions WHERE code = ? AND expires_at > ?");
        taken.text(1, code).integer(2, now);
        if (!taken.step()) {
            session.code = std::move(code);
        }
    }
    if (session.code.empty()) {
        return std::nullopt;
    }
    session.id = "ps_" + randomToken();
    session.secret = randomToken();
    session.expiresAt = now + kSessionLifetime;
    const std::string tokenBytes = randomBytes(32);
    Statement insert(*this,
                     "INSERT INTO pairing_sessions (id, code, secret_hash, connector_device_id, "
                     "connector_device_name, connector_token_hash, connector_token_sealed, "
                     "expires_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    insert.text(1, session.id)
        .text(2, session.code)
        .blob(3, hashText(session.secret))
        .text(4, connectorDeviceId)
        .text(5, connectorDeviceName)
        .blob(6, hashText(base64Url(tokenBytes)))
        .blob(7, seal(tokenBytes, session.secret))
        .integer(8, session.expiresAt)
        .step();
    transaction.commit();
    return session;
}

SessionPoll RelayStore::pollSession(const std::string& sessionId, const std::string& secret,
                                    UnixTime now) {
    std::lock_guard lock(mutex_);
    // Handing the token out and revoking are synced before the answer; a pending poll writes
    // nothing, so it syncs nothing.
    DurableWrite durable(db_);
    Transaction transaction(db_);
    SessionPoll poll;
    std::string sealed;
    bool hasSealed = false;
    {
        Statement query(*this, "SELECT secret_hash, connector_device_id, connector_token_sealed, "
                               "expires_at, sync_space_id FROM pairing_sessions WHERE id = ?");
        query.text(1, sessionId);
        if (!query.step()) {
            return poll;
        }
        if (query.columnText(0) != hashText(secret)) {
            poll.outcome = SessionPoll::Outcome::forbidden;
            return poll;
        }
        const bool live = now < query.columnInteger(3);
        if (query.isNull(4)) {
            poll.outcome = live ? SessionPoll::Outcome::pending : SessionPoll::Outcome::expired;
            return poll;
        }
        poll.outcome = SessionPoll::Outcome::paired;
        poll.connectorDeviceId = query.columnText(1);
        poll.syncSpaceId = query.columnText(4);
        hasSealed = live && !query.isNull(2);
        if (hasSealed) {
            sealed = query.columnText(2);
        }
    }
    if (hasSealed) {
        // The first paired poll takes the token; the sealed copy goes with the answer.
        Statement(*this, "UPDATE pairing_sessions SET connector_token_sealed = NULL WHERE id = ?")
            .text(1, sessionId)
            .step();
        poll.connectorDeviceToken = base64Url(seal(sealed, secret));
    } else {
        // The token was taken already (or the session ran out before anyone took it), so a
        // second party holds the secret. Whoever took the token may be that party: the
        // connector device is revoked and what it uploaded is dropped.
        revokeConnector(poll.syncSpaceId, poll.connectorDeviceId);
        poll.revoked = true;
    }
    transaction.commit();
    return poll;
}

void RelayStore::revokeConnector(const std::string& syncSpaceId, const std::string& deviceId) {
    Statement(*this,
              "DELETE FROM devices WHERE sync_space_id = ? AND id = ? AND role = 'connector'")
        .text(1, syncSpaceId)
        .text(2, deviceId)
        .step();
    if (sqlite3_changes(db_) > 0) {
        Statement(*this, "DELETE FROM snapshots WHERE sync_space_id = ?")
            .text(1, syncSpaceId)
            .step();
        Statement(*this, "DELETE FROM usage_points WHERE sync_space_id = ? AND device_id = ?")
            .text(1, syncSpaceId)
            .text(2, deviceId)
            .step();
    }
}

Claim RelayStore::claim(const std::string& code, const std::string& phoneDeviceName, UnixTime now) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    Transaction transaction(db_);
    Claim claim;
    std::string sessionId, connectorId, connectorName, connectorTokenHash;
    {
        Statement query(*this, "SELECT id, connector_device_id, connector_device_name, "
                               "connector_token_hash, sync_space_id FROM pairing_sessions "
                               "WHERE code = ? AND expires_at > ?");
        query.text(1, code).integer(2, now);
        if (!query.step()) {
            return claim;
        }
        if (!query.isNull(4)) {
            claim.outcome = Claim::Outcome::alreadyClaimed;
            return claim;
        }
        sessionId = query.columnText(0);
        connectorId = query.columnText(1);
        connectorName = query.columnText(2);
        connectorTokenHash = query.columnText(3);
    }
    claim.outcome = Claim::Outcome::claimed;
    claim.syncSpaceId = "ss_" + base64Url(randomBytes(16));
    claim.phoneDeviceId = "phone_" + base64Url(randomBytes(16));
    claim.phoneDeviceToken = randomToken();
    Statement(*this, "INSERT INTO sync_spaces (id, created_at) VALUES (?, ?)")
        .text(1, claim.syncSpaceId)
        .integer(2, now)
        .step();
    const char* insertDevice = "INSERT INTO devices (sync_space_id, id, name, kind, role, "
                               "token_hash, created_at) VALUES (?, ?, ?, ?, ?, ?, ?)";
    Statement(*this, insertDevice)
        .text(1, claim.syncSpaceId)
        .text(2, connectorId)
        .text(3, connectorName)
        .text(4, "connector")
        .text(5, "connector")
        .blob(6, connectorTokenHash)
        .integer(7, now)
        .step();
    Statement(*this, insertDevice)
        .text(1, claim.syncSpaceId)
        .text(2, claim.phoneDeviceId)
        .text(3, phoneDeviceName)
        .text(4, "phone")
        .text(5, "phone")
        .blob(6, hashText(claim.phoneDeviceToken))
        .integer(7, now)
        .step();
    Statement(*this, "UPDATE pairing_sessions SET sync_space_id = ? WHERE id = ?")
        .text(1, claim.syncSpaceId)
        .text(2, sessionId)
        .step();
    transaction.commit();
    return claim;
}

std::size_t RelayStore::liveSessions(UnixTime now) {
    std::lock_guard lock(mutex_);
    Statement query(*this, "SELECT count(*) FROM pairing_sessions WHERE expires_at > ? AND "
                           "sync_space_id IS NULL");
    query.integer(1, now).step();
    return static_cast<std::size_t>(query.columnInteger(0));
}

std::optional<AuthenticatedDevice>
RelayStore::authenticate(const std::string& syncSpaceId, const std::string& token, UnixTime now) {
    std::lock_guard lock(mutex_);
    AuthenticatedDevice device;
    {
        Statement query(*this,
                        "SELECT id, role FROM devices WHERE sync_space_id = ? AND token_hash = ?");
        query.text(1, syncSpaceId).blob(2, hashText(token));
        if (!query.step()) {
            return std::nullopt;
        }
        device.id = query.columnText(0);
        device.role = query.columnText(1) == "phone" ? DeviceRole::phone : DeviceRole::connector;
    }
    touchDevice(syncSpaceId, device.id, now);
    return device;
}

bool RelayStore::putSnapshot(const std::string& syncSpaceId, const std::string& snapshotId,
                             const std::string& body, UnixTime now, const std::string& deviceId,
                             const std::string& readings) {
    std::lock_guard lock(mutex_);
    // The space may have gone since its device was authenticated (an unlink in between): then
    // nothing is stored and the upload is refused, not answered as kept.
    Transaction transaction(db_);
    {
        Statement space(*this, "SELECT 1 FROM sync_spaces WHERE id = ?");
        space.text(1, syncSpaceId);
        if (!space.step()) {
            return false; // rolled back: nothing was written
        }
    }
    writeSnapshot(syncSpaceId, snapshotId, body, now);
    if (!readings.empty()) {
        writeUsagePoint(syncSpaceId, deviceId, readings, now);
    }
    transaction.commit();
    return true;
}

bool RelayStore::uploadSnapshot(const std::string& syncSpaceId, const std::string& token,
                                const std::string& deviceId, const std::string& snapshotId,
                                const std::string& body, UnixTime now,
                                const std::string& readings) {
    const std::string tokenHash = hashText(token);
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    {
        Statement query(*this, "SELECT role FROM devices WHERE sync_space_id = ? AND id = ? AND "
                               "token_hash = ?");
        query.text(1, syncSpaceId).text(2, deviceId).blob(3, tokenHash);
        if (!query.step() || query.columnText(0) == "phone") {
            return false; // rolled back: nothing was written
        }
    }
    touchDevice(syncSpaceId, deviceId, now);
    writeSnapshot(syncSpaceId, snapshotId, body, now);
    if (!readings.empty()) {
        writeUsagePoint(syncSpaceId, deviceId, readings, now);
    }
    transaction.commit();
    return true;
}

void RelayStore::touchDevice(const std::string& syncSpaceId, const std::string& deviceId,
                             UnixTime now) {
    // At most one write per device and second.
    Statement(*this, "UPDATE devices SET last_seen_at = ?1 WHERE sync_space_id = ?2 AND id = ?3 "
                     "AND (last_seen_at IS NULL OR last_seen_at <> ?1)")
        .integer(1, now)
        .text(2, syncSpaceId)
        .text(3, deviceId)
        .step();
}

void RelayStore::writeSnapshot(const std::string& syncSpaceId, const std::string& snapshotId,
                               const std::string& body, UnixTime now) {
    Statement(*this, "INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "
                     "VALUES (?, ?, ?, ?) ON CONFLICT (sync_space_id) DO UPDATE SET "
                     "snapshot_id = excluded.snapshot_id, body = excluded.body, "
                     "updated_at = excluded.updated_at")
        .text(1, syncSpaceId)
        .text(2, snapshotId)
        .blob(3, body)
        .integer(4, now)
        .step();
}

void RelayStore::writeUsagePoint(const std::string& syncSpaceId, const std::string& deviceId,
                                 const std::string& readings, UnixTime now) {
    // The first upload of each five minutes is its point: the others of the step write nothing,
    // and only a new point has old ones to drop.
    Statement(*this, "INSERT INTO usage_points (sync_space_id, device_id, bucket, at, readings) "
                     "VALUES (?, ?, ?, ?, ?) ON CONFLICT (sync_space_id, device_id, bucket) DO "
                     "NOTHING")
        .text(1, syncSpaceId)
        .text(2, deviceId)
        .integer(3, usageSeriesBucket(now))
        .integer(4, now)
        .blob(5, readings)
        .step();
    if (sqlite3_changes(db_) == 0) {
        return;
    }
    Statement(*this, "DELETE FROM usage_points WHERE sync_space_id = ? AND device_id = ? AND "
                     "(bucket < ? OR bucket > ?)")
        .text(1, syncSpaceId)
        .text(2, deviceId)
        .integer(3, oldestUsageSeriesBucket(now))
        .integer(4, usageSeriesBucket(now))
        .step();
}

std::vector<UsageSeriesPoint> RelayStore::usageSeries(const std::string& syncSpaceId,
                                                      const std::string& deviceId, UnixTime now) {
    std::lock_guard lock(mutex_);
    Statement query(*this, "SELECT at, readings FROM usage_points WHERE sync_space_id = ? AND "
                           "device_id = ? AND bucket BETWEEN ? AND ? ORDER BY bucket LIMIT ?");
    query.text(1, syncSpaceId)
        .text(2, deviceId)
        .integer(3, oldestUsageSeriesBucket(now))
        .integer(4, usageSeriesBucket(now))
        .integer(5, static_cast<std::int64_t>(kUsageSeriesPoints));
    std::vector<UsageSeriesPoint> points;
    while (query.step()) {
        points.push_back({query.columnInteger(0), query.columnText(1)});
    }
    return points;
}

std::optional<std::string> RelayStore::latestSnapshot(const std::string& syncSpaceId) {
    std::lock_guard lock(mutex_);
    Statement query(*this, "SELECT body FROM snapshots WHERE sync_space_id = ?");
    query.text(1, syncSpaceId);
    if (!query.step()) {
        return std::nullopt;
    }
    return query.columnText(0);
}

std::vector<StoredDevice> RelayStore::devices(const std::string& syncSpaceId) {
    std::lock_guard lock(mutex_);
    Statement query(*this, "SELECT id, name, kind, created_at, last_seen_at FROM devices "
                           "WHERE sync_space_id = ? ORDER BY created_at, rowid");
    query.text(1, syncSpaceId);
    std::vector<StoredDevice> result;
    while (query.step()) {
        StoredDevice device{query.columnText(0), query.columnText(1), query.columnText(2),
                            isoTime(query.columnInteger(3)), std::nullopt};
        if (!query.isNull(4)) {
            device.lastSeenAt = isoTime(query.columnInteger(4));
        }
        result.push_back(std::move(device));
    }
    return result;
}

bool RelayStore::deleteDevice(const std::string& syncSpaceId, const std::string& deviceId) {
    std::lock_guard lock(mutex_);
    DurableWrite durable(db_);
    Transaction transaction(db_);
    Statement(*this, "DELETE FROM devices WHERE sync_space_id = ? AND id = ?")
        .text(1, syncSpaceId)
        .text(2, deviceId)
        .step();
    if (sqlite3_changes(db_) == 0) {
        return false;
    }
    Statement(*this, "DELETE FROM usage_points WHERE sync_space_id = ? AND device_id = ?")
        .text(1, syncSpaceId)
        .text(2, deviceId)
        .step();
    // Once its last device is gone nobody can read the space's snapshot again: it goes too.
    if (!Statement(*this, "SELECT 1 FROM devices WHERE sync_space_id = ? LIMIT 1")
             .text(1, syncSpaceId)
             .step()) {
        Statement(*this, "DELETE FROM snapshots WHERE sync_space_id = ?")
            .text(1, syncSpaceId)
            .step();
        Statement(*this, "DELETE FROM sync_spaces WHERE id = ?").text(1, syncSpaceId).step();
        transaction.commit();
        // Older copies of its pages still sit in the log: rewrite the log to nothing.
        requestCheckpoint(SQLITE_CHECKPOINT_TRUNCATE);
        return true;
    }
    transaction.commit();
    return true;
}

} // namespace korvo::relayserver

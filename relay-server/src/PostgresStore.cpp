#include "PostgresStore.h"

#include "AddressRateLimit.h"
#include "ClaimThrottle.h"
#include "RelayCrypto.h"
#include "UsageSeries.h"

#include <simdjson.h>
#include <stdexcept>

namespace korvo::relayserver {
namespace {

// Keys of the advisory locks: the schema set-up and the expiry sweep (pg_advisory_lock(a, b)).
constexpr int kLockSpace = 0x6b72; // "kr"
constexpr int kSchemaLock = 1;
constexpr int kSweepLock = 2;

constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE sync_spaces (
    id text PRIMARY KEY,
    created_at bigint NOT NULL
);
CREATE TABLE devices (
    sync_space_id text NOT NULL REFERENCES sync_spaces (id) ON DELETE CASCADE,
    id text NOT NULL,
    name text NOT NULL,
    kind text NOT NULL,
    role text NOT NULL CHECK (role IN ('connector', 'phone')),
    token_hash bytea NOT NULL UNIQUE,
    created_at bigint NOT NULL,
    last_seen_at bigint,
    PRIMARY KEY (sync_space_id, id)
);
CREATE TABLE snapshots (
    sync_space_id text PRIMARY KEY REFERENCES sync_spaces (id) ON DELETE CASCADE,
    snapshot_id text NOT NULL,
    body bytea NOT NULL,
    updated_at bigint NOT NULL
);
-- A session keeps its sync space's id after the space is gone: a late poll still answers
-- "paired" (and revokes nothing), so the column has no foreign key.
CREATE TABLE pairing_sessions (
    id text PRIMARY KEY,
    code text NOT NULL,
    secret_hash bytea NOT NULL,
    connector_device_id text NOT NULL,
    connector_device_name text NOT NULL,
    connector_token_hash bytea NOT NULL,
    connector_token_sealed bytea,
    expires_at bigint NOT NULL,
    sync_space_id text
);
CREATE INDEX pairing_sessions_code ON pairing_sessions (code, expires_at);
CREATE INDEX pairing_sessions_expiry ON pairing_sessions (expires_at);
CREATE INDEX pairing_sessions_sealed ON pairing_sessions (expires_at)
    WHERE connector_token_sealed IS NOT NULL;
-- The code of every live session, one row per code: taking a code is inserting it or taking
-- over the row of an expired one.
CREATE TABLE pairing_codes (
    code text PRIMARY KEY,
    expires_at bigint NOT NULL
);
CREATE TABLE claim_attempts (
    id bigserial PRIMARY KEY,
    client text NOT NULL,
    at bigint NOT NULL
);
CREATE INDEX claim_attempts_client ON claim_attempts (client, at);
CREATE INDEX claim_attempts_at ON claim_attempts (at);
CREATE TABLE rate_buckets (
    scope text NOT NULL,
    client text NOT NULL,
    used double precision NOT NULL,
    at bigint NOT NULL,
    PRIMARY KEY (scope, client)
);
CREATE INDEX rate_buckets_at ON rate_buckets (at);

-- A token bucket per scope and client: `burst` uses at once, refilled at `burst` per `window`
-- seconds. Returns 0 when a use was taken, or the whole seconds until one is free.
CREATE FUNCTION korvo_take_allowance(p_scope text, p_client text, p_now bigint,
                                     p_burst double precision, p_window bigint) RETURNS bigint
LANGUAGE plpgsql AS $$
DECLARE
    rate double precision := p_burst / p_window;
    left_over double precision;
BEGIN
    INSERT INTO rate_buckets (scope, client, used, at) VALUES (p_scope, p_client, 0, p_now)
        ON CONFLICT DO NOTHING;
    SELECT greatest(0, used - greatest(0, p_now - at) * rate) INTO left_over FROM rate_buckets
        WHERE scope = p_scope AND client = p_client FOR UPDATE;
    IF left_over + 1 > p_burst THEN
        UPDATE rate_buckets SET used = left_over, at = p_now
            WHERE scope = p_scope AND client = p_client;
        RETURN greatest(1, ceil((left_over + 1 - p_burst) / rate)::bigint);
    END IF;
    UPDATE rate_buckets SET used = left_over + 1, at = p_now
        WHERE scope = p_scope AND client = p_client;
    RETURN 0;
END $$;
)sql";

// Version 3: each connector's usage series, which goes with its device (and so with its space).
constexpr const char* kSchemaV3 = R"sql(
CREATE TABLE usage_points (
    sync_space_id text NOT NULL,
    device_id text NOT NULL,
    bucket bigint NOT NULL,
    at bigint NOT NULL,
    readings bytea NOT NULL,
    PRIMARY KEY (sync_space_id, device_id, bucket),
    FOREIGN KEY (sync_space_id, device_id) REFERENCES devices (sync_space_id, id)
        ON DELETE CASCADE
);
)sql";

// Version 2: claim attempts are limited relay-wide too, by a budget of failures per window.
constexpr const char* kSchemaV2 = R"sql(
DROP FUNCTION IF EXISTS korvo_admit_claim(text, bigint, bigint, bigint, bigint);
-- Counts a claim attempt of `client` unless it is over its own limit or the relay-wide budget:
-- 0, or the seconds to wait. One lock for all clients makes counting and inserting one step
-- across relays; each statement below sees what others committed before it.
CREATE FUNCTION korvo_admit_claim(p_client text, p_now bigint, p_window bigint,
                                  p_per_client bigint, p_budget bigint) RETURNS bigint
LANGUAGE plpgsql AS $$
DECLARE
    mine bigint;
    own_oldest bigint;
    everyone bigint;
    oldest bigint;
BEGIN
    PERFORM pg_advisory_xact_lock(27506, 0);
    SELECT count(*), min(at) INTO mine, own_oldest FROM claim_attempts
        WHERE client = p_client AND at > p_now - p_window;
    IF mine >= p_per_client THEN
        RETURN greatest(1, own_oldest + p_window - p_now);
    END IF;
    SELECT count(*), min(at) INTO everyone, oldest FROM claim_attempts
        WHERE at > p_now - p_window;
    IF everyone >= p_budget THEN
        RETURN greatest(1, coalesce(oldest + p_window - p_now, p_window));
    END IF;
    INSERT INTO claim_attempts (client, at) VALUES (p_client, p_now);
    RETURN 0;
END $$;
)sql";

// Text PostgreSQL can hold: valid UTF-8 without NUL. Other keys match nothing stored.
bool storable(const std::string& text) {
    return text.find('\0') == std::string::npos &&
           simdjson::validate_utf8(text.data(), text.size());
}

void requireStorable(const std::string& text, const char* what) {
    if (!storable(text)) {
        throw std::invalid_argument(std::string(what) + " is not UTF-8 text without NUL");
    }
}

using P = PgParam;

} // namespace

PostgresStore::PostgresStore(const std::string& uri, unsigned poolSize, DatabaseLimits limits,
                             std::function<UnixTime()> clock)
    : limits_(limits), pool_(uri, std::max(1u, poolSize), limits), clock_(std::move(clock)) {
    setRetention(limits.retention);
    createSchema();
    if (clock_) {
        // The first sweep before the relay serves anything, so that nothing swept is answered.
        try {
            sweepExpiredSessions(clock_());
        } catch (const std::exception&) {
            // The next round tries again.
        }
        sweeper_ = std::thread([this] { sweepLoop(); });
    }
}

PostgresStore::~PostgresStore() {
    {
        std::lock_guard lock(sweepMutex_);
        stopping_ = true;
    }
    sweepWake_.notify_all();
    if (sweeper_.joinable()) {
        sweeper_.join();
    }
}

void PostgresStore::createSchema() {
    auto db = pool_.acquire();
    // Relays starting together wait for one another's set-up, however long it takes.
    db->unlimited(true);
    struct Limited {
        PgConnection& db;
        ~Limited() {
            try {
                db.unlimited(false);
            } catch (const std::exception&) {
                // Broken: it is opened again, with its limits, when next lent.
            }
        }
    } limited{*db};
    PgTransaction transaction(*db);
    // Relays starting together set the schema up one after another; the lock ends with the
    // transaction.
    db->run("SELECT pg_advisory_xact_lock($1::int, $2::int)",
            {P::integer(kLockSpace), P::integer(kSchemaLock)});
    // The tables go into the first schema of the search path (options=-csearch_path%3D... in
    // the URI), which is created when it does not exist yet.
    db->execute("DO $$ BEGIN IF current_schema() IS NULL THEN EXECUTE format('CREATE SCHEMA %I', "
                "trim(both '\"' from split_part(current_setting('search_path'), ',', 1))); "
                "END IF; END $$");
    db->execute("CREATE TABLE IF NOT EXISTS korvo_schema (version integer NOT NULL)");
    const auto found = db->run("SELECT coalesce(max(version), 0)::bigint FROM korvo_schema");
    const auto version = found.integer(0, 0);
    if (version > kSchemaVersion) {
        throw std::runtime_error("the database's schema version " + std::to_string(version) +
                                 " is newer than this relay's (" + std::to_string(kSchemaVersion) +
                                 ")");
    }
    if (version < 1) {
        db->execute(kSchemaV1);
    }
    if (version < 2) {
        db->execute(kSchemaV2);
        db->execute("INSERT INTO korvo_schema (version) VALUES (2)");
    }
    if (version < 3) {
        db->execute(kSchemaV3);
        db->execute("INSERT INTO korvo_schema (version) VALUES (3)");
    }
    transaction.commit();
}

void PostgresStore::sweepLoop() {
    std::unique_lock lock(sweepMutex_);
    while (!sweepWake_.wait_for(lock, kSweepInterval, [this] { return stopping_; })) {
        lock.unlock();
        try {
            sweepExpiredSessions(clock_());
        } catch (const std::exception&) {
            // The database is unreachable for now; the next round tries again.
        }
        lock.lock();
    }
}

std::size_t PostgresStore::sweepExpiredSessions(UnixTime now) {
    constexpr int kBatch = 256;
    auto db = pool_.acquire();
    // One relay sweeps at a time; the others find the lock taken and leave it to that one.
    if (!db->run("SELECT pg_try_advisory_lock($1::int, $2::int)",
                 {P::integer(kLockSpace), P::integer(kSweepLock)})
             .boolean(0, 0)) {
        return 0;
    }
    std::size_t removed = 0;
    try {
        for (bool more = true; more;) {
            // In batches found through the expiry indexes, so no request waits long for rows.
            const auto deleted = db->run("DELETE FROM pairing_sessions WHERE id IN (SELECT id "
                                         "FROM pairing_sessions WHERE expires_at <= $1::bigint "
                                         "LIMIT $2::bigint)",
                                         {P::integer(now - 86'400), P::integer(kBatch)})
                                     .changed();
            const auto sealed = db->run("UPDATE pairing_sessions SET connector_token_sealed = "
                                        "NULL WHERE id IN (SELECT id FROM pairing_sessions "
                                        "WHERE expires_at <= $1::bigint AND "
                                        "connector_token_sealed IS NOT NULL LIMIT $2::bigint)",
                                        {P::integer(now), P::integer(kBatch)})
                                    .changed();
            removed += static_cast<std::size_t>(deleted);
            more = deleted == kBatch || sealed == kBatch;
        }
        db->run("DELETE FROM pairing_codes WHERE expires_at <= $1::bigint", {P::integer(now)});
        if (retention() > 0) {
            // Sync spaces none of whose devices was seen within the retention time; their
            // devices and snapshots go with them (cascade).
            db->run("DELETE FROM sync_spaces s WHERE s.created_at <= $1::bigint AND NOT EXISTS "
                    "(SELECT 1 FROM devices d WHERE d.sync_space_id = s.id AND "
                    "coalesce(d.last_seen_at, d.created_at) > $1::bigint)",
                    {P::integer(now - retention())});
        }
        // Attempts and allowances older than any window the relay uses (a minute for claims,
        // ten minutes for pairing sessions) count for nothing: an hour on, they go, so a flood
        // of new clients leaves at most an hour of rows.
        db->run("DELETE FROM claim_attempts WHERE at <= $1::bigint", {P::integer(now - 3600)});
        db->run("DELETE FROM rate_buckets WHERE at <= $1::bigint", {P::integer(now - 3600)});
    } catch (...) {
        db->run("SELECT pg_advisory_unlock($1::int, $2::int)",
                {P::integer(kLockSpace), P::integer(kSweepLock)});
        throw;
    }
    db->run("SELECT pg_advisory_unlock($1::int, $2::int)",
            {P::integer(kLockSpace), P::integer(kSweepLock)});
    return removed;
}

std::optional<CreatedSession> PostgresStore::createSession(const std::string& connectorDeviceId,
                                                           const std::string& connectorDeviceName,
                                                           UnixTime now) {
    requireStorable(connectorDeviceId, "connectorDeviceId");
    requireStorable(connectorDeviceName, "connectorDeviceName");
    CreatedSession session;
    session.id = "ps_" + randomToken();
    session.secret = randomToken();
    session.expiresAt = now + kSessionLifetime;
    const std::string tokenBytes = randomBytes(32);
    auto db = pool_.acquire();
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string code = randomDigits(6);
        const auto made = db->run(
            "WITH taken AS (INSERT INTO pairing_codes (code, expires_at) "
            "VALUES ($1::text, $2::bigint) ON CONFLICT (code) DO UPDATE SET "
            "expires_at = excluded.expires_at WHERE pairing_codes.expires_at <= $3::bigint "
            "RETURNING code) "
            "INSERT INTO pairing_sessions (id, code, secret_hash, connector_device_id, "
            "connector_device_name, connector_token_hash, connector_token_sealed, expires_at) "
            "SELECT $4::text, code, $5::bytea, $6::text, $7::text, $8::bytea, $9::bytea, "
            "$2::bigint FROM taken RETURNING 1::bigint",
            {P::text(code), P::integer(session.expiresAt), P::integer(now), P::text(session.id),
             P::bytes(hashText(session.secret)), P::text(connectorDeviceId),
             P::text(connectorDeviceName), P::bytes(hashText(base64Url(tokenBytes))),
             P::bytes(seal(tokenBytes, session.secret))});
        if (made.rows() == 1) {
            session.code = std::move(code);
            return session;
        }
    }
    return std::nullopt;
}

SessionPoll PostgresStore::pollSession(const std::string& sessionId, const std::string& secret,
                                       UnixTime now) {
    SessionPoll poll;
    if (!storable(sessionId)) {
        return poll;
    }
    constexpr const char* kRead =
        "SELECT secret_hash, connector_device_id, connector_token_sealed, expires_at, "
        "sync_space_id FROM pairing_sessions WHERE id = $1::text";
    constexpr const char* kReadLocked =
        "SELECT secret_hash, connector_device_id, connector_token_sealed, expires_at, "
        "sync_space_id FROM pairing_sessions WHERE id = $1::text FOR UPDATE";
    auto db = pool_.acquire();
    // A pending poll (the common case) reads once; a paired one changes the session, locked.
    const auto classify = [&](const PgResult& row) {
        if (row.rows() == 0) {
            return false;
        }
        if (row.bytes(0, 0) != hashText(secret)) {
            poll.outcome = SessionPoll::Outcome::forbidden;
            return false;
        }
        const bool live = now < row.integer(0, 3);
        if (row.isNull(0, 4)) {
            poll.outcome = live ? SessionPoll::Outcome::pending : SessionPoll::Outcome::expired;
            return false;
        }
        poll.outcome = SessionPoll::Outcome::paired;
        poll.connectorDeviceId = row.bytes(0, 1);
        poll.syncSpaceId = row.bytes(0, 4);
        return true;
    };
    if (!classify(db->run(kRead, {P::text(sessionId)}))) {
        return poll;
    }
    PgTransaction transaction(*db);
    const auto row = db->run(kReadLocked, {P::text(sessionId)});
    if (!classify(row)) {
        return poll;
    }
    if (now < row.integer(0, 3) && !row.isNull(0, 2)) {
        // The first paired poll takes the token; the sealed copy goes with the answer.
        db->run("UPDATE pairing_sessions SET connector_token_sealed = NULL WHERE id = $1::text",
                {P::text(sessionId)});
        poll.connectorDeviceToken = base64Url(seal(row.bytes(0, 2), secret));
    } else {
        // The token was taken already (or the session ran out before anyone took it), so a
        // second party holds the secret. Whoever took the token may be that party: the
        // connector device is revoked and what it uploaded is dropped. The space row is locked
        // first, as for any device removal; a space left without devices goes.
        db->run("SELECT 1 FROM sync_spaces WHERE id = $1::text FOR UPDATE",
                {P::text(poll.syncSpaceId)});
        if (db->run("DELETE FROM devices WHERE sync_space_id = $1::text AND id = $2::text AND "
                    "role = 'connector'",
                    {P::text(poll.syncSpaceId), P::text(poll.connectorDeviceId)})
                .changed() > 0) {
            db->run("DELETE FROM snapshots WHERE sync_space_id = $1::text",
                    {P::text(poll.syncSpaceId)});
            db->run("DELETE FROM sync_spaces WHERE id = $1::text AND NOT EXISTS (SELECT 1 FROM "
                    "devices WHERE sync_space_id = $1::text)",
                    {P::text(poll.syncSpaceId)});
        }
        poll.revoked = true;
    }
    transaction.commit();
    return poll;
}

Claim PostgresStore::claim(const std::string& code, const std::string& phoneDeviceName,
                           UnixTime now) {
    Claim claim;
    if (!storable(code)) {
        return claim;
    }
    requireStorable(phoneDeviceName, "deviceName");
    const std::string space = "ss_" + base64Url(randomBytes(16));
    const std::string phone = "phone_" + base64Url(randomBytes(16));
    const std::string token = randomToken();
    auto db = pool_.acquire();
    // Only the statement that finds the session unclaimed marks it; the space and both devices
    // come from the row it marked, in the same statement.
    const auto made = db->run(
        "WITH won AS (UPDATE pairing_sessions SET sync_space_id = $3::text WHERE code = $1::text "
        "AND expires_at > $2::bigint AND sync_space_id IS NULL RETURNING connector_device_id, "
        "connector_device_name, connector_token_hash), "
        "made AS (INSERT INTO sync_spaces (id, created_at) SELECT $3::text, $2::bigint FROM won "
        "RETURNING id), "
        "added AS (INSERT INTO devices (sync_space_id, id, name, kind, role, token_hash, "
        "created_at) SELECT made.id, connector_device_id, connector_device_name, 'connector', "
        "'connector', connector_token_hash, $2::bigint FROM won, made UNION ALL SELECT "
        "made.id, $4::text, $5::text, 'phone', 'phone', $6::bytea, $2::bigint FROM made "
        "RETURNING 1) "
        "SELECT count(*) FROM added",
        {P::text(code), P::integer(now), P::text(space), P::text(phone), P::text(phoneDeviceName),
         P::bytes(hashText(token))});
    if (made.integer(0, 0) == 2) {
        claim.outcome = Claim::Outcome::claimed;
        claim.syncSpaceId = space;
        claim.phoneDeviceId = phone;
        claim.phoneDeviceToken = token;
        return claim;
    }
    const auto live = db->run("SELECT 1::bigint FROM pairing_sessions WHERE code = $1::text AND "
                              "expires_at > $2::bigint",
                              {P::text(code), P::integer(now)});
    if (live.rows() > 0) {
        claim.outcome = Claim::Outcome::alreadyClaimed;
    }
    return claim;
}

std::optional<AuthenticatedDevice> PostgresStore::authenticate(const std::string& syncSpaceId,
                                                               const std::string& token,
                                                               UnixTime now) {
    if (!storable(syncSpaceId)) {
        return std::nullopt;
    }
    auto db = pool_.acquire();
    // At most one write per device and second.
    const auto found =
        db->run("WITH device AS (SELECT id, role, last_seen_at FROM devices WHERE sync_space_id = "
                "$1::text AND token_hash = $2::bytea), "
                "seen AS (UPDATE devices SET last_seen_at = $3::bigint FROM device WHERE "
                "devices.sync_space_id = $1::text AND devices.id = device.id AND "
                "device.last_seen_at IS DISTINCT FROM $3::bigint) "
                "SELECT id, role FROM device",
                {P::text(syncSpaceId), P::bytes(hashText(token)), P::integer(now)});
    if (found.rows() == 0) {
        return std::nullopt;
    }
    return AuthenticatedDevice{found.bytes(0, 0), found.bytes(0, 1) == "phone"
                                                      ? DeviceRole::phone
                                                      : DeviceRole::connector};
}

bool PostgresStore::putSnapshot(const std::string& syncSpaceId, const std::string& snapshotId,
                                const std::string& body, UnixTime now, const std::string& deviceId,
                                const std::string& readings) {
    requireStorable(snapshotId, "snapshotId");
    auto db = pool_.acquire();
    // Both forms are one statement; the first also turns synchronous_commit off for its own
    // transaction (set_config(..., true) is SET LOCAL), so its commit does not wait for a flush.
    constexpr const char* kAsync =
        "INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "
        "SELECT $1::text, $2::text, $3::bytea, $4::bigint FROM (SELECT set_config("
        "'synchronous_commit', 'off', true)) AS async WHERE EXISTS (SELECT 1 "
        "FROM sync_spaces WHERE id = $1::text) ON CONFLICT (sync_space_id) DO "
        "UPDATE SET snapshot_id = excluded.snapshot_id, body = excluded.body, "
        "updated_at = excluded.updated_at RETURNING 1::bigint";
    constexpr const char* kSync =
        "INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "
        "SELECT $1::text, $2::text, $3::bytea, $4::bigint WHERE EXISTS (SELECT 1 "
        "FROM sync_spaces WHERE id = $1::text) ON CONFLICT (sync_space_id) DO "
        "UPDATE SET snapshot_id = excluded.snapshot_id, body = excluded.body, "
        "updated_at = excluded.updated_at RETURNING 1::bigint";
    if (readings.empty() || !storable(deviceId)) {
        return db->run(limits_.asyncSnapshotCommit ? kAsync : kSync,
                       {P::text(syncSpaceId), P::text(snapshotId), P::bytes(body), P::integer(now)})
                   .rows() == 1;
    }
    // The same with the device's usage point written (the first of its five minutes, while the
    // device is there), and with a new point the old ones dropped, in the same statement.
#define KORVO_SERIES_TAIL                                                                          \
    " RETURNING 1::bigint), point AS (INSERT INTO usage_points (sync_space_id, device_id, "        \
    "bucket, at, readings) SELECT sync_space_id, id, $6::bigint, $4::bigint, $7::bytea FROM "      \
    "devices WHERE sync_space_id = $1::text AND id = $5::text AND EXISTS (SELECT 1 FROM "          \
    "snapshot) ON CONFLICT (sync_space_id, device_id, bucket) DO NOTHING RETURNING 1), "           \
    "pruned AS (DELETE FROM usage_points WHERE sync_space_id = $1::text AND device_id = "          \
    "$5::text AND (bucket < $8::bigint OR bucket > $6::bigint) AND EXISTS (SELECT 1 FROM point)) " \
    "SELECT * FROM snapshot"
    constexpr const char* kSeriesAsync =
        "WITH snapshot AS (INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "
        "SELECT $1::text, $2::text, $3::bytea, $4::bigint FROM (SELECT set_config("
        "'synchronous_commit', 'off', true)) AS async WHERE EXISTS (SELECT 1 "
        "FROM sync_spaces WHERE id = $1::text) ON CONFLICT (sync_space_id) DO "
        "UPDATE SET snapshot_id = excluded.snapshot_id, body = excluded.body, "
        "updated_at = excluded.updated_at" KORVO_SERIES_TAIL;
    constexpr const char* kSeriesSync =
        "WITH snapshot AS (INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "
        "SELECT $1::text, $2::text, $3::bytea, $4::bigint WHERE EXISTS (SELECT 1 "
        "FROM sync_spaces WHERE id = $1::text) ON CONFLICT (sync_space_id) DO "
        "UPDATE SET snapshot_id = excluded.snapshot_id, body = excluded.body, "
        "updated_at = excluded.updated_at" KORVO_SERIES_TAIL;
#undef KORVO_SERIES_TAIL
    return db->run(limits_.asyncSnapshotCommit ? kSeriesAsync : kSeriesSync,
                   {P::text(syncSpaceId), P::text(snapshotId), P::bytes(body), P::integer(now),
                    P::text(deviceId), P::integer(usageSeriesBucket(now)), P::bytes(readings),
                    P::integer(oldestUsageSeriesBucket(now))})
               .rows() == 1;
}

bool PostgresStore::uploadSnapshot(const std::string& syncSpaceId, const std::string& token,
                                   const std::string& deviceId, const std::string& snapshotId,
                                   const std::string& body, UnixTime now,
                                   const std::string& readings) {
    if (!storable(syncSpaceId) || !storable(deviceId) || !storable(snapshotId)) {
        return false;
    }
    auto db = pool_.acquire();
    // The device row, updated first, stays locked until the snapshot is in: the device (and
    // with it the space) cannot be removed in between.
    // As putSnapshot(): the first form commits without waiting for the flush.
    constexpr const char* kAsync =
        "WITH device AS (UPDATE devices SET last_seen_at = $5::bigint WHERE "
        "sync_space_id = $1::text AND token_hash = $2::bytea AND id = $3::text AND "
        "role = 'connector' RETURNING sync_space_id) "
        "INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "
        "SELECT sync_space_id, $4::text, $6::bytea, $5::bigint FROM device, (SELECT "
        "set_config('synchronous_commit', 'off', true)) AS async "
        "ON CONFLICT (sync_space_id) DO UPDATE SET snapshot_id = "
        "excluded.snapshot_id, body = excluded.body, updated_at = "
        "excluded.updated_at RETURNING 1::bigint";
    constexpr const char* kSync =
        "WITH device AS (UPDATE devices SET last_seen_at = $5::bigint WHERE "
        "sync_space_id = $1::text AND token_hash = $2::bytea AND id = $3::text AND "
        "role = 'connector' RETURNING sync_space_id) "
        "INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "
        "SELECT sync_space_id, $4::text, $6::bytea, $5::bigint FROM device "
        "ON CONFLICT (sync_space_id) DO UPDATE SET snapshot_id = "
        "excluded.snapshot_id, body = excluded.body, updated_at = "
        "excluded.updated_at RETURNING 1::bigint";
    if (readings.empty()) {
        return db->run(limits_.asyncSnapshotCommit ? kAsync : kSync,
                       {P::text(syncSpaceId), P::bytes(hashText(token)), P::text(deviceId),
                        P::text(snapshotId), P::integer(now), P::bytes(body)})
                   .rows() == 1;
    }
    // The same with the device's usage point written (the first of its five minutes), and with
    // a new point the old ones dropped: still one statement, so one round trip and one commit.
#define KORVO_SERIES_UPLOAD(ASYNC)                                                                 \
    "WITH device AS (UPDATE devices SET last_seen_at = $5::bigint WHERE "                          \
    "sync_space_id = $1::text AND token_hash = $2::bytea AND id = $3::text AND "                   \
    "role = 'connector' RETURNING sync_space_id, id), "                                            \
    "snapshot AS (INSERT INTO snapshots (sync_space_id, snapshot_id, body, updated_at) "           \
    "SELECT sync_space_id, $4::text, $6::bytea, $5::bigint FROM device" ASYNC                      \
    " ON CONFLICT (sync_space_id) DO UPDATE SET snapshot_id = "                                    \
    "excluded.snapshot_id, body = excluded.body, updated_at = "                                    \
    "excluded.updated_at RETURNING 1::bigint), "                                                   \
    "point AS (INSERT INTO usage_points (sync_space_id, device_id, bucket, at, readings) "         \
    "SELECT sync_space_id, id, $7::bigint, $5::bigint, $8::bytea FROM device ON CONFLICT "         \
    "(sync_space_id, device_id, bucket) DO NOTHING RETURNING 1), "                                 \
    "pruned AS (DELETE FROM usage_points p USING device d WHERE p.sync_space_id = "                \
    "d.sync_space_id AND p.device_id = d.id AND (p.bucket < $9::bigint OR p.bucket > "             \
    "$7::bigint) AND EXISTS (SELECT 1 FROM point)) SELECT * FROM snapshot"
    constexpr const char* kSeriesAsync =
        KORVO_SERIES_UPLOAD(", (SELECT set_config('synchronous_commit', 'off', true)) AS async");
    constexpr const char* kSeriesSync = KORVO_SERIES_UPLOAD("");
#undef KORVO_SERIES_UPLOAD
    return db->run(limits_.asyncSnapshotCommit ? kSeriesAsync : kSeriesSync,
                   {P::text(syncSpaceId), P::bytes(hashText(token)), P::text(deviceId),
                    P::text(snapshotId), P::integer(now), P::bytes(body),
                    P::integer(usageSeriesBucket(now)), P::bytes(readings),
                    P::integer(oldestUsageSeriesBucket(now))})
               .rows() == 1;
}

std::vector<UsageSeriesPoint> PostgresStore::usageSeries(const std::string& syncSpaceId,
                                                         const std::string& deviceId,
                                                         UnixTime now) {
    std::vector<UsageSeriesPoint> points;
    if (!storable(syncSpaceId) || !storable(deviceId)) {
        return points;
    }
    auto db = pool_.acquire();
    const auto found = db->run(
        "SELECT at, readings FROM usage_points WHERE sync_space_id = $1::text AND device_id = "
        "$2::text AND bucket BETWEEN $3::bigint AND $4::bigint ORDER BY bucket LIMIT $5::bigint",
        {P::text(syncSpaceId), P::text(deviceId), P::integer(oldestUsageSeriesBucket(now)),
         P::integer(usageSeriesBucket(now)),
         P::integer(static_cast<std::int64_t>(kUsageSeriesPoints))});
    points.reserve(static_cast<std::size_t>(found.rows()));
    for (int row = 0; row < found.rows(); ++row) {
        points.push_back({found.integer(row, 0), found.bytes(row, 1)});
    }
    return points;
}

std::optional<std::string> PostgresStore::latestSnapshot(const std::string& syncSpaceId) {
    if (!storable(syncSpaceId)) {
        return std::nullopt;
    }
    auto db = pool_.acquire();
    const auto found = db->run("SELECT body FROM snapshots WHERE sync_space_id = $1::text",
                               {P::text(syncSpaceId)});
    if (found.rows() == 0) {
        return std::nullopt;
    }
    return found.bytes(0, 0);
}

std::vector<StoredDevice> PostgresStore::devices(const std::string& syncSpaceId) {
    std::vector<StoredDevice> result;
    if (!storable(syncSpaceId)) {
        return result;
    }
    auto db = pool_.acquire();
    // The connector was added first, with the phone, at the same second.
    const auto found = db->run("SELECT id, name, kind, created_at, last_seen_at FROM devices "
                               "WHERE sync_space_id = $1::text ORDER BY created_at, role, id",
                               {P::text(syncSpaceId)});
    for (int row = 0; row < found.rows(); ++row) {
        StoredDevice device{found.bytes(row, 0), found.bytes(row, 1), found.bytes(row, 2),
                            isoTime(found.integer(row, 3)), std::nullopt};
        if (!found.isNull(row, 4)) {
            device.lastSeenAt = isoTime(found.integer(row, 4));
        }
        result.push_back(std::move(device));
    }
    return result;
}

bool PostgresStore::deleteDevice(const std::string& syncSpaceId, const std::string& deviceId) {
    if (!storable(syncSpaceId) || !storable(deviceId)) {
        return false;
    }
    auto db = pool_.acquire();
    PgTransaction transaction(*db);
    // The space row first: removals in the same space, from any relay, go one at a time, so
    // the one that takes the last device sees that it is the last.
    if (db->run("SELECT 1::bigint FROM sync_spaces WHERE id = $1::text FOR UPDATE",
                {P::text(syncSpaceId)})
            .rows() == 0) {
        return false;
    }
    if (db->run("DELETE FROM devices WHERE sync_space_id = $1::text AND id = $2::text",
                {P::text(syncSpaceId), P::text(deviceId)})
            .changed() == 0) {
        return false;
    }
    // Once its last device is gone nobody can read the space's snapshot again: the space goes,
    // its snapshot with it (cascade).
    db->run("DELETE FROM sync_spaces WHERE id = $1::text AND NOT EXISTS (SELECT 1 FROM devices "
            "WHERE sync_space_id = $1::text)",
            {P::text(syncSpaceId)});
    transaction.commit();
    return true;
}

void PostgresStore::checkpointNow() {}

void PostgresStore::checkReady() {
    auto db = pool_.acquire();
    db->run("SELECT 1::bigint");
}

std::size_t PostgresStore::liveSessions(UnixTime now) {
    auto db = pool_.acquire();
    return static_cast<std::size_t>(
        db->run("SELECT count(*)::bigint FROM pairing_sessions WHERE expires_at > $1::bigint AND "
                "sync_space_id IS NULL",
                {P::integer(now)})
            .integer(0, 0));
}

UnixTime PostgresStore::admitClaim(const std::string& client, const ClaimLimits& limits,
                                   std::size_t liveSessions, UnixTime now) {
    auto db = pool_.acquire();
    return db
        ->run("SELECT korvo_admit_claim($1::text, $2::bigint, $3::bigint, $4::bigint, "
              "$5::bigint)",
              {P::text(client), P::integer(now), P::integer(limits.window),
               P::integer(static_cast<std::int64_t>(limits.perClient)),
               P::integer(static_cast<std::int64_t>(limits.failureBudget(liveSessions)))})
        .integer(0, 0);
}

void PostgresStore::claimSucceeded(const std::string& client) {
    auto db = pool_.acquire();
    db->run("DELETE FROM claim_attempts WHERE id = (SELECT max(id) FROM claim_attempts WHERE "
            "client = $1::text)",
            {P::text(client)});
}

UnixTime PostgresStore::takeAllowance(const std::string& scope, const std::string& client,
                                      const RateLimits& limits, UnixTime now) {
    auto db = pool_.acquire();
    return db
        ->run("SELECT korvo_take_allowance($1::text, $2::text, $3::bigint, "
              "$4::double precision, $5::bigint)",
              {P::text(scope), P::text(client), P::integer(now), P::integer(limits.burst),
               P::integer(limits.window)})
        .integer(0, 0);
}

} // namespace korvo::relayserver

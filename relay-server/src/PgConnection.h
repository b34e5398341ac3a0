#pragma once

#include "RelayStorage.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>

struct pg_conn;
struct pg_result;

namespace korvo::relayserver {

// One statement parameter: text, raw bytes (bytea) or a whole number.
struct PgParam {
    std::string value;
    bool binary = false;

    static PgParam text(std::string value) { return {std::move(value), false}; }
    static PgParam bytes(std::string value) { return {std::move(value), true}; }
    static PgParam integer(std::int64_t value) { return {std::to_string(value), false}; }
};

// The rows of one statement's answer, every column in binary form.
class PgResult {
public:
    explicit PgResult(pg_result* result) : result_(result) {}
    ~PgResult();
    PgResult(PgResult&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;
    PgResult& operator=(PgResult&&) = delete;

    int rows() const;
    bool isNull(int row, int column) const;
    // A text or bytea column as it is.
    std::string bytes(int row, int column) const;
    // A bigint column.
    std::int64_t integer(int row, int column) const;
    bool boolean(int row, int column) const;
    // Rows changed by an INSERT, UPDATE or DELETE without RETURNING.
    std::int64_t changed() const;

private:
    pg_result* result_;
};

// A libpq connection that prepares each statement once and reconnects after the server went
// away. Every statement runs within the limits: the server cancels one that runs past the
// statement timeout or waits for a lock past the lock timeout, and the connection itself gives
// up on an answer a second after that (a COMMIT waiting for a missing standby, a server that
// stopped answering): it is then closed and opened again on next use. Those failures, and a
// connection that cannot be opened, throw StorageUnavailable; other errors std::runtime_error
// with the server's message (for the log, never for a client). Not thread-safe: one user at a
// time (see PgConnectionPool).
class PgConnection {
public:
    // Connects; throws StorageUnavailable when that fails.
    explicit PgConnection(const std::string& uri, DatabaseLimits limits = {});
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs the statement `sql` (a string literal: its address names the prepared statement)
    // with `params` ($1, $2, ...). A statement that fails because the connection turned out to
    // be broken before anything was sent, or a read (SELECT) outside a transaction, is run once
    // more on a new connection.
    PgResult run(const char* sql, std::initializer_list<PgParam> params = {});
    // Runs one or more statements without parameters.
    void execute(std::string_view sql);
    // Reconnects when the connection was lost, also when the server closed it while it was
    // idle (a restart); throws StorageUnavailable when it cannot.
    void repairIfBroken();
    // Lifts the time limits (true) or restores them (false), for the schema set-up at start.
    void unlimited(bool on);
    bool inTransaction() const { return inTransaction_; }
    void setInTransaction(bool on) { inTransaction_ = on; }

private:
    // Sends and waits within the client deadline; the result, or nullptr after a failure
    // (then `sent` tells whether the request reached the socket).
    pg_result* exchange(const std::function<int()>& send, bool& sent);
    void applyLimits();
    [[noreturn]] void fail(std::string_view sql, pg_result* result);

    std::string uri_;
    DatabaseLimits limits_;
    pg_conn* conn_ = nullptr;
    bool broken_ = false;
    bool unlimited_ = false;
    bool inTransaction_ = false;
    bool timedOut_ = false;
    std::unordered_set<const char*> prepared_;
};

// BEGIN ... COMMIT on a connection, rolled back when the scope is left without commit().
class PgTransaction {
public:
    explicit PgTransaction(PgConnection& connection) : connection_(connection) {
        connection_.execute("BEGIN");
        connection_.setInTransaction(true);
    }
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void commit() {
        done_ = true;
        connection_.setInTransaction(false);
        connection_.execute("COMMIT");
    }

private:
    PgConnection& connection_;
    bool done_ = false;
};

} // namespace korvo::relayserver

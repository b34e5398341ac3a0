#pragma once

#include <cstdint>
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
// away. Not thread-safe: one user at a time (see PgConnectionPool).
class PgConnection {
public:
    // Connects; throws std::runtime_error when that fails.
    explicit PgConnection(const std::string& uri);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs the statement `sql` (a string literal: its address names the prepared statement)
    // with `params` ($1, $2, ...); throws std::runtime_error with the server's message on error.
    PgResult run(const char* sql, std::initializer_list<PgParam> params = {});
    // Runs one or more statements without parameters.
    void execute(std::string_view sql);
    // Reconnects when the connection was lost.
    void repairIfBroken();

private:
    [[noreturn]] void repairOrFail(std::string_view sql);

    pg_conn* conn_ = nullptr;
    std::unordered_set<const char*> prepared_;
};

// BEGIN ... COMMIT on a connection, rolled back when the scope is left without commit().
class PgTransaction {
public:
    explicit PgTransaction(PgConnection& connection) : connection_(connection) {
        connection_.execute("BEGIN");
    }
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void commit() {
        done_ = true;
        connection_.execute("COMMIT");
    }

private:
    PgConnection& connection_;
    bool done_ = false;
};

} // namespace korvo::relayserver

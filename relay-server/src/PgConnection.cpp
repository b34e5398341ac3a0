#include "PgConnection.h"

#include <cerrno>
#include <cstring>
#include <endian.h>
#include <functional>
#include <libpq-fe.h>
#include <poll.h>
#include <stdexcept>
#include <vector>

namespace korvo::relayserver {

PgResult::~PgResult() {
    PQclear(result_);
}

int PgResult::rows() const {
    return PQntuples(result_);
}

bool PgResult::isNull(int row, int column) const {
    return PQgetisnull(result_, row, column) != 0;
}

std::string PgResult::bytes(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column),
                       static_cast<std::size_t>(PQgetlength(result_, row, column)));
}

std::int64_t PgResult::integer(int row, int column) const {
    std::uint64_t big = 0;
    if (PQgetlength(result_, row, column) != sizeof big) {
        throw std::runtime_error("PostgreSQL answered a column that is not a bigint");
    }
    std::memcpy(&big, PQgetvalue(result_, row, column), sizeof big);
    return static_cast<std::int64_t>(be64toh(big));
}

bool PgResult::boolean(int row, int column) const {
    return PQgetlength(result_, row, column) == 1 && PQgetvalue(result_, row, column)[0] != 0;
}

std::int64_t PgResult::changed() const {
    const char* count = PQcmdTuples(result_);
    return count[0] == '\0' ? 0 : std::strtoll(count, nullptr, 10);
}

namespace {

using Clock = std::chrono::steady_clock;

bool succeeded(const PGresult* result) {
    const auto status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// SQLSTATEs that mean "not now" rather than "wrong": a statement cancelled by its time limit
// (57014), a lock not had in time (55P03), a deadlock or serialization failure (40P01, 40001),
// too many connections (53300), the server shutting down or gone (57P01..57P05) and every
// connection exception (08...).
bool transient(const char* state) {
    if (state == nullptr) {
        return false;
    }
    const std::string_view code(state);
    return code == "57014" || code == "55P03" || code == "40P01" || code == "40001" ||
           code == "53300" || code.starts_with("57P") || code.starts_with("08");
}

// A statement that only reads, safe to run again after a lost connection.
bool onlyReads(std::string_view sql) {
    return sql.starts_with("SELECT ") && sql.find("korvo_") == std::string_view::npos &&
           sql.find("pg_") == std::string_view::npos &&
           sql.find("FOR UPDATE") == std::string_view::npos;
}

std::string trimmed(std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

} // namespace

PgConnection::PgConnection(const std::string& uri, DatabaseLimits limits)
    : uri_(uri), limits_(limits) {
    const std::string seconds =
        std::to_string(std::max<long long>(1, (limits_.connectTimeout.count() + 999) / 1000));
    const char* keys[] = {"dbname", "connect_timeout", nullptr};
    const char* values[] = {uri.c_str(), seconds.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string message =
            conn_ != nullptr ? trimmed(PQerrorMessage(conn_)) : "out of memory";
        PQfinish(conn_);
        conn_ = nullptr;
        throw StorageUnavailable("cannot connect to PostgreSQL: " + message);
    }
    PQsetnonblocking(conn_, 1);
    applyLimits();
}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

void PgConnection::applyLimits() {
    const auto ms = [](std::chrono::milliseconds d) { return std::to_string(d.count()); };
    // Notices (such as "relation already exists, skipping") are not for the relay's log. A
    // transaction left open (a relay that stopped mid-way) is ended by the server.
    const std::chrono::milliseconds zero{0};
    execute("SET client_min_messages = warning; SET statement_timeout = " +
            ms(unlimited_ ? zero : limits_.statementTimeout) +
            "; SET lock_timeout = " + ms(unlimited_ ? zero : limits_.lockTimeout) +
            "; SET idle_in_transaction_session_timeout = " +
            ms(unlimited_ ? zero : 2 * limits_.statementTimeout + std::chrono::seconds(1)));
}

void PgConnection::unlimited(bool on) {
    unlimited_ = on;
    applyLimits();
}

void PgConnection::repairIfBroken() {
    if (!broken_ && PQstatus(conn_) == CONNECTION_OK) {
        // Between statements the server sends nothing unless it is closing the connection (a
        // restart, a crash, an administrator): then the socket reads and the connection is
        // replaced before it fails a request.
        pollfd idle{PQsocket(conn_), POLLIN, 0};
        if (::poll(&idle, 1, 0) <= 0) {
            return;
        }
    }
    PQreset(conn_);
    prepared_.clear();
    inTransaction_ = false;
    if (PQstatus(conn_) != CONNECTION_OK) {
        broken_ = true;
        throw StorageUnavailable("cannot reconnect to PostgreSQL: " +
                                 trimmed(PQerrorMessage(conn_)));
    }
    broken_ = false;
    PQsetnonblocking(conn_, 1);
    applyLimits();
}

pg_result* PgConnection::exchange(const std::function<int()>& send, bool& sent) {
    sent = false;
    if (broken_ || PQstatus(conn_) != CONNECTION_OK) {
        broken_ = true;
        return nullptr;
    }
    const auto deadline = Clock::now() + limits_.statementTimeout + std::chrono::seconds(1);
    // Waits for `events` on the socket until the deadline; false when it passed.
    const auto await = [&](short events) {
        pollfd p{PQsocket(conn_), events, 0};
        while (true) {
            int wait = -1;
            if (!unlimited_) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                wait = static_cast<int>(std::max<long long>(0, left.count()));
            }
            const int ready = ::poll(&p, 1, wait);
            if (ready > 0) {
                return true;
            }
            if (ready == 0 || errno != EINTR) {
                return false;
            }
        }
    };
    const auto giveUp = [&] {
        broken_ = true;
        timedOut_ = true;
        return nullptr;
    };
    if (send() == 0) {
        broken_ = PQstatus(conn_) != CONNECTION_OK;
        return nullptr;
    }
    sent = true;
    for (int left = PQflush(conn_); left != 0; left = PQflush(conn_)) {
        if (left < 0) {
            broken_ = true;
            return nullptr;
        }
        if (!await(POLLOUT | POLLIN)) {
            return giveUp();
        }
        if (PQconsumeInput(conn_) == 0) {
            broken_ = true;
            return nullptr;
        }
    }
    // Every result of the request: the first that failed, else the last.
    pg_result* kept = nullptr;
    while (true) {
        while (PQisBusy(conn_) != 0) {
            if (!await(POLLIN)) {
                PQclear(kept);
                return giveUp();
            }
            if (PQconsumeInput(conn_) == 0) {
                broken_ = true;
                PQclear(kept);
                return nullptr;
            }
        }
        pg_result* result = PQgetResult(conn_);
        if (result == nullptr) {
            return kept;
        }
        if (kept != nullptr && !succeeded(kept)) {
            PQclear(result);
        } else {
            PQclear(kept);
            kept = result;
        }
    }
}

void PgConnection::execute(std::string_view sql) {
    const std::string text(sql);
    bool sent = false;
    timedOut_ = false;
    pg_result* result = exchange([&] { return PQsendQuery(conn_, text.c_str()); }, sent);
    if (result == nullptr || !succeeded(result)) {
        fail(text, result);
    }
    PQclear(result);
}

PgResult PgConnection::run(const char* sql, std::initializer_list<PgParam> params) {
    const std::string name = "k" + std::to_string(reinterpret_cast<std::uintptr_t>(sql));
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const auto& param : params) {
        values.push_back(param.value.data());
        lengths.push_back(static_cast<int>(param.value.size()));
        formats.push_back(param.binary ? 1 : 0);
    }
    for (int attempt = 0;; ++attempt) {
        bool sent = false;
        timedOut_ = false;
        pg_result* result = nullptr;
        bool prepared = prepared_.contains(sql);
        if (!prepared) {
            result =
                exchange([&] { return PQsendPrepare(conn_, name.c_str(), sql, 0, nullptr); }, sent);
            prepared = result != nullptr && succeeded(result);
            if (prepared) {
                prepared_.insert(sql);
                PQclear(result);
                result = nullptr;
                sent = false; // preparing changes nothing
            }
        }
        if (prepared) {
            result = exchange(
                [&] {
                    return PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(values.size()),
                                               values.data(), lengths.data(), formats.data(), 1);
                },
                sent);
        }
        if (result != nullptr && succeeded(result)) {
            return PgResult(result);
        }
        // A connection found broken is replaced and the statement run once more, when that
        // cannot apply a change twice: nothing was sent, or it only reads.
        const bool lost = broken_ || PQstatus(conn_) != CONNECTION_OK;
        if (attempt > 0 || !lost || timedOut_ || inTransaction_ || (sent && !onlyReads(sql))) {
            fail(sql, result);
        }
        PQclear(result);
        repairIfBroken();
    }
}

void PgConnection::fail(std::string_view sql, pg_result* result) {
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    std::string message = result != nullptr ? PQresultErrorMessage(result) : "";
    if (message.empty()) {
        message = PQerrorMessage(conn_);
    }
    const bool unavailable =
        timedOut_ || broken_ || PQstatus(conn_) != CONNECTION_OK || transient(state);
    PQclear(result);
    if (PQstatus(conn_) != CONNECTION_OK) {
        broken_ = true;
    }
    if (timedOut_) {
        message = "no answer within " +
                  std::to_string((limits_.statementTimeout + std::chrono::seconds(1)).count()) +
                  " ms; connection closed";
    }
    const auto firstLine = sql.substr(0, sql.find('\n'));
    const std::string text =
        "PostgreSQL: " + trimmed(message) + " (in " + std::string(firstLine.substr(0, 60)) + ")";
    if (unavailable) {
        throw StorageUnavailable(text);
    }
    throw std::runtime_error(text);
}

PgTransaction::~PgTransaction() {
    connection_.setInTransaction(false);
    if (!done_) {
        try {
            connection_.execute("ROLLBACK");
        } catch (const std::exception&) {
            // The connection is gone or was reset: nothing of the transaction stays.
        }
    }
}

} // namespace korvo::relayserver

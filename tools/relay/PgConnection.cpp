#include "PgConnection.h"

#include <cstring>
#include <endian.h>
#include <libpq-fe.h>
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

PgConnection::PgConnection(const std::string& uri) : conn_(PQconnectdb(uri.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string message = conn_ != nullptr ? PQerrorMessage(conn_) : "out of memory";
        PQfinish(conn_);
        conn_ = nullptr;
        throw std::runtime_error("cannot connect to PostgreSQL: " + message);
    }
    // Notices (such as "relation already exists, skipping") are not for the relay's log.
    execute("SET client_min_messages = warning");
}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

void PgConnection::repairIfBroken() {
    if (PQstatus(conn_) != CONNECTION_OK) {
        PQreset(conn_);
        prepared_.clear();
    }
}

namespace {

bool succeeded(const PGresult* result) {
    const auto status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

} // namespace

void PgConnection::execute(std::string_view sql) {
    const std::string text(sql);
    PGresult* result = PQexec(conn_, text.c_str());
    const bool ok = succeeded(result);
    PQclear(result);
    if (!ok) {
        repairOrFail(text);
    }
}

PgResult PgConnection::run(const char* sql, std::initializer_list<PgParam> params) {
    const std::string name = "k" + std::to_string(reinterpret_cast<std::uintptr_t>(sql));
    if (!prepared_.contains(sql)) {
        PGresult* prepared = PQprepare(conn_, name.c_str(), sql, 0, nullptr);
        const bool ok = succeeded(prepared);
        PQclear(prepared);
        if (!ok) {
            repairOrFail(sql);
        }
        prepared_.insert(sql);
    }
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const auto& param : params) {
        values.push_back(param.value.data());
        lengths.push_back(static_cast<int>(param.value.size()));
        formats.push_back(param.binary ? 1 : 0);
    }
    PGresult* result = PQexecPrepared(conn_, name.c_str(), static_cast<int>(values.size()),
                                      values.data(), lengths.data(), formats.data(), 1);
    if (!succeeded(result)) {
        PQclear(result);
        repairOrFail(sql);
    }
    return PgResult(result);
}

void PgConnection::repairOrFail(std::string_view sql) {
    std::string message = PQerrorMessage(conn_);
    while (!message.empty() && message.back() == '\n') {
        message.pop_back();
    }
    repairIfBroken();
    const auto firstLine = sql.substr(0, sql.find('\n'));
    throw std::runtime_error("PostgreSQL: " + message + " (in " +
                             std::string(firstLine.substr(0, 60)) + ")");
}

PgTransaction::~PgTransaction() {
    if (!done_) {
        try {
            connection_.execute("ROLLBACK");
        } catch (const std::exception&) {
            // The connection is gone or was reset: nothing of the transaction stays.
        }
    }
}

} // namespace korvo::relayserver

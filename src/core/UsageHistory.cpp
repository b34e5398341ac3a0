#include "core/UsageHistory.h"

#include "core/LogCategories.h"
#include "model/DisplayText.h"

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {

namespace {

constexpr std::int64_t kPageSize = 4096;

const char* const kSchema = R"(
CREATE TABLE IF NOT EXISTS series(
    id INTEGER PRIMARY KEY,
    tool TEXT NOT NULL,
    window TEXT NOT NULL,
    reset_at INTEGER,
    started INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS series_by_tool ON series(tool, window, started);
CREATE TABLE IF NOT EXISTS point(
    series INTEGER NOT NULL,
    minute INTEGER NOT NULL,
    at INTEGER NOT NULL,
    used REAL,
    input REAL,
    output REAL,
    cached REAL,
    cost REAL,
    PRIMARY KEY(series, minute)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS point_by_time ON point(at);
)";

std::int64_t secondsOf(Instant at) {
    return unixSecondsTruncated(at);
}

// Two readings of the same window further apart than this in their reset time belong to two
// windows; closer ones are the jitter of a reset computed from "resets in N seconds".
constexpr std::int64_t kResetJitterSeconds = 180;

} // namespace

// A prepared statement, finalized when it goes out of scope.
class UsageHistory::Statement {
public:
    Statement(UsageHistory& owner, const char* sql) : owner_(owner) {
        status_ = sqlite3_prepare_v2(owner.db_, sql, -1, &stmt_, nullptr);
        if (status_ != SQLITE_OK) {
            owner_.lastError_ = sqlite3_extended_errcode(owner.db_);
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int status() const { return status_; }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
    void bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, const std::optional<double>& value) {
        if (value && std::isfinite(*value)) {
            sqlite3_bind_double(stmt_, index, *value);
        } else {
            sqlite3_bind_null(stmt_, index);
        }
    }
    void bindNull(int index) { sqlite3_bind_null(stmt_, index); }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() {
        if (status_ != SQLITE_OK) {
            return status_;
        }
        const int result = sqlite3_step(stmt_);
        if (result != SQLITE_ROW && result != SQLITE_DONE) {
            status_ = result;
            owner_.lastError_ = sqlite3_extended_errcode(owner_.db_);
        }
        return result;
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::optional<std::int64_t> optionalInteger(int column) const {
        if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) {
            return std::nullopt;
        }
        return sqlite3_column_int64(stmt_, column);
    }
    std::optional<double> real(int column) const {
        if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) {
            return std::nullopt;
        }
        return sqlite3_column_double(stmt_, column);
    }
    std::string text(int column) const {
        const auto* bytes = sqlite3_column_text(stmt_, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes),
                                   std::size_t(sqlite3_column_bytes(stmt_, column)))
                     : std::string();
    }

private:
    UsageHistory& owner_;
    sqlite3_stmt* stmt_ = nullptr;
    int status_ = SQLITE_OK;
};

UsageHistory::UsageHistory(std::filesystem::path file) : UsageHistory(std::move(file), Limits{}) {}

UsageHistory::UsageHistory(std::filesystem::path file, Limits limits)
    : file_(std::move(file)), limits_(limits) {}

UsageHistory::~UsageHistory() {
    close();
}

std::filesystem::path UsageHistory::defaultFile() {
    std::filesystem::path folder;
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && *dataHome == '/') {
        folder = dataHome;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folder = std::filesystem::path(home) / ".local" / "share";
    } else {
        return {};
    }
    return folder / "korvo-connector" / "usage-history.sqlite";
}

void UsageHistory::close() {
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

bool UsageHistory::open() {
    if (db_) {
        return true;
    }
    if (file_.empty() || (retryOpenAfter_ && std::chrono::steady_clock::now() < *retryOpenAfter_)) {
        return false;
    }
    bool corrupt = false;
    if (openOnce(corrupt)) {
        retryOpenAfter_.reset();
        return true;
    }
    // Not a database, or a damaged one: start over.
    if (corrupt) {
        replaceCorruptFile("it could not be read");
        if (openOnce(corrupt)) {
            retryOpenAfter_.reset();
            return true;
        }
    }
    // Try again later rather than on every collection.
    retryOpenAfter_ = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    qCWarning(lcHistory).noquote()
        << "usage history is off for now: cannot open" << QString::fromStdString(file_.string());
    return false;
}

bool UsageHistory::openOnce(bool& corrupt) {
    corrupt = false;
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    // Created with the owner's permissions only; the WAL and shared-memory files SQLite adds
    // next to it take the same mode.
    const int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    if (sqlite3_open_v2(file_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(db_, int(limits_.busyTimeout.count()));
    const std::string pragmas =
        "PRAGMA page_size=" + std::to_string(kPageSize) +
        "; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=" +
        std::to_string(1024 * 1024) + "; PRAGMA max_page_count=" +
        std::to_string(std::max<std::int64_t>(16, limits_.maxBytes / kPageSize)) + ";";
    int status = sqlite3_exec(db_, pragmas.c_str(), nullptr, nullptr, nullptr);
    if (status == SQLITE_OK) {
        status = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
    }
    if (status == SQLITE_OK) {
        Statement check(*this, "PRAGMA quick_check(1)");
        status = check.step() == SQLITE_ROW && check.text(0) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
    }
    if (status == SQLITE_OK) {
        return true;
    }
    const int primary = status & 0xff;
    close();
    corrupt = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
    if (!corrupt) {
        qCInfo(lcHistory).noquote() << "usage history:" << sqlite3_errstr(status);
    }
    return false;
}

void UsageHistory::replaceCorruptFile(const char* reason) {
    close();
    qCWarning(lcHistory).noquote() << "usage history" << QString::fromStdString(file_.string())
                                   << "was replaced by an empty one:" << reason;
    std::error_code error;
    for (const char* suffix : {"-wal", "-shm", ""}) {
        std::filesystem::remove(file_.string() + suffix, error);
    }
}

// True when the caller may go on; a corrupt file is replaced and reopened on the next use.
bool UsageHistory::handleError(int code, const char* during) {
    const int primary = code & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        replaceCorruptFile(during);
        return false;
    }
    qCInfo(lcHistory).noquote() << "usage history:" << during << "failed:" << sqlite3_errstr(code);
    return false;
}

bool UsageHistory::record(const std::vector<ProviderUsage>& rows, Instant now) {
    if (!open()) {
        return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        lastError_ = SQLITE_OK;
        int status = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (status != SQLITE_OK) {
            return handleError(status, "starting a recording");
        }
        bool ok = true;
        for (const ProviderUsage& row : rows) {
            if (!recordRow(row, now)) {
                ok = false;
                break;
            }
        }
        // Old points are thinned once an hour, and after the clock went back.
        const bool pruneDue =
            !lastPrune_ || now - *lastPrune_ >= std::chrono::hours(1) || now < *lastPrune_;
        if (ok && pruneDue) {
            ok = prune(now);
        }
        if (ok) {
            status = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
            if (status == SQLITE_OK) {
                if (pruneDue) {
                    lastPrune_ = now;
                }
                return true;
            }
        }
        status = lastError_ != SQLITE_OK ? lastError_ : sqlite3_extended_errcode(db_);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        if ((status & 0xff) == SQLITE_FULL && attempt == 0 && makeRoom()) {
            continue;
        }
        return handleError(status, "recording");
    }
    return false;
}

std::optional<std::int64_t> UsageHistory::seriesFor(const ProviderUsage& row,
                                                    std::optional<double> used, Instant now) {
    const std::string window = primaryWindowText(row);
    const bool hasReset = row.window && row.window->resetAt;
    const std::int64_t resetAt = hasReset ? secondsOf(*row.window->resetAt) : 0;
    Statement latest(*this, "SELECT id, reset_at FROM series WHERE tool=? AND window=? "
                            "ORDER BY started DESC, id DESC LIMIT 1");
    latest.bind(1, row.id);
    latest.bind(2, window);
    const int found = latest.step();
    if (found == SQLITE_ROW) {
        const std::int64_t id = latest.integer(0);
        const bool storedHasReset = latest.optionalInteger(1).has_value();
        const std::int64_t storedReset = latest.integer(1);
        bool same = false;
        if (storedHasReset && hasReset) {
            same = std::llabs(storedReset - resetAt) <= kResetJitterSeconds;
        } else if (!storedHasReset && !hasReset) {
            // Without reset times a clear drop of the used percentage is the reset.
            same = true;
            Statement last(*this,
                           "SELECT used FROM point WHERE series=? ORDER BY minute DESC LIMIT 1");
            last.bind(1, id);
            if (last.step() == SQLITE_ROW && used) {
                if (const auto before = last.real(0); before && *used < *before - 1.0) {
                    same = false;
                }
            }
        }
        if (same) {
            return id;
        }
    } else if (found != SQLITE_DONE) {
        return std::nullopt;
    }
    Statement insert(*this, "INSERT INTO series(tool, window, reset_at, started) VALUES(?,?,?,?)");
    insert.bind(1, row.id);
    insert.bind(2, window);
    if (hasReset) {
        insert.bind(3, resetAt);
    } else {
        insert.bindNull(3);
    }
    insert.bind(4, secondsOf(now));
    if (insert.step() != SQLITE_DONE) {
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(db_);
}

bool UsageHistory::recordRow(const ProviderUsage& row, Instant now) {
    const std::optional<double> used = usedPercentOf(row);
    const UsageMetrics& usage = row.usage;
    const std::optional<double> input = finiteValue(usage.inputTokens);
    const std::optional<double> output = finiteValue(usage.outputTokens);
    const std::optional<double> cached = finiteValue(usage.cachedInputTokens);
    const std::optional<double> cost = finiteValue(usage.costUsd);
    if (!used && !input && !output && !cached && !cost) {
        return true;
    }
    const std::optional<std::int64_t> series = seriesFor(row, used, now);
    if (!series) {
        return false;
    }
    // Compared with the point this one follows in time, so that two writers recording the
    // same readings store them once whatever their order.
    const std::int64_t at = secondsOf(now);
    const std::int64_t minute = at >= 0 ? at / 60 : (at - 59) / 60;
    Statement last(*this, "SELECT used, input, output, cached, cost FROM point WHERE series=? AND "
                          "minute <= ? ORDER BY minute DESC LIMIT 1");
    last.bind(1, *series);
    last.bind(2, minute);
    const int found = last.step();
    if (found == SQLITE_ROW && last.real(0) == used && last.real(1) == input &&
        last.real(2) == output && last.real(3) == cached && last.real(4) == cost) {
        return true;
    }
    if (found != SQLITE_ROW && found != SQLITE_DONE) {
        return false;
    }
    Statement insert(*this,
                     "INSERT INTO point(series, minute, at, used, input, output, cached, cost) "
                     "VALUES(?,?,?,?,?,?,?,?) ON CONFLICT(series, minute) DO UPDATE SET "
                     "at=excluded.at, used=excluded.used, input=excluded.input, "
                     "output=excluded.output, cached=excluded.cached, cost=excluded.cost");
    insert.bind(1, *series);
    insert.bind(2, minute);
    insert.bind(3, at);
    insert.bind(4, used);
    insert.bind(5, input);
    insert.bind(6, output);
    insert.bind(7, cached);
    insert.bind(8, cost);
    return insert.step() == SQLITE_DONE;
}

bool UsageHistory::prune(Instant now) {
    const std::int64_t nowSeconds = secondsOf(now);
    const std::int64_t expired =
        nowSeconds - std::chrono::duration_cast<std::chrono::seconds>(limits_.retention).count();
    const std::int64_t detailed =
        nowSeconds - std::chrono::duration_cast<std::chrono::seconds>(limits_.fullDetail).count();
    const std::int64_t step = std::max<std::int64_t>(1, limits_.thinnedStep.count());
    Statement old(*this, "DELETE FROM point WHERE at < ?");
    old.bind(1, expired);
    // Past the detailed day, the last point of each step stays.
    Statement thin(*this,
                   "DELETE FROM point WHERE at < ?1 AND EXISTS (SELECT 1 FROM point AS later "
                   "WHERE later.series = point.series AND later.minute > point.minute AND "
                   "later.minute < (point.minute / ?2 + 1) * ?2)");
    thin.bind(1, detailed);
    thin.bind(2, step);
    Statement empty(*this, "DELETE FROM series WHERE NOT EXISTS (SELECT 1 FROM point WHERE "
                           "point.series = series.id)");
    return old.step() == SQLITE_DONE && thin.step() == SQLITE_DONE && empty.step() == SQLITE_DONE;
}

// The file reached its size cap: the oldest tenth of the stored time goes.
bool UsageHistory::makeRoom() {
    Statement range(*this, "SELECT min(at), max(at) FROM point");
    if (range.step() != SQLITE_ROW) {
        return false;
    }
    const auto oldest = range.optionalInteger(0);
    const auto newest = range.optionalInteger(1);
    if (!oldest || !newest) {
        return false;
    }
    qCWarning(lcHistory) << "usage history reached its size cap; dropping its oldest points";
    Statement drop(*this, "DELETE FROM point WHERE at <= ?");
    drop.bind(1, *oldest + std::max<std::int64_t>(60, (*newest - *oldest) / 10));
    Statement empty(*this, "DELETE FROM series WHERE NOT EXISTS (SELECT 1 FROM point WHERE "
                           "point.series = series.id)");
    return drop.step() == SQLITE_DONE && empty.step() == SQLITE_DONE;
}

void UsageHistory::compact(Instant now) {
    if (!open()) {
        return;
    }
    lastError_ = SQLITE_OK;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return;
    }
    if (prune(now) && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
        lastPrune_ = now;
        return;
    }
    const int status = lastError_ != SQLITE_OK ? lastError_ : sqlite3_extended_errcode(db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    handleError(status, "compacting");
}

std::vector<UsagePoint> UsageHistory::currentWindow(const ProviderUsage& row) {
    std::vector<UsagePoint> points;
    if (!open()) {
        return points;
    }
    Statement query(*this, "SELECT p.at, p.used, s.reset_at FROM point AS p JOIN series AS s ON "
                           "s.id = p.series WHERE p.series = (SELECT id FROM series WHERE tool=? "
                           "AND window=? ORDER BY started DESC, id DESC LIMIT 1) AND p.used IS NOT "
                           "NULL ORDER BY p.minute LIMIT 20000");
    query.bind(1, row.id);
    query.bind(2, primaryWindowText(row));
    int status = SQLITE_OK;
    while ((status = query.step()) == SQLITE_ROW) {
        UsagePoint point;
        point.at = instantFromUnixSeconds(query.integer(0));
        point.usedPercent = query.real(1).value_or(0);
        if (const auto reset = query.optionalInteger(2)) {
            point.resetAt = instantFromUnixSeconds(*reset);
        }
        points.push_back(point);
    }
    if (status != SQLITE_DONE) {
        handleError(status, "reading the current window");
    }
    return points;
}

std::vector<UsageHistoryPoint> UsageHistory::points(const std::optional<std::string>& toolId,
                                                    Instant since, std::size_t limit) {
    std::vector<UsageHistoryPoint> result;
    if (!open()) {
        return result;
    }
    Statement query(*this, "SELECT s.tool, s.window, s.reset_at, p.at, p.used, p.input, p.output, "
                           "p.cached, p.cost FROM point AS p JOIN series AS s ON s.id = p.series "
                           "WHERE p.at >= ?1 AND (?2 IS NULL OR s.tool = ?2) "
                           "ORDER BY p.at, s.tool, s.window LIMIT ?3");
    query.bind(1, secondsOf(since));
    if (toolId) {
        query.bind(2, *toolId);
    }
    query.bind(3, std::int64_t(limit));
    int status = SQLITE_OK;
    while ((status = query.step()) == SQLITE_ROW) {
        UsageHistoryPoint point;
        point.toolId = query.text(0);
        point.window = query.text(1);
        if (const auto reset = query.optionalInteger(2)) {
            point.resetAt = instantFromUnixSeconds(*reset);
        }
        point.at = instantFromUnixSeconds(query.integer(3));
        point.usedPercent = query.real(4);
        point.inputTokens = query.real(5);
        point.outputTokens = query.real(6);
        point.cachedInputTokens = query.real(7);
        point.costUsd = query.real(8);
        result.push_back(std::move(point));
    }
    if (status != SQLITE_DONE) {
        handleError(status, "reading the history");
    }
    return result;
}

} // namespace korvo

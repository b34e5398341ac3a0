#pragma once

#include "model/Instant.h"
#include "model/UsagePace.h"
#include "model/UsageSnapshot.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace korvo {

// One stored reading of a tool's window.
struct UsageHistoryPoint {
    std::string toolId;
    std::string window; // the window's label, else its kind ("5h", "Weekly")
    Instant at{};
    std::optional<Instant> resetAt;
    std::optional<double> usedPercent;
    std::optional<double> inputTokens;
    std::optional<double> outputTokens;
    std::optional<double> cachedInputTokens;
    std::optional<double> costUsd;

    friend bool operator==(const UsageHistoryPoint&, const UsageHistoryPoint&) = default;
};

// The local usage history: per tool and window, the used percentage, reset time, token counts
// and cost of each collection, in one SQLite file that only its user can read. A point is
// written when a value changed, at most one per minute (a later reading in the same minute
// replaces it); points older than a day are thinned to one per quarter hour and points older
// than the retention are deleted; a reset of the window starts a new series. Several processes
// may record at once: each recording is one write transaction that looks at the last point
// before it adds one, so equal readings are stored once. A file SQLite finds corrupt or not a
// database is replaced by a new one, with a warning in the log. The file never grows past
// maxBytes: when full, the oldest points make room.
//
// Not thread-safe: one object is used by one thread at a time (the collector's worker). The file
// is opened on first use.
class UsageHistory {
public:
    struct Limits {
        std::int64_t maxBytes = 8 * 1024 * 1024;
        std::chrono::hours retention{35 * 24};
        std::chrono::hours fullDetail{24};
        std::chrono::minutes thinnedStep{15};
        // How long a recording waits for another process's write before it gives up.
        std::chrono::milliseconds busyTimeout{2000};
    };

    explicit UsageHistory(std::filesystem::path file);
    UsageHistory(std::filesystem::path file, Limits limits);
    ~UsageHistory();
    UsageHistory(const UsageHistory&) = delete;
    UsageHistory& operator=(const UsageHistory&) = delete;

    // $XDG_DATA_HOME/korvo-connector/usage-history.sqlite, or under ~/.local/share.
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }

    // Records the rows read at `now`. False when the file could not be written (the reason is
    // logged); the collection goes on either way.
    bool record(const std::vector<ProviderUsage>& rows, Instant now);

    // The used percentages of the row's current window, oldest first.
    std::vector<UsagePoint> currentWindow(const ProviderUsage& row);

    // Stored points at or after `since`, of one tool or all, oldest first; at most `limit`.
    std::vector<UsageHistoryPoint> points(const std::optional<std::string>& toolId, Instant since,
                                          std::size_t limit = 500000);

    // Drops detail and old points now instead of at the next hourly pass.
    void compact(Instant now);

private:
    class Statement;
    bool open();
    bool openOnce(bool& corrupt);
    void close();
    void replaceCorruptFile(const char* reason);
    bool handleError(int code, const char* during);
    bool recordRow(const ProviderUsage& row, Instant now);
    std::optional<std::int64_t> seriesFor(const ProviderUsage& row, std::optional<double> used,
                                          Instant now);
    bool prune(Instant now);
    bool makeRoom();

    std::filesystem::path file_;
    Limits limits_;
    sqlite3* db_ = nullptr;
    // The extended result code of the last statement that failed in this transaction.
    int lastError_ = 0;
    std::optional<std::chrono::steady_clock::time_point> retryOpenAfter_;
    std::optional<Instant> lastPrune_;
};

} // namespace korvo

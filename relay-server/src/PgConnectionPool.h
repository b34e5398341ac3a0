#pragma once

#include "PgConnection.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace korvo::relayserver {

// A fixed number of connections to one PostgreSQL database, lent to one thread at a time.
// A thread that finds none free waits for one, at most `limits.poolWait`; then it gets
// StorageUnavailable. A connection the server closed while it was idle is replaced when it is
// lent.
class PgConnectionPool {
public:
    // Opens all `size` connections; throws StorageUnavailable when one cannot be opened.
    PgConnectionPool(const std::string& uri, unsigned size, DatabaseLimits limits = {});

    // A connection for the lifetime of the lease, returned to the pool when it ends.
    class Lease {
    public:
        Lease(PgConnectionPool& pool, std::unique_ptr<PgConnection> connection)
            : pool_(pool), connection_(std::move(connection)) {}
        ~Lease() { pool_.giveBack(std::move(connection_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        PgConnection* operator->() { return connection_.get(); }
        PgConnection& operator*() { return *connection_; }

    private:
        PgConnectionPool& pool_;
        std::unique_ptr<PgConnection> connection_;
    };

    Lease acquire();

    // Leases that found no free connection within the wait, since the start.
    std::uint64_t timedOutWaits() const { return timedOutWaits_.load(); }

private:
    void giveBack(std::unique_ptr<PgConnection> connection);

    DatabaseLimits limits_;
    std::mutex mutex_;
    std::condition_variable available_;
    std::vector<std::unique_ptr<PgConnection>> idle_;
    std::atomic<std::uint64_t> timedOutWaits_{0};
};

} // namespace korvo::relayserver

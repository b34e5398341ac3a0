#include "PgConnectionPool.h"

namespace korvo::relayserver {

PgConnectionPool::PgConnectionPool(const std::string& uri, unsigned size, DatabaseLimits limits)
    : limits_(limits) {
    for (unsigned i = 0; i < size; ++i) {
        idle_.push_back(std::make_unique<PgConnection>(uri, limits));
    }
}

PgConnectionPool::Lease PgConnectionPool::acquire() {
    std::unique_lock lock(mutex_);
    if (!available_.wait_for(lock, limits_.poolWait, [this] { return !idle_.empty(); })) {
        ++timedOutWaits_;
        throw StorageUnavailable("no PostgreSQL connection free within " +
                                 std::to_string(limits_.poolWait.count()) + " ms");
    }
    auto connection = std::move(idle_.back());
    idle_.pop_back();
    lock.unlock();
    try {
        connection->repairIfBroken();
    } catch (...) {
        giveBack(std::move(connection)); // broken still: the next lease tries again
        throw;
    }
    return Lease(*this, std::move(connection));
}

void PgConnectionPool::giveBack(std::unique_ptr<PgConnection> connection) {
    {
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(connection));
    }
    available_.notify_one();
}

} // namespace korvo::relayserver

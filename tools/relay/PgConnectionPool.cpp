#include "PgConnectionPool.h"

namespace korvo::relayserver {

PgConnectionPool::PgConnectionPool(const std::string& uri, unsigned size) {
    for (unsigned i = 0; i < size; ++i) {
        idle_.push_back(std::make_unique<PgConnection>(uri));
    }
}

PgConnectionPool::Lease PgConnectionPool::acquire() {
    std::unique_lock lock(mutex_);
    available_.wait(lock, [this] { return !idle_.empty(); });
    auto connection = std::move(idle_.back());
    idle_.pop_back();
    lock.unlock();
    connection->repairIfBroken();
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

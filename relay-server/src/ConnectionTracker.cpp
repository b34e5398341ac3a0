#include "ConnectionTracker.h"

#include "ClientAddress.h"

#include <algorithm>
#include <cstring>
#include <netinet/in.h>

namespace korvo::relayserver {

ConnectionTracker::ConnectionTracker(Limits limits)
    : limits_(limits), sweeper_([this] { sweep(); }) {}

ConnectionTracker::~ConnectionTracker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    sweeper_.join();
    for (auto* connection : connections_) {
        delete connection;
    }
}

std::string ConnectionTracker::addressKey(const sockaddr* address, socklen_t length) {
    if (address == nullptr ||
        (address->sa_family == AF_INET && length < static_cast<socklen_t>(sizeof(sockaddr_in))) ||
        (address->sa_family == AF_INET6 && length < static_cast<socklen_t>(sizeof(sockaddr_in6)))) {
        return {};
    }
    return clientKey(addressText(address));
}

bool ConnectionTracker::admits(const sockaddr* address, socklen_t length) {
    const std::string key = addressKey(address, length);
    std::lock_guard lock(mutex_);
    const auto found = perAddress_.find(key);
    return found == perAddress_.end() || found->second < limits_.perAddress;
}

ConnectionTracker::Connection* ConnectionTracker::opened(int fd, const sockaddr* address,
                                                         socklen_t length) {
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->addressKey = addressKey(address, length);
    connection->since = Clock::now();
    std::lock_guard lock(mutex_);
    unsigned& count = perAddress_[connection->addressKey];
    if (count >= limits_.perAddress) {
        if (count == 0) {
            perAddress_.erase(connection->addressKey);
        }
        return nullptr;
    }
    ++count;
    const bool wasEmpty = connections_.empty();
    connections_.insert(connection.get());
    if (wasEmpty) {
        wake_.notify_all();
    }
    return connection.release();
}

void ConnectionTracker::closed(Connection* connection) {
    if (connection == nullptr) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        connections_.erase(connection);
        const auto found = perAddress_.find(connection->addressKey);
        if (found != perAddress_.end() && --found->second == 0) {
            perAddress_.erase(found);
        }
    }
    delete connection;
}

void ConnectionTracker::enter(Connection* connection, Phase phase) {
    if (connection == nullptr) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (connection->phase == Phase::closing) {
        return;
    }
    const bool first = connection->phase == Phase::fresh && phase == Phase::head;
    connection->phase = phase;
    if (!first) {
        connection->since = Clock::now();
    }
    // No need to wake the sweeper: a new deadline is never earlier than the one it sleeps to,
    // since every phase starts now and the sweeper re-reads all deadlines when it wakes.
}

ConnectionTracker::Clock::duration ConnectionTracker::limitOf(Phase phase) const {
    switch (phase) {
    case Phase::fresh:
    case Phase::head:
        return limits_.head;
    case Phase::body:
        return limits_.body;
    case Phase::idle:
        return limits_.idle;
    case Phase::sending:
        return limits_.send;
    case Phase::busy:
    case Phase::closing:
        break;
    }
    return Clock::duration::max();
}

void ConnectionTracker::sweep() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (connections_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto now = Clock::now();
        auto next = now + std::chrono::seconds(3600);
        for (auto* connection : connections_) {
            const auto limit = limitOf(connection->phase);
            if (limit == Clock::duration::max()) {
                continue;
            }
            const auto deadline = connection->since + limit;
            if (deadline <= now) {
                // The server still owns the descriptor: it closes it only after telling us, under
                // this mutex, that the connection is gone.
                ::shutdown(connection->fd, SHUT_RDWR);
                connection->phase = Phase::closing;
            } else if (deadline < next) {
                next = deadline;
            }
        }
        // Phases entered while asleep have later deadlines; a busy connection that turns idle
        // is found at the latest one idle period later, so wake at least that often.
        next = std::min(next, now + std::min<Clock::duration>(
                                        {limits_.head, limits_.body, limits_.idle, limits_.send}));
        wake_.wait_until(lock, next);
    }
}

} // namespace korvo::relayserver

#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>

namespace korvo::relayserver {

// Keeps every open connection of the server within its deadlines and every client address
// within its share of connections.
//
// A connection moves through phases: `fresh` (accepted, its first request head not yet
// complete), `idle` (kept alive between requests), `head` (a request line read, its header
// fields not yet complete), `body` (head complete, body being read), `busy` (the request is
// being handled; no deadline of ours applies) and `sending` (its answer is being written). A
// connection that overstays its phase is shut down from a background thread; the server then
// sees the end of the stream and closes it. Only in `sending` has an answer begun: a client
// that does not read it in time (one that sends requests and never reads, holding the answers'
// memory) loses it, as it would have anyway.
//
// The deadlines are absolute: a byte trickling in now and then does not extend them. The thread
// sleeps until the earliest deadline and not at all while no connection is open.
class ConnectionTracker {
public:
    using Clock = std::chrono::steady_clock;
    enum class Phase { fresh, idle, head, body, busy, sending, closing };

    struct Limits {
        Clock::duration head = std::chrono::seconds(10);
        Clock::duration body = std::chrono::seconds(30);
        Clock::duration idle = std::chrono::seconds(60);
        Clock::duration send = std::chrono::seconds(30);
        unsigned perAddress = 256;
    };

    struct Connection {
        int fd = -1;
        std::string addressKey;
        Phase phase = Phase::fresh;
        Clock::time_point since;
    };

    explicit ConnectionTracker(Limits limits);
    ~ConnectionTracker();
    ConnectionTracker(const ConnectionTracker&) = delete;
    ConnectionTracker& operator=(const ConnectionTracker&) = delete;

    // Whether a connection from `address` may be accepted: false while its address (an IPv4
    // address or an IPv6 /64) holds its share already.
    bool admits(const sockaddr* address, socklen_t length);
    // Registers an accepted connection; nothing when its address is over its share (the caller
    // then closes it).
    Connection* opened(int fd, const sockaddr* address, socklen_t length);
    void closed(Connection* connection);
    // Enters `phase`. A connection reading its first request keeps the deadline of its accept.
    void enter(Connection* connection, Phase phase);

    // The key under which connections from `address` are counted.
    static std::string addressKey(const sockaddr* address, socklen_t length);

private:
    Clock::duration limitOf(Phase phase) const;
    void sweep();

    Limits limits_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::set<Connection*> connections_;
    std::map<std::string, unsigned> perAddress_;
    std::thread sweeper_;
};

} // namespace korvo::relayserver

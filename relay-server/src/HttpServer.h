#pragma once

#include "ConnectionTracker.h"
#include "HttpMessage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace korvo::relayserver {

// Every bound the HTTP layer holds a client to. Requests beyond a size limit are answered
// (431, 413, 400) and the connection closed; connections beyond a time limit are closed, without
// an answer unless one was being sent that the client did not read in time.
struct HttpLimits {
    std::size_t maxBodyBytes = 1 << 20;
    std::size_t maxHeaderBytes = 16 * 1024; // request line and header fields together
    std::size_t maxHeaderCount = 64;
    std::chrono::milliseconds headTimeout{10'000}; // for the request line and header fields
    std::chrono::milliseconds bodyTimeout{30'000};
    std::chrono::milliseconds idleTimeout{60'000}; // a kept-alive connection between requests
    std::chrono::milliseconds sendTimeout{30'000}; // for the client to read an answer
    unsigned maxConnections = 10'000;
    unsigned maxConnectionsPerAddress = 256; // an IPv4 address or an IPv6 /64
    unsigned threads = 4;
    // Threads for the requests the server's `offload` predicate picks (those that wait on the
    // database), so that no such wait can hold a serving thread: /health and the web view's
    // files keep being answered. 0: every request is handled on the serving threads.
    unsigned workers = 4;
    // A picked request still waiting for a worker after this, or finding `maxQueued` waiting
    // already, is answered 503 with retry-after.
    std::chrono::milliseconds queueTimeout{2'000};
    std::size_t maxQueued = 4096;
    // Request bodies held in memory at once, all connections together; a request whose body
    // would pass it is answered 503 with retry-after and the connection closed.
    std::size_t bodyBudgetBytes = std::size_t{64} << 20;
};

// PEM texts of a certificate chain and its private key.
struct TlsIdentity {
    std::string certificate;
    std::string key;
};

// An HTTP/1.1 server on GNU libmicrohttpd: a few threads, each polling its share of the
// connections with epoll, hand complete requests to one handler and send its answers. Requests
// on one connection, pipelined or not, are answered in order. A request the `offload` predicate
// picks is handled on a worker thread while its connection waits suspended.
//
// Every answer carries an x-request-id; one log line per request (info; warning for 503,
// error for other 5xx, with the handler's logDetail) names the route, status and duration.
// The head is held to strict framing: a field name that is not a token (whitespace before the
// colon, what libmicrohttpd 0.9.75 makes of an obs-fold), a control character in a field
// value, a missing or repeated Host on HTTP/1.1, two framings or a malformed Content-Length
// are answered 400 and the connection closed.
class HttpServer {
public:
    using Handler = std::function<void(HttpRequest&, HttpResponse&)>;

    using Offload = std::function<bool(const HttpRequest&)>;

    HttpServer(HttpLimits limits, Handler handler, std::optional<TlsIdentity> tls = std::nullopt,
               Offload offload = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens on host:port (port 0 picks a free one); returns the bound port, or -1.
    // Clients may connect from then on; they are served once listen() runs.
    int bind(const std::string& host, int port);
    // Serves until stop(); false when serving could not start.
    bool listen();
    void stop();

    const HttpLimits& limits() const { return limits_; }

    // Called once per answered request: its method, its route's pattern ("" when none), its
    // status, the time from the complete request to the answer, and whether it failed inside
    // (the handler left a log detail). Set before listen().
    using Observer = std::function<void(std::string_view method, std::string_view route, int status,
                                        std::chrono::nanoseconds took, bool failedInside)>;
    void observe(Observer observer) { observer_ = std::move(observer); }
    long openConnections() const { return openConnections_.load(); }

private:
    friend struct HttpServerCallbacks;

    struct Job {
        MHD_Connection* connection = nullptr;
        void* pending = nullptr; // the request's state in the server, until it is resumed
        HttpRequest request;
        std::chrono::steady_clock::time_point queued;
    };
    // A worker: handles queued requests until the server stops.
    void work();

    HttpLimits limits_;
    Handler handler_;
    std::optional<TlsIdentity> tls_;
    Offload offload_;
    Observer observer_;
    std::atomic<long> openConnections_{0};
    std::atomic<std::size_t> bodyBytes_{0};
    std::mutex workMutex_;
    std::condition_variable workReady_;
    std::deque<Job> jobs_;
    bool workStopping_ = false;
    std::vector<std::thread> workers_;
    ConnectionTracker tracker_;
    int listenFd_ = -1;
    MHD_Daemon* daemon_ = nullptr;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

} // namespace korvo::relayserver

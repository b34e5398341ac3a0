#pragma once

#include "ConnectionTracker.h"
#include "HttpMessage.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

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
};

// PEM texts of a certificate chain and its private key.
struct TlsIdentity {
    std::string certificate;
    std::string key;
};

// An HTTP/1.1 server on GNU libmicrohttpd: a few threads, each polling its share of the
// connections with epoll, hand complete requests to one handler and send its answers. Requests
// on one connection, pipelined or not, are answered in order.
class HttpServer {
public:
    using Handler = std::function<void(HttpRequest&, HttpResponse&)>;

    HttpServer(HttpLimits limits, Handler handler, std::optional<TlsIdentity> tls = std::nullopt);
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

private:
    friend struct HttpServerCallbacks;

    HttpLimits limits_;
    Handler handler_;
    std::optional<TlsIdentity> tls_;
    ConnectionTracker tracker_;
    int listenFd_ = -1;
    MHD_Daemon* daemon_ = nullptr;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

} // namespace korvo::relayserver

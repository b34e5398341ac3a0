#include "HttpServer.h"

#include "ClientAddress.h"
#include "RelayJson.h"
#include "RelayLog.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

namespace korvo::relayserver {
namespace {

using Phase = ConnectionTracker::Phase;

// An oversized body up to this many times the limit is read and dropped before it is refused.
constexpr std::size_t kDiscardLimit = 4;

using Clock = std::chrono::steady_clock;

// What one request has gathered between the transport's calls.
struct PendingRequest {
    explicit PendingRequest(std::atomic<std::size_t>& budget) : budget(budget) {}
    ~PendingRequest() { budget -= reserved; }
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;

    std::atomic<std::size_t>& budget; // the server's bytes of bodies in memory
    std::size_t reserved = 0;         // this request's share of them
    bool headChecked = false;
    bool tooLarge = false;
    bool overBudget = false;
    std::string body;
    Clock::time_point started = Clock::now();
    std::string id = newRequestId();
    std::string method;
    std::string route;
    std::string logDetail;
    // Set by a worker before it resumes the connection.
    enum class Work { none, queued, done } work = Work::none;
    HttpResponse response;

    // Takes `bytes` more of the budget `limit`; false (nothing taken) when it would pass it.
    bool reserve(std::size_t bytes, std::size_t limit) {
        std::size_t held = budget.load();
        do {
            if (held + bytes > limit) {
                return false;
            }
        } while (!budget.compare_exchange_weak(held, held + bytes));
        reserved += bytes;
        return true;
    }
};

// Characters of a field name (RFC 9110 "token").
bool tokenCharacter(unsigned char c) {
    return std::isalnum(c) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// A field value may hold visible characters, spaces and tabs, nothing else below 0x20 nor DEL.
bool cleanValue(std::string_view value) {
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7f;
    });
}

HttpResponse busyAnswer(std::string_view message) {
    HttpResponse answer;
    answer.status = 503;
    answer.body = jsonError(message);
    answer.setHeader("retry-after", "2");
    return answer;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

MHD_Result collect(void* target, MHD_ValueKind, const char* key, std::size_t keySize,
                   const char* value, std::size_t valueSize) {
    auto& fields = *static_cast<HttpFields*>(target);
    fields.emplace_back(std::string(key, keySize),
                        value != nullptr ? std::string(value, valueSize) : std::string());
    return MHD_YES;
}

socklen_t addressLength(const sockaddr* address) {
    if (address == nullptr) {
        return 0;
    }
    return address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

ConnectionTracker::Connection* trackOf(MHD_Connection* connection) {
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<ConnectionTracker::Connection*>(info->socket_context)
                           : nullptr;
}

std::string bodyLimitText(std::size_t limit) {
    if (limit % (1 << 20) == 0) {
        return std::to_string(limit >> 20) + " MiB";
    }
    return std::to_string(limit) + " bytes";
}

MHD_Result queue(MHD_Connection* connection, const HttpResponse& answer,
                 const std::string& requestId = {}) {
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    if (!requestId.empty()) {
        MHD_add_response_header(response, "x-request-id", requestId.c_str());
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

// Grows this process's descriptor table now to hold `count` descriptors (within its limit),
// using the open descriptor `fd`. The kernel grows the table on demand, but every growth waits
// for an RCU grace period, milliseconds on a busy machine, and meanwhile every thread opening or
// accepting a descriptor waits too: a burst of clients would stall all accepts each time the
// count of open connections passed a power of two.
void reserveDescriptors(int fd, std::size_t count) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || count == 0) {
        return;
    }
    const auto highest = std::min<rlim_t>(count, limit.rlim_cur) - 1;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, static_cast<int>(highest));
    if (copy >= 0) {
        ::close(copy); // the table keeps its size
    }
}

} // namespace

// The libmicrohttpd callbacks, with the exact C signatures it expects.
struct HttpServerCallbacks {
    static MHD_Result admits(void* self, const sockaddr* address, socklen_t length) {
        return static_cast<HttpServer*>(self)->tracker_.admits(address, length) ? MHD_YES : MHD_NO;
    }

    static void connectionEvent(void* self, MHD_Connection* connection, void** socketContext,
                                MHD_ConnectionNotificationCode event) {
        auto& server = *static_cast<HttpServer*>(self);
        auto& tracker = server.tracker_;
        server.openConnections_ += event == MHD_CONNECTION_NOTIFY_STARTED ? 1 : -1;
        if (event == MHD_CONNECTION_NOTIFY_STARTED) {
            const auto* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            const auto* address =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            const sockaddr* peer = address != nullptr ? address->client_addr : nullptr;
            if (fd == nullptr) {
                return;
            }
            *socketContext = tracker.opened(fd->connect_fd, peer, addressLength(peer));
            if (*socketContext == nullptr) {
                // Over its address's share (a race past admits()): end it before it is read.
                ::shutdown(fd->connect_fd, SHUT_RDWR);
            }
        } else {
            tracker.closed(static_cast<ConnectionTracker::Connection*>(*socketContext));
            *socketContext = nullptr;
        }
    }

    // Called once a request line is complete; what it returns becomes the request's context.
    static void* requestStarted(void* self, const char*, MHD_Connection* connection) {
        auto& server = *static_cast<HttpServer*>(self);
        server.tracker_.enter(trackOf(connection), Phase::head);
        return new PendingRequest(server.bodyBytes_);
    }

    static void requestEnded(void* self, MHD_Connection* connection, void** context,
                             MHD_RequestTerminationCode) {
        delete static_cast<PendingRequest*>(*context);
        *context = nullptr;
        static_cast<HttpServer*>(self)->tracker_.enter(trackOf(connection), Phase::idle);
    }

    // Queues `answer` and logs the request.
    static MHD_Result answer(HttpServer& server, MHD_Connection* connection,
                             PendingRequest& pending, const HttpResponse& answer) {
        server.tracker_.enter(trackOf(connection), Phase::sending);
        if (server.observer_) {
            server.observer_(pending.method, pending.route, answer.status,
                             Clock::now() - pending.started, !pending.logDetail.empty());
        }
        const LogLevel level = answer.status == 503   ? LogLevel::warning
                               : answer.status >= 500 ? LogLevel::error
                                                      : LogLevel::info;
        if (logs(level)) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                                  pending.started)
                                .count();
            const std::string status = std::to_string(answer.status);
            const std::string duration = std::to_string(ms);
            const std::string route =
                pending.method + " " + (pending.route.empty() ? "-" : pending.route);
            if (pending.logDetail.empty()) {
                logLine(level, {{"request_id", pending.id},
                                {"route", route},
                                {"status", status},
                                {"duration_ms", duration}});
            } else {
                logLine(level, {{"request_id", pending.id},
                                {"route", route},
                                {"status", status},
                                {"duration_ms", duration},
                                {"detail", pending.logDetail}});
            }
        }
        return queue(connection, answer, pending.id);
    }

    // Answers a request the transport will not pass on; the connection ends after the answer.
    static MHD_Result refuseRequest(HttpServer& server, MHD_Connection* connection,
                                    PendingRequest& pending, int status, std::string_view message,
                                    HttpFields headers = {}) {
        headers.emplace_back("Connection", "close");
        HttpResponse refusal;
        refusal.status = status;
        refusal.body = jsonError(message);
        refusal.headers = std::move(headers);
        return answer(server, connection, pending, refusal);
    }

    static MHD_Result access(void* self, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char* uploadData,
                             std::size_t* uploadSize, void** context) {
        auto& server = *static_cast<HttpServer*>(self);
        const HttpLimits& limits = server.limits_;
        auto* pending = static_cast<PendingRequest*>(*context);
        if (pending == nullptr) {
            return MHD_NO;
        }
        if (pending->work == PendingRequest::Work::done) {
            // Resumed: a worker has the answer.
            return answer(server, connection, *pending, pending->response);
        }
        if (pending->work == PendingRequest::Work::queued) {
            return MHD_YES;
        }
        if (!pending->headChecked) {
            pending->headChecked = true;
            pending->method = method;
            return checkHead(server, connection, *pending, version);
        }
        if (*uploadSize > 0) {
            if (!pending->tooLarge && !pending->overBudget &&
                pending->body.size() + *uploadSize <= limits.maxBodyBytes) {
                const std::size_t needed = pending->body.size() + *uploadSize;
                if (needed > pending->reserved) {
                    // A chunked body: taken from the budget as it grows, 64 KiB at a time.
                    const std::size_t more =
                        std::max<std::size_t>(needed - pending->reserved, 64 * 1024);
                    if (!pending->reserve(more, limits.bodyBudgetBytes)) {
                        pending->overBudget = true;
                    } else {
                        pending->body.reserve(pending->reserved);
                    }
                }
                if (!pending->overBudget) {
                    pending->body.append(uploadData, *uploadSize);
                }
            } else {
                // A chunked body past the limit: read to its end (the body deadline bounds
                // that), keep none of it, then refuse.
                pending->tooLarge = true;
            }
            if (pending->tooLarge || pending->overBudget) {
                pending->body.clear();
                pending->body.shrink_to_fit();
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        server.tracker_.enter(trackOf(connection), Phase::busy);
        if (pending->tooLarge) {
            return refuseRequest(server, connection, *pending, 413,
                                 "Request body exceeds " + bodyLimitText(limits.maxBodyBytes));
        }
        if (pending->overBudget) {
            return refuseRequest(server, connection, *pending, 503, "Server busy; try again later",
                                 {{"retry-after", "2"}});
        }
        HttpRequest request;
        request.method = method;
        request.path = url;
        request.body = std::move(pending->body);
        request.id = pending->id;
        MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collect, &request.headers);
        for (auto& field : request.headers) {
            field.first = lowerCase(field.first);
        }
        MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, collect, &request.query);
        const auto* address =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        request.remoteAddress = addressText(address != nullptr ? address->client_addr : nullptr);
        if (server.offload_ && server.limits_.workers > 0 && server.offload_(request)) {
            // The connection waits, suspended, while a worker handles the request; the worker
            // resumes it and the transport calls again for the answer.
            std::unique_lock lock(server.workMutex_);
            if (server.workStopping_ || server.jobs_.size() >= limits.maxQueued) {
                lock.unlock();
                return answer(server, connection, *pending,
                              busyAnswer("Server busy; try again later"));
            }
            pending->work = PendingRequest::Work::queued;
            MHD_suspend_connection(connection);
            server.jobs_.push_back(
                HttpServer::Job{connection, pending, std::move(request), Clock::now()});
            lock.unlock();
            server.workReady_.notify_one();
            return MHD_YES;
        }
        HttpResponse response;
        server.handler_(request, response);
        pending->route = std::move(request.route);
        pending->logDetail = std::move(request.logDetail);
        return answer(server, connection, *pending, response);
    }

    // The checks that need the whole head but none of the body. A refusal here is sent at once
    // and the connection closed after it, its body unread.
    static MHD_Result checkHead(HttpServer& server, MHD_Connection* connection,
                                PendingRequest& pending, const char* version) {
        const HttpLimits& limits = server.limits_;
        const auto* size =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
        HttpFields headers;
        MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collect, &headers);
        if ((size != nullptr && size->header_size > limits.maxHeaderBytes) ||
            headers.size() > limits.maxHeaderCount) {
            return refuseRequest(server, connection, pending, 431,
                                 "Request header fields too large");
        }
        std::size_t lengths = 0, encodings = 0, hosts = 0;
        std::string length, encoding;
        bool expectsContinue = false;
        for (const auto& [name, value] : headers) {
            // libmicrohttpd 0.9.75 keeps whitespace before the colon in the name, and glues the
            // text of an obs-fold line onto the name of the field before it: either way the
            // name is no token, or a framing field's name with more after it.
            const std::string lower = lowerCase(name);
            if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) {
                    return tokenCharacter(static_cast<unsigned char>(c));
                })) {
                return refuseRequest(server, connection, pending, 400,
                                     "Malformed header field name");
            }
            for (const std::string_view framing : {"content-length", "transfer-encoding", "host"}) {
                if (lower.size() > framing.size() && lower.starts_with(framing)) {
                    return refuseRequest(server, connection, pending, 400,
                                         "Malformed header field name");
                }
            }
            if (!cleanValue(value)) {
                return refuseRequest(server, connection, pending, 400,
                                     "Control character in a header field");
            }
            if (lower == "content-length") {
                ++lengths;
                length = value;
            } else if (lower == "transfer-encoding") {
                ++encodings;
                encoding = lowerCase(value);
            } else if (lower == "expect") {
                expectsContinue = lowerCase(value) == "100-continue";
            } else if (lower == "host") {
                ++hosts;
            }
        }
        if (hosts > 1) {
            return refuseRequest(server, connection, pending, 400, "Repeated Host header");
        }
        if (hosts == 0 && version != nullptr && std::string_view(version) == "HTTP/1.1") {
            return refuseRequest(server, connection, pending, 400, "Missing Host header");
        }
        // Two framings, or one we do not speak, let a proxy in front of us and this server
        // disagree on where a request ends; refuse them rather than guess.
        if (encodings > 0 && lengths > 0) {
            return refuseRequest(server, connection, pending, 400,
                                 "Both Content-Length and Transfer-Encoding given");
        }
        if (lengths > 1 || encodings > 1) {
            return refuseRequest(server, connection, pending, 400,
                                 "Repeated message framing header");
        }
        if (encodings == 1 && encoding != "chunked") {
            return refuseRequest(server, connection, pending, 400, "Unsupported Transfer-Encoding");
        }
        if (lengths == 1) {
            if (length.empty() || length.size() > 19 ||
                length.find_first_not_of("0123456789") != std::string::npos) {
                return refuseRequest(server, connection, pending, 400, "Malformed Content-Length");
            }
            const auto declared = std::stoull(length);
            // A client that waits for "100 Continue" hears the refusal before sending; one that
            // sends at once is read to the end of a moderately large body (and none of it kept),
            // so it is not cut off mid-write and still reads the answer. Past that, it is cut off.
            if (declared > limits.maxBodyBytes) {
                if (expectsContinue || declared > kDiscardLimit * limits.maxBodyBytes) {
                    return refuseRequest(server, connection, pending, 413,
                                         "Request body exceeds " +
                                             bodyLimitText(limits.maxBodyBytes));
                }
                pending.tooLarge = true;
            } else if (declared > 0) {
                // The whole body's memory is taken from the budget before it is read: past
                // the budget the request is refused unread.
                if (!pending.reserve(declared, limits.bodyBudgetBytes)) {
                    return refuseRequest(server, connection, pending, 503,
                                         "Server busy; try again later", {{"retry-after", "2"}});
                }
                pending.body.reserve(declared);
            }
        }
        server.tracker_.enter(trackOf(connection), Phase::body);
        return MHD_YES;
    }
};

HttpServer::HttpServer(HttpLimits limits, Handler handler, std::optional<TlsIdentity> tls,
                       Offload offload)
    : limits_(limits), handler_(std::move(handler)), tls_(std::move(tls)),
      offload_(std::move(offload)),
      tracker_(ConnectionTracker::Limits{limits.headTimeout, limits.bodyTimeout, limits.idleTimeout,
                                         limits.sendTimeout, limits.maxConnectionsPerAddress}) {}

HttpServer::~HttpServer() {
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
}

int HttpServer::bind(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints,
                      &found) != 0) {
        return -1;
    }
    int bound = -1;
    for (addrinfo* at = found; at != nullptr && bound < 0; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                at->ai_protocol);
        if (fd < 0) {
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        // A burst of connecting clients must not overflow the queue of pending handshakes.
        if (::bind(fd, at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(fd);
            continue;
        }
        listenFd_ = fd;
        bound = address.ss_family == AF_INET6
                    ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                    : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ::freeaddrinfo(found);
    return bound;
}

bool HttpServer::listen() {
    if (listenFd_ < 0) {
        return false;
    }
    // Room for every connection the limit allows, and the store's and the daemon's own.
    reserveDescriptors(listenFd_, std::size_t{limits_.maxConnections} + 256);
    unsigned flags =
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
    if (tls_) {
        flags |= MHD_USE_TLS;
    }
    // The pool holds the head and the connection's buffers; a head past our own limit is
    // refused by us with a JSON answer long before the pool runs out.
    const std::size_t memory = std::max<std::size_t>(32 * 1024, 2 * limits_.maxHeaderBytes + 8192);
    const auto seconds = [](std::chrono::milliseconds ms) {
        return static_cast<unsigned>((ms.count() + 999) / 1000);
    };
    // libmicrohttpd's own time-out restarts with every byte read or written, so a client that
    // reads an answer a byte at a time would never meet it; it is only a backstop. The absolute
    // deadlines, the one for reading an answer included, are the tracker's.
    const unsigned inactivity =
        std::max({seconds(limits_.idleTimeout), seconds(limits_.headTimeout),
                  seconds(limits_.bodyTimeout), seconds(limits_.sendTimeout)});
    using Callbacks = HttpServerCallbacks;
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, listenFd_, nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, std::max(1u, limits_.threads), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, limits_.maxConnections, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(memory), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, inactivity, nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Callbacks::connectionEvent),
         this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Callbacks::requestEnded), this},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Callbacks::requestStarted), this},
        {MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, nullptr},
        // Strict: an HTTP/1.1 request without Host, or with a space in its target, is refused
        // by the transport itself (checkHead() refuses the rest).
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
    };
    if (tls_) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, tls_->certificate.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, tls_->key.data()});
        // TLS 1.2 and 1.3 only.
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0,
                           const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    {
        std::lock_guard lock(workMutex_);
        workStopping_ = false;
    }
    for (unsigned i = 0; offload_ && i < limits_.workers; ++i) {
        workers_.emplace_back([this] { work(); });
    }
    const auto stopWorkers = [this] {
        {
            std::lock_guard lock(workMutex_);
            workStopping_ = true;
        }
        workReady_.notify_all();
        for (auto& worker : workers_) {
            worker.join();
        }
        workers_.clear();
    };
    daemon_ = MHD_start_daemon(flags, 0, &Callbacks::admits, this, &Callbacks::access, this,
                               MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (daemon_ == nullptr) {
        stopWorkers();
        return false;
    }
    listenFd_ = -1; // the daemon closes it when it stops
    std::unique_lock lock(mutex_);
    stopped_.wait(lock, [this] { return stopping_; });
    lock.unlock();
    // Every suspended connection is resumed (queued requests answered 503) before the daemon
    // stops, which needs none left suspended.
    stopWorkers();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    return true;
}

void HttpServer::work() {

    std::unique_lock lock(workMutex_);
    while (true) {
        workReady_.wait(lock, [this] { return workStopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return; // stopping, and nothing left to resume
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        const bool stopping = workStopping_;
        lock.unlock();
        auto& pending = *static_cast<PendingRequest*>(job.pending);
        if (stopping || Clock::now() - job.queued > limits_.queueTimeout) {
            pending.response = busyAnswer("Server busy; try again later");
        } else {
            try {
                handler_(job.request, pending.response);
            } catch (const std::exception& e) {
                pending.response = HttpResponse{};
                pending.response.status = 500;
                pending.response.body = jsonError("Internal error");
                job.request.logDetail = e.what();
            }
            pending.route = std::move(job.request.route);
            pending.logDetail = std::move(job.request.logDetail);
        }
        pending.work = PendingRequest::Work::done;
        MHD_resume_connection(job.connection);
        lock.lock();
    }
}

void HttpServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
}

} // namespace korvo::relayserver

#include "HttpServer.h"

#include "RelayJson.h"

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

// What one request has gathered between the transport's calls.
struct PendingRequest {
    bool headChecked = false;
    bool tooLarge = false;
    std::string body;
};

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

std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address == nullptr) {
        return {};
    }
    if (address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                    sizeof text);
    } else if (address->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                    sizeof text);
    }
    return text;
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

MHD_Result queue(MHD_Connection* connection, const HttpResponse& answer) {
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

// Answers a request the transport will not pass on; the connection ends after the answer.
MHD_Result refuse(MHD_Connection* connection, int status, std::string_view message) {
    return queue(
        connection,
        HttpResponse{status, jsonError(message), "application/json", {{"Connection", "close"}}});
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
        auto& tracker = static_cast<HttpServer*>(self)->tracker_;
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
        static_cast<HttpServer*>(self)->tracker_.enter(trackOf(connection), Phase::head);
        return new PendingRequest;
    }

    static void requestEnded(void* self, MHD_Connection* connection, void** context,
                             MHD_RequestTerminationCode) {
        delete static_cast<PendingRequest*>(*context);
        *context = nullptr;
        static_cast<HttpServer*>(self)->tracker_.enter(trackOf(connection), Phase::idle);
    }

    static MHD_Result access(void* self, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* uploadData,
                             std::size_t* uploadSize, void** context) {
        auto& server = *static_cast<HttpServer*>(self);
        const HttpLimits& limits = server.limits_;
        auto* pending = static_cast<PendingRequest*>(*context);
        if (pending == nullptr) {
            return MHD_NO;
        }
        if (!pending->headChecked) {
            pending->headChecked = true;
            return checkHead(server, connection, *pending);
        }
        if (*uploadSize > 0) {
            if (!pending->tooLarge && pending->body.size() + *uploadSize <= limits.maxBodyBytes) {
                pending->body.append(uploadData, *uploadSize);
            } else {
                // A chunked body past the limit: read to its end (the body deadline bounds
                // that), keep none of it, then refuse.
                pending->tooLarge = true;
                pending->body.clear();
                pending->body.shrink_to_fit();
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        server.tracker_.enter(trackOf(connection), Phase::busy);
        if (pending->tooLarge) {
            server.tracker_.enter(trackOf(connection), Phase::sending);
            return refuse(connection, 413,
                          "Request body exceeds " + bodyLimitText(limits.maxBodyBytes));
        }
        HttpRequest request;
        request.method = method;
        request.path = url;
        request.body = std::move(pending->body);
        MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collect, &request.headers);
        for (auto& field : request.headers) {
            field.first = lowerCase(field.first);
        }
        MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, collect, &request.query);
        const auto* address =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        request.remoteAddress = addressText(address != nullptr ? address->client_addr : nullptr);
        HttpResponse response;
        server.handler_(request, response);
        server.tracker_.enter(trackOf(connection), Phase::sending);
        return queue(connection, response);
    }

    // The checks that need the whole head but none of the body. A refusal here is sent at once
    // and the connection closed after it, its body unread.
    static MHD_Result checkHead(HttpServer& server, MHD_Connection* connection,
                                PendingRequest& pending) {
        const HttpLimits& limits = server.limits_;
        const auto* size =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
        HttpFields headers;
        MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collect, &headers);
        if ((size != nullptr && size->header_size > limits.maxHeaderBytes) ||
            headers.size() > limits.maxHeaderCount) {
            return refuse(connection, 431, "Request header fields too large");
        }
        std::size_t lengths = 0, encodings = 0;
        std::string length, encoding;
        bool expectsContinue = false;
        for (const auto& [name, value] : headers) {
            const std::string lower = lowerCase(name);
            if (lower == "content-length") {
                ++lengths;
                length = value;
            } else if (lower == "transfer-encoding") {
                ++encodings;
                encoding = lowerCase(value);
            } else if (lower == "expect") {
                expectsContinue = lowerCase(value) == "100-continue";
            }
        }
        // Two framings, or one we do not speak, let a proxy in front of us and this server
        // disagree on where a request ends; refuse them rather than guess.
        if (encodings > 0 && lengths > 0) {
            return refuse(connection, 400, "Both Content-Length and Transfer-Encoding given");
        }
        if (lengths > 1 || encodings > 1) {
            return refuse(connection, 400, "Repeated message framing header");
        }
        if (encodings == 1 && encoding != "chunked") {
            return refuse(connection, 400, "Unsupported Transfer-Encoding");
        }
        if (lengths == 1) {
            if (length.empty() || length.size() > 19 ||
                length.find_first_not_of("0123456789") != std::string::npos) {
                return refuse(connection, 400, "Malformed Content-Length");
            }
            const auto declared = std::stoull(length);
            // A client that waits for "100 Continue" hears the refusal before sending; one that
            // sends at once is read to the end of a moderately large body (and none of it kept),
            // so it is not cut off mid-write and still reads the answer. Past that, it is cut off.
            if (declared > limits.maxBodyBytes) {
                if (expectsContinue || declared > kDiscardLimit * limits.maxBodyBytes) {
                    return refuse(connection, 413,
                                  "Request body exceeds " + bodyLimitText(limits.maxBodyBytes));
                }
                pending.tooLarge = true;
            }
        }
        server.tracker_.enter(trackOf(connection), Phase::body);
        return MHD_YES;
    }
};

HttpServer::HttpServer(HttpLimits limits, Handler handler, std::optional<TlsIdentity> tls)
    : limits_(limits), handler_(std::move(handler)), tls_(std::move(tls)),
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
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_TURBO;
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
    };
    if (tls_) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, tls_->certificate.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, tls_->key.data()});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon_ = MHD_start_daemon(flags, 0, &Callbacks::admits, this, &Callbacks::access, this,
                               MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (daemon_ == nullptr) {
        return false;
    }
    listenFd_ = -1; // the daemon closes it when it stops
    std::unique_lock lock(mutex_);
    stopped_.wait(lock, [this] { return stopping_; });
    lock.unlock();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    return true;
}

void HttpServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
}

} // namespace korvo::relayserver

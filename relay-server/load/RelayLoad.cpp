#include "RelayLoad.h"

#include "model/SnapshotJson.h"
#include "model/UsageSnapshot.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <simdjson.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace korvo::relayserver {
namespace {

struct PairedDevice {
    std::string deviceId;
    std::string syncSpaceId;
    std::string connectorToken;
    std::string phoneToken;
};

std::string member(const std::string& body, const char* name) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    std::string_view value;
    if (parser.parse(body).get(root) != simdjson::SUCCESS ||
        root[name].get_string().get(value) != simdjson::SUCCESS) {
        return {};
    }
    return std::string(value);
}

std::optional<PairedDevice> pair(httplib::Client& client, int index, std::string& problem) {
    PairedDevice device;
    device.deviceId = "LOAD-DEVICE-" + std::to_string(index);
    const std::string request = "{\"connectorDeviceId\":\"" + device.deviceId +
                                "\",\"connectorDeviceName\":\"load " + std::to_string(index) +
                                "\"}";
    auto created = client.Post("/v1/pairing/sessions", request, "application/json");
    if (!created || created->status != 200) {
        problem = "create session failed";
        return std::nullopt;
    }
    const std::string sessionId = member(created->body, "pairingSessionId");
    const std::string code = member(created->body, "pairingCode");
    const std::string payload = member(created->body, "qrPayload");
    const auto at = payload.find("secret=");
    const std::string secret = at == std::string::npos ? "" : payload.substr(at + 7);
    auto claimed =
        client.Post("/v1/pairing/claim", "{\"pairingCode\":\"" + code + "\"}", "application/json");
    if (!claimed || claimed->status != 200) {
        problem = "claim failed";
        return std::nullopt;
    }
    device.phoneToken = member(claimed->body, "phoneDeviceToken");
    auto polled =
        client.Get(("/v1/pairing/sessions/" + sessionId).c_str(), {{"x-pairing-secret", secret}});
    if (!polled || polled->status != 200) {
        problem = "status poll failed";
        return std::nullopt;
    }
    device.connectorToken = member(polled->body, "connectorDeviceToken");
    device.syncSpaceId = member(polled->body, "syncSpaceId");
    if (device.connectorToken.empty() || device.syncSpaceId.empty()) {
        problem = "status poll without a token";
        return std::nullopt;
    }
    return device;
}

std::string snapshotBody(const PairedDevice& device, int serial) {
    UsageSnapshot s;
    char id[32];
    std::snprintf(id, sizeof id, "snap_%016X", static_cast<unsigned>(serial));
    s.snapshotId = id;
    s.syncSpaceId = device.syncSpaceId;
    s.updatedAt = instantFromUnixSeconds(1'790'000'000 + serial);
    s.device = {device.deviceId, "load box", SnapshotDeviceKind::linux};
    for (int p = 0; p < 4; ++p) {
        ProviderUsage row;
        row.id = "tool-" + std::to_string(p);
        row.displayName = "Tool " + std::to_string(p);
        row.source = SourceType::localCli;
        row.confidence = Confidence::cliReported;
        row.status = ProviderStatus::ok;
        row.window = UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt,
                                 instantFromUnixSeconds(1'790'018'000 + serial)};
        row.usage.usedPercent = (serial * 7 + p) % 100;
        row.usage.remainingPercent = 100 - (serial * 7 + p) % 100;
        row.usage.inputTokens = 1000.0 * serial + p;
        row.usage.outputTokens = 10.0 * serial;
        row.observedAt = instantFromUnixSeconds(1'790'000'000 + serial);
        s.providers.push_back(row);
    }
    return encodeSnapshot(s).value();
}

// One device's keep-alive connection and its queue of uploads, driven by driveUploads().
struct UploadingDevice {
    std::string name;
    std::vector<std::string> requests; // whole HTTP requests, sent in order
    std::size_t next = 0;              // the request being sent or awaited
    int fd = -1;
    bool connecting = false;
    std::size_t sent = 0; // bytes of the current request written
    std::string received; // bytes of the current answer read
    int attempts = 0;     // sends of the current request after the first
    std::chrono::steady_clock::time_point began, retryAt;
    bool waiting = false; // between a failed attempt and its retry
};

// The status, head length and body length of a complete answer at the start of `in`; nothing
// while incomplete. An answer without Content-Length (the relay always sends one) counts as
// status 0.
struct Answer {
    int status = 0;
    std::size_t length = 0; // head and body
    bool closes = false;
};
std::optional<Answer> completeAnswer(const std::string& in) {
    const auto headEnd = in.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        return std::nullopt;
    }
    Answer answer;
    if (in.size() > 12 && in.compare(0, 5, "HTTP/") == 0) {
        answer.status = std::atoi(in.c_str() + in.find(' ') + 1);
    }
    std::string head = in.substr(0, headEnd + 2);
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto length = head.find("\r\ncontent-length:");
    if (length == std::string::npos) {
        answer.status = 0;
        answer.length = headEnd + 4;
        answer.closes = true;
        return answer;
    }
    answer.length = headEnd + 4 + std::strtoull(head.c_str() + length + 17, nullptr, 10);
    answer.closes = head.find("\r\nconnection: close\r\n") != std::string::npos;
    if (in.size() < answer.length) {
        return std::nullopt;
    }
    return answer;
}

// Sends every device's uploads, each device on its own keep-alive connection and one upload at
// a time, all devices at once, from one thread: a thread per device would spend the cores the
// relay under test runs on waking and switching between 200 threads. Each upload is timed from
// the moment it is due (before a connection is opened for it) to its whole answer having been
// read; an answer other than 200, or none, counts as failed after `retries` more attempts 50 ms
// apart. Returns every upload's latency in ms.
std::vector<double> driveUploads(const std::string& host, int port, int retries,
                                 std::vector<UploadingDevice>& devices, LoadReport& report) {
    std::vector<double> latencies;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    std::size_t busy = 0;
    const auto close = [&](UploadingDevice& d) {
        if (d.fd >= 0) {
            ::close(d.fd);
            d.fd = -1;
        }
    };
    const auto watch = [&](UploadingDevice& d, std::uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.ptr = &d;
        ::epoll_ctl(poller, EPOLL_CTL_MOD, d.fd, &event);
    };
    // Writes what it can of the current request, opening a connection first when there is none.
    const auto send = [&](UploadingDevice& d) -> bool {
        if (d.fd < 0) {
            d.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const int on = 1;
            ::setsockopt(d.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (::connect(d.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
                errno != EINPROGRESS) {
                return false;
            }
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.ptr = &d;
            ::epoll_ctl(poller, EPOLL_CTL_ADD, d.fd, &event);
            d.connecting = true;
            return true;
        }
        const std::string& request = d.requests[d.next];
        while (d.sent < request.size()) {
            const ssize_t n =
                ::send(d.fd, request.data() + d.sent, request.size() - d.sent, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN) {
                    watch(d, EPOLLOUT);
                    return true;
                }
                return false;
            }
            d.sent += static_cast<std::size_t>(n);
        }
        watch(d, EPOLLIN);
        return true;
    };
    const auto start = [&](UploadingDevice& d) {
        d.sent = 0;
        d.received.clear();
        d.waiting = false;
        return send(d);
    };
    // The current upload ended: timed, counted, and the next one begun.
    const auto finish = [&](UploadingDevice& d, int status, const std::string& problem) {
        if ((status == 0 || status >= 500) && d.attempts < retries) {
            ++d.attempts;
            ++report.retried;
            close(d);
            d.waiting = true;
            d.retryAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            return;
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - d.began)
                .count());
        if (status != 200) {
            ++report.failedUploads;
            if (report.problems.size() < 5) {
                report.problems.push_back(d.name + ": " + problem);
            }
        }
        d.attempts = 0;
        if (++d.next == d.requests.size()) {
            close(d);
            --busy;
            return;
        }
        d.began = std::chrono::steady_clock::now();
        if (!start(d)) {
            close(d);
            d.waiting = true;
            d.retryAt = d.began;
        }
    };
    const auto failed = [&](UploadingDevice& d) {
        close(d);
        finish(d, 0, "no answer");
    };
    const auto now = std::chrono::steady_clock::now();
    for (auto& d : devices) {
        if (d.requests.empty()) {
            continue;
        }
        ++busy;
        d.began = now;
        if (!start(d)) {
            failed(d);
        }
    }
    std::vector<epoll_event> events(std::max<std::size_t>(devices.size(), 1));
    char buffer[16384];
    while (busy > 0) {
        // Retries due, and how long until the next one.
        int timeout = 10'000;
        const auto at = std::chrono::steady_clock::now();
        for (auto& d : devices) {
            if (!d.waiting) {
                continue;
            }
            if (d.retryAt <= at) {
                if (!start(d)) {
                    failed(d);
                }
            } else {
                timeout = std::min<int>(
                    timeout,
                    static_cast<int>(
                        std::chrono::ceil<std::chrono::milliseconds>(d.retryAt - at).count()));
            }
        }
        const int ready =
            ::epoll_wait(poller, events.data(), static_cast<int>(events.size()), timeout);
        if (ready == 0 && timeout == 10'000) {
            // Ten seconds without any answer: whatever is outstanding went unanswered.
            for (auto& d : devices) {
                if (d.next < d.requests.size() && !d.waiting && d.fd >= 0) {
                    failed(d);
                }
            }
            continue;
        }
        for (int i = 0; i < ready; ++i) {
            auto& d = *static_cast<UploadingDevice*>(events[i].data.ptr);
            if (d.fd < 0) {
                continue;
            }
            if (d.connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(d.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                d.connecting = false;
                if (error != 0 || !send(d)) {
                    failed(d);
                }
                continue;
            }
            if ((events[i].events & EPOLLOUT) != 0 && d.sent < d.requests[d.next].size()) {
                if (!send(d)) {
                    failed(d);
                }
                continue;
            }
            const ssize_t n = ::recv(d.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                if (n < 0 && errno == EAGAIN) {
                    continue;
                }
                failed(d);
                continue;
            }
            d.received.append(buffer, static_cast<std::size_t>(n));
            if (const auto answer = completeAnswer(d.received)) {
                const std::string body = d.received.substr(0, answer->length);
                if (answer->closes) {
                    close(d);
                }
                finish(d, answer->status,
                       answer->status == 0 ? "answer without Content-Length"
                                           : "HTTP " + std::to_string(answer->status) + ": " +
                                                 body.substr(body.find("\r\n\r\n") + 4));
            }
        }
    }
    ::close(poller);
    return latencies;
}

} // namespace

std::string LoadReport::summary() const {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%d uploads from %d devices in %.2f s (%.0f/s); latency p50 %.2f ms, p99 %.2f "
                  "ms, max %.2f ms; failed %d, latest mismatched %d, retried %d",
                  uploads, devices, seconds, seconds > 0 ? uploads / seconds : 0.0, p50Ms, p99Ms,
                  maxMs, failedUploads, mismatchedLatest, retried);
    return text;
}

LoadReport runUploadLoad(const std::string& host, int port, int devices, int uploads) {
    return runUploadLoad(LoadTargets{host, port, port, port, 0, {}}, devices, uploads);
}

LoadReport runUploadLoad(const LoadTargets& targets, int devices, int uploads) {
    const std::string& host = targets.host;
    LoadReport report;
    report.devices = devices;
    std::vector<PairedDevice> paired;
    {
        httplib::Client client(host, targets.pairPort);
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        for (int i = 0; i < devices; ++i) {
            std::string problem;
            auto device = pair(client, i, problem);
            if (!device) {
                report.problems.push_back("pairing device " + std::to_string(i) + ": " + problem);
                report.failedUploads = uploads;
                return report;
            }
            paired.push_back(std::move(*device));
        }
    }

    // Every device's requests are built before the clock starts.
    std::vector<UploadingDevice> uploaders(paired.size());
    std::vector<std::string> lastBody(paired.size());
    const std::string hostField = host + ":" + std::to_string(targets.uploadPort);
    for (int d = 0; d < devices; ++d) {
        const int count = uploads / devices + (d < uploads % devices ? 1 : 0);
        const PairedDevice& device = paired[static_cast<std::size_t>(d)];
        auto& uploader = uploaders[static_cast<std::size_t>(d)];
        uploader.name = device.deviceId;
        for (int k = 0; k < count; ++k) {
            const std::string body = snapshotBody(device, d * 1'000'000 + k);
            uploader.requests.push_back("POST /v1/sync-spaces/" + device.syncSpaceId +
                                        "/snapshots HTTP/1.1\r\nHost: " + hostField +
                                        "\r\nAuthorization: Bearer " + device.connectorToken +
                                        "\r\nContent-Type: application/json\r\nContent-Length: " +
                                        std::to_string(body.size()) + "\r\n\r\n" + body);
            if (k + 1 == count) {
                lastBody[static_cast<std::size_t>(d)] = body;
            }
        }
    }
    if (targets.uploadsStarting) {
        targets.uploadsStarting();
    }
    const auto begin = std::chrono::steady_clock::now();
    std::vector<double> latencies =
        driveUploads(host, targets.uploadPort, targets.retries, uploaders, report);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    report.uploads = static_cast<int>(latencies.size());

    httplib::Client reader(host, targets.readPort);
    reader.set_keep_alive(true);
    reader.set_tcp_nodelay(true);
    for (std::size_t d = 0; d < paired.size(); ++d) {
        if (lastBody[d].empty()) {
            continue;
        }
        auto res =
            reader.Get(("/v1/sync-spaces/" + paired[d].syncSpaceId + "/snapshots/latest").c_str(),
                       {{"authorization", "Bearer " + paired[d].phoneToken}});
        if (!res || res->status != 200 || res->body != lastBody[d]) {
            ++report.mismatchedLatest;
            if (report.problems.size() < 5) {
                report.problems.push_back(paired[d].deviceId + ": latest snapshot differs");
            }
        }
    }

    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
        if (latencies.empty()) {
            return 0.0;
        }
        const auto rank = static_cast<std::size_t>(std::ceil(p * latencies.size()));
        return latencies[std::min(latencies.size() - 1, rank == 0 ? 0 : rank - 1)];
    };
    report.p50Ms = percentile(0.50);
    report.p99Ms = percentile(0.99);
    report.maxMs = latencies.empty() ? 0 : latencies.back();
    return report;
}

LatencyProbe::LatencyProbe(int port, int intervalMs) : port_(port), intervalMs_(intervalMs) {
    thread_ = std::thread([this] {
        // Named, so a scheduler trace tells its waits from the upload threads'.
        pthread_setname_np(pthread_self(), "latency-probe");
        while (!stopping_) {
            const auto begin = std::chrono::steady_clock::now();
            httplib::Client client("127.0.0.1", port_);
            client.set_connection_timeout(5);
            client.set_read_timeout(5);
            auto res = client.Get("/health");
            const auto end = std::chrono::steady_clock::now();
            if (res && res->status == 200) {
                latencies_.push_back(
                    std::chrono::duration<double, std::milli>(end - begin).count());
            } else {
                ++failures_;
            }
            std::this_thread::sleep_until(begin + std::chrono::milliseconds(intervalMs_));
        }
    });
}

LatencyProbe::~LatencyProbe() {
    stop();
}

void LatencyProbe::stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

double LatencyProbe::percentileMs(double p) const {
    if (latencies_.empty()) {
        return 0;
    }
    auto sorted = latencies_;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * sorted.size()));
    return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double LatencyProbe::maxMs() const {
    return latencies_.empty() ? 0 : *std::max_element(latencies_.begin(), latencies_.end());
}

std::vector<int> openConnections(int port, int count, int perAddress, const std::string& request,
                                 bool awaitAnswer) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            break;
        }
        const int source = i / std::max(1, perAddress);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl((127u << 24) | (2u << 8) | static_cast<unsigned>(source + 1));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            continue;
        }
        if (!request.empty()) {
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        }
        if (awaitAnswer) {
            pollfd p{fd, POLLIN, 0};
            char buffer[1024];
            if (::poll(&p, 1, 5000) <= 0 || ::recv(fd, buffer, sizeof buffer, 0) <= 0) {
                ::close(fd);
                continue;
            }
        }
        fds.push_back(fd);
    }
    return fds;
}

void closeConnections(std::vector<int>& fds) {
    for (const int fd : fds) {
        ::close(fd);
    }
    fds.clear();
}

double residentMiB(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return -1;
}

} // namespace korvo::relayserver

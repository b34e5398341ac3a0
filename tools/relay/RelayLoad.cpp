#include "RelayLoad.h"

#include "model/SnapshotJson.h"
#include "model/UsageSnapshot.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <httplib.h>
#include <latch>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <simdjson.h>
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

    std::mutex mutex;
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(uploads));
    std::vector<std::string> lastBody(paired.size());
    // Every thread builds its bodies first; the clock starts once all are ready.
    std::latch ready(devices);
    std::latch start(1);
    std::vector<std::thread> threads;
    for (int d = 0; d < devices; ++d) {
        const int count = uploads / devices + (d < uploads % devices ? 1 : 0);
        threads.emplace_back([&, d, count] {
            const PairedDevice& device = paired[static_cast<std::size_t>(d)];
            httplib::Client client(host, targets.uploadPort);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            const httplib::Headers headers = {{"authorization", "Bearer " + device.connectorToken}};
            const std::string path = "/v1/sync-spaces/" + device.syncSpaceId + "/snapshots";
            std::vector<std::string> bodies;
            for (int k = 0; k < count; ++k) {
                bodies.push_back(snapshotBody(device, d * 1'000'000 + k));
            }
            std::vector<double> mine;
            int failed = 0, retried = 0;
            std::string problem;
            ready.count_down();
            start.wait();
            for (int k = 0; k < count; ++k) {
                const auto begin = std::chrono::steady_clock::now();
                auto res = client.Post(path.c_str(), headers, bodies[static_cast<std::size_t>(k)],
                                       "application/json");
                // A relay that went away: the client sends the same snapshot again.
                for (int again = 0; again < targets.retries && (!res || res->status >= 500);
                     ++again) {
                    ++retried;
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    res = client.Post(path.c_str(), headers, bodies[static_cast<std::size_t>(k)],
                                      "application/json");
                }
                const auto end = std::chrono::steady_clock::now();
                mine.push_back(std::chrono::duration<double, std::milli>(end - begin).count());
                if (!res || res->status != 200) {
                    ++failed;
                    if (problem.empty()) {
                        problem = res ? "HTTP " + std::to_string(res->status) + ": " + res->body
                                      : "transport error " + httplib::to_string(res.error());
                    }
                }
            }
            std::lock_guard lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
            report.failedUploads += failed;
            report.retried += retried;
            if (!problem.empty() && report.problems.size() < 5) {
                report.problems.push_back(device.deviceId + ": " + problem);
            }
            if (count > 0) {
                lastBody[static_cast<std::size_t>(d)] = bodies.back();
            }
        });
    }
    ready.wait();
    if (targets.uploadsStarting) {
        targets.uploadsStarting();
    }
    const auto begin = std::chrono::steady_clock::now();
    start.count_down();
    for (auto& thread : threads) {
        thread.join();
    }
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

// korvo-relay over loopback, under load and under attack. Scenarios:
//
//   plain      10,000 snapshot uploads from 50 concurrent devices: nothing lost, p99 < 50 ms.
//   idle       2,000 idle keep-alive connections held open while 200 devices upload 10,000
//              snapshots: nothing lost, p99 < 50 ms, a fresh client answered within 50 ms.
//   slowloris  500 sockets from one address send an unfinished request head and trickle it:
//              a fresh client is still answered within 50 ms.
//   floods     a header flood (64 connections streaming header fields) and a session flood
//              (5,000 pairing session requests): resident memory under 64 MiB, back near its
//              baseline afterwards.
//   shared     (only when asked for) --relays N relays on one database (--db, a PostgreSQL
//              URI): devices pair through the first, upload through the second and are read
//              back through the third; or, with --target HOST:PORT, all of it through a relay
//              or load balancer that is already running. Nothing may be lost; uploads that fail
//              or go unanswered are sent again up to --retries times. With --db-pid (the
//              PostgreSQL server's process id) the server's CPU time per upload is reported.
//
//   bench_relay_load [--scenario plain|idle|slowloris|floods|shared|all] [--devices N]
//                    [--uploads N] [--p99-limit-ms X] [--relay PATH] [--legacy]
//                    [--relay-arg ARG]... [--relays N] [--db URI] [--target HOST:PORT]
//                    [--retries N] [--db-pid PID]
//
// --relay runs another korvo-relay build; --legacy passes it none of the limit flags, so an
// older build can be measured side by side.

#include "RelayLoad.h"
#include "support/RelayProcess.h"
#include "support/TestHome.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

using namespace korvo::relayserver;
using korvo::test::RelayProcess;
using korvo::test::TestHome;

struct Settings {
    std::string scenario = "all";
    int devices = 0; // 0: the scenario's own
    int uploads = 10'000;
    double limit = 50.0;
    std::filesystem::path relay;
    bool legacy = false;
    std::vector<std::string> relayArgs; // passed on to the relay as they are
    int relays = 1;
    std::string db; // empty: a SQLite file in a temporary folder
    std::string target;
    int retries = 0;
    int dbPid = 0;
};

// CPU seconds (user and system) used so far by the process `pid`, its finished children and,
// for a server such as PostgreSQL, its live child processes.
double cpuSecondsOfTree(int pid) {
    const auto fieldsOf = [](int of) {
        std::ifstream in("/proc/" + std::to_string(of) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        std::vector<std::string> fields;
        const auto close = text.rfind(')');
        if (close != std::string::npos) {
            std::istringstream rest(text.substr(close + 2));
            for (std::string field; rest >> field;) {
                fields.push_back(field);
            }
        }
        return fields; // fields[0] is the state (field 3 of the file)
    };
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    double seconds = 0;
    if (auto own = fieldsOf(pid); own.size() > 14) {
        // utime, stime, cutime, cstime: fields 14-17
        seconds +=
            (std::stod(own[11]) + std::stod(own[12]) + std::stod(own[13]) + std::stod(own[14])) /
            tick;
    }
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            const int child = std::atoi(entry->d_name);
            if (child <= 0 || child == pid) {
                continue;
            }
            if (auto fields = fieldsOf(child); fields.size() > 12 && std::stoi(fields[1]) == pid) {
                seconds += (std::stod(fields[11]) + std::stod(fields[12])) / tick;
            }
        }
        ::closedir(proc);
    }
    return seconds;
}

// The relay at `executable`, up and listening; throws when it did not come up.
std::unique_ptr<RelayProcess> startedRelay(const std::string& executable, const std::string& db,
                                           const std::vector<std::string>& extra) {
    auto relay = std::make_unique<RelayProcess>(RelayProcess::Executable{executable}, db, extra);
    if (relay->port() <= 0) {
        throw std::runtime_error("korvo-relay did not start: " + executable);
    }
    return relay;
}

std::unique_ptr<RelayProcess> startRelay(const Settings& settings, const TestHome& dir,
                                         int devices) {
    std::vector<std::string> extra;
    if (!settings.legacy) {
        extra = {"--sessions-per-address", std::to_string(std::max(devices, 10))};
    }
    extra.insert(extra.end(), settings.relayArgs.begin(), settings.relayArgs.end());
    return startedRelay(settings.relay, dir.filePath("relay.db"), extra);
}

bool report(const char* name, bool pass, const std::string& figures) {
    std::printf("%-10s %s  %s\n", name, pass ? "PASS" : "FAIL", figures.c_str());
    std::fflush(stdout);
    return pass;
}

// CPU seconds (user and system) this process has used so far, all its threads together.
double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds all processes on this machine have used so far (every field of /proc/stat's
// "cpu" line but idle and iowait).
double machineCpuSeconds() {
    std::ifstream in("/proc/stat");
    std::string label;
    in >> label;
    double busy = 0;
    for (int field = 0; field < 8; ++field) {
        double ticks = 0;
        in >> ticks;
        busy += field == 3 || field == 4 ? 0 : ticks;
    }
    return busy / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool uploads(const Settings& s, const char* name, int devices, int idle) {
    TestHome dir;
    auto relay = startRelay(s, dir, devices);
    // Idle connections come from 10 addresses, within the default share of each.
    auto held = openConnections(relay->port(), idle, 200,
                                "GET /health HTTP/1.1\r\nHost: relay\r\n\r\n", true);
    // A sample every 5 ms: a few hundred over the run, so its maximum means something.
    LatencyProbe probe(relay->port(), 5);
    // Both sides share this machine's cores: their CPU time over the uploads tells how much of
    // the latency is waiting for a core.
    double relayCpu = 0, benchCpu = 0, machineCpu = 0;
    LoadTargets targets{"127.0.0.1", relay->port(), relay->port(), relay->port(), 0, [&] {
                            relayCpu = -cpuSecondsOfTree(relay->pid());
                            benchCpu = -ownCpuSeconds();
                            machineCpu = -machineCpuSeconds();
                        }};
    const auto load = runUploadLoad(targets, devices, s.uploads);
    relayCpu += cpuSecondsOfTree(relay->pid());
    benchCpu += ownCpuSeconds();
    machineCpu += machineCpuSeconds();
    probe.stop();
    const int stillOpen = static_cast<int>(held.size());
    closeConnections(held);
    char text[768];
    std::snprintf(text, sizeof text,
                  "%s; CPU over the uploads: relay %.2f s (%.0f us each), bench %.2f s, "
                  "other processes %.2f s of %ld cores' %.2f s; "
                  "%d idle connections held; fresh client %d answers, p50 %.2f ms, p99 %.2f ms, "
                  "max %.2f ms, %d failed",
                  load.summary().c_str(), relayCpu,
                  load.uploads > 0 ? relayCpu * 1e6 / load.uploads : 0.0, benchCpu,
                  std::max(0.0, machineCpu - relayCpu - benchCpu), ::sysconf(_SC_NPROCESSORS_ONLN),
                  load.seconds * static_cast<double>(::sysconf(_SC_NPROCESSORS_ONLN)), stillOpen,
                  probe.samples(), probe.percentileMs(0.50), probe.percentileMs(0.99),
                  probe.maxMs(), probe.failures());
    for (const auto& problem : load.problems) {
        std::printf("  %s\n", problem.c_str());
    }
    return report(name,
                  load.lostNothing() && load.p99Ms < s.limit && stillOpen == idle &&
                      (idle == 0 || (probe.maxMs() < s.limit && probe.failures() == 0)),
                  text);
}

bool slowLoris(const Settings& s) {
    TestHome dir;
    auto relay = startRelay(s, dir, 10);
    auto attackers = openConnections(relay->port(), 500, 500,
                                     "GET /health HTTP/1.1\r\nHost: relay\r\nx-slow: ", false);
    LatencyProbe probe(relay->port(), 20);
    for (int round = 0; round < 40; ++round) { // two seconds of trickling
        for (const int fd : attackers) {
            ::send(fd, "x", 1, MSG_NOSIGNAL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    probe.stop();
    closeConnections(attackers);
    char text[256];
    std::snprintf(text, sizeof text,
                  "500 slow-loris sockets; fresh client %d answers, p99 %.2f ms, max %.2f ms, "
                  "%d failed",
                  probe.samples(), probe.percentileMs(0.99), probe.maxMs(), probe.failures());
    return report("slowloris", probe.failures() == 0 && probe.maxMs() < s.limit, text);
}

bool floods(const Settings& s) {
    TestHome dir;
    auto relay = startRelay(s, dir, 10);
    const int pid = relay->pid();
    const double baseline = residentMiB(pid);
    double peak = baseline;
    // Header flood: 64 connections from 64 addresses stream header fields, 4 MiB each at most.
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < 64; ++i) {
            threads.emplace_back([&] {
                auto fds = openConnections(relay->port(), 1, 1, "", false);
                if (fds.empty()) {
                    return;
                }
                const std::string line = "x-flood: " + std::string(1000, 'a') + "\r\n";
                ::send(fds[0], "GET /health HTTP/1.1\r\nHost: relay\r\n", 36, MSG_NOSIGNAL);
                for (std::size_t sent = 0; sent < (4u << 20); sent += line.size()) {
                    if (::send(fds[0], line.data(), line.size(), MSG_NOSIGNAL) <= 0) {
                        break;
                    }
                }
                closeConnections(fds);
            });
        }
        for (int k = 0; k < 100 && threads.size() == 64; ++k) {
            peak = std::max(peak, residentMiB(pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (auto& t : threads) {
            t.join();
        }
        peak = std::max(peak, residentMiB(pid));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double afterHeaders = residentMiB(pid);
    // Session flood: 5,000 requests for a pairing session over one keep-alive connection.
    int created = 0, refused = 0;
    {
        httplib::Client client("127.0.0.1", relay->port());
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        const std::string body = R"({"connectorDeviceId":"FLOOD","connectorDeviceName":")" +
                                 std::string(100, 'n') + "\"}";
        for (int i = 0; i < 5000; ++i) {
            auto res = client.Post("/v1/pairing/sessions", body, "application/json");
            if (res && res->status == 200) {
                ++created;
            } else {
                ++refused;
            }
            if (i % 250 == 0) {
                peak = std::max(peak, residentMiB(pid));
            }
        }
    }
    peak = std::max(peak, residentMiB(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double after = residentMiB(pid);
    char text[256];
    std::snprintf(text, sizeof text,
                  "RSS baseline %.1f MiB, peak %.1f MiB, after header flood %.1f MiB, after "
                  "session flood %.1f MiB; sessions created %d, refused %d",
                  baseline, peak, afterHeaders, after, created, refused);
    return report("floods", peak < 64.0 && after < baseline + 16.0, text);
}

bool shared(const Settings& s) {
    TestHome dir;
    const int devices = s.devices > 0 ? s.devices : 200;
    std::vector<std::unique_ptr<RelayProcess>> relays;
    LoadTargets targets;
    targets.retries = s.retries;
    // A line to wait for, for a script that disturbs the relays during the uploads.
    targets.uploadsStarting = [] {
        std::printf("uploads starting\n");
        std::fflush(stdout);
    };
    if (!s.target.empty()) {
        const auto colon = s.target.rfind(':');
        targets.host = s.target.substr(0, colon);
        targets.pairPort = targets.uploadPort = targets.readPort =
            std::atoi(s.target.c_str() + colon + 1);
    } else {
        Settings each = s;
        each.relayArgs.insert(each.relayArgs.end(), {"--db-pool", "16"});
        for (int i = 0; i < std::max(1, s.relays); ++i) {
            std::vector<std::string> extra = {"--sessions-per-address",
                                              std::to_string(std::max(devices, 10))};
            extra.insert(extra.end(), each.relayArgs.begin(), each.relayArgs.end());
            relays.push_back(
                startedRelay(s.relay, s.db.empty() ? dir.filePath("relay.db") : s.db, extra));
        }
        const auto port = [&](std::size_t i) { return relays[i % relays.size()]->port(); };
        targets.pairPort = port(0);
        targets.uploadPort = port(1);
        targets.readPort = port(2);
    }
    const double cpuBefore = s.dbPid > 0 ? cpuSecondsOfTree(s.dbPid) : 0;
    const auto load = runUploadLoad(targets, devices, s.uploads);
    const double cpu = s.dbPid > 0 ? cpuSecondsOfTree(s.dbPid) - cpuBefore : 0;
    for (const auto& problem : load.problems) {
        std::printf("  %s\n", problem.c_str());
    }
    char text[512];
    std::snprintf(text, sizeof text, "%s; %s", load.summary().c_str(),
                  s.target.empty() ? (std::to_string(relays.size()) + " relay(s)").c_str()
                                   : ("through " + s.target).c_str());
    std::string figures = text;
    if (s.dbPid > 0) {
        // Pairing is a few hundred statements: nearly all of it is the uploads'.
        std::snprintf(text, sizeof text, "; database CPU %.2f s, %.0f us per upload", cpu,
                      load.uploads > 0 ? cpu * 1e6 / load.uploads : 0.0);
        figures += text;
    }
    return report("shared", load.lostNothing() && load.p99Ms < s.limit, figures);
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (flag == "--legacy") {
            s.legacy = true;
            continue;
        }
        ++i;
        if (flag == "--scenario") {
            s.scenario = value;
        } else if (flag == "--devices") {
            s.devices = std::atoi(value);
        } else if (flag == "--uploads") {
            s.uploads = std::atoi(value);
        } else if (flag == "--p99-limit-ms") {
            s.limit = std::atof(value);
        } else if (flag == "--relay") {
            s.relay = value;
        } else if (flag == "--relay-arg") {
            s.relayArgs.push_back(value);
        } else if (flag == "--relays") {
            s.relays = std::atoi(value);
        } else if (flag == "--db") {
            s.db = value;
        } else if (flag == "--target") {
            s.target = value;
        } else if (flag == "--retries") {
            s.retries = std::atoi(value);
        } else if (flag == "--db-pid") {
            s.dbPid = std::atoi(value);
        } else {
            std::fprintf(stderr,
                         "usage: %s [--scenario plain|idle|slowloris|floods|shared|all] "
                         "[--devices N] [--uploads N] [--p99-limit-ms X] [--relay PATH] "
                         "[--legacy] [--relay-arg ARG]... [--relays N] [--db URI] "
                         "[--target HOST:PORT] [--retries N] [--db-pid PID]\n",
                         argv[0]);
            return 2;
        }
    }
    if (s.relay.empty()) {
        s.relay = std::filesystem::absolute(argv[0]).parent_path() / "korvo-relay";
    }
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    // The descriptor table sized for every socket a run opens, before any run: growing it on
    // demand stalls every thread opening a socket (the probe's too) for an RCU grace period.
    if (const int copy = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC,
                                 static_cast<int>(std::min<rlim_t>(files.rlim_cur, 8192) - 1));
        copy >= 0) {
        ::close(copy);
    }
    const auto wants = [&](const char* name) { return s.scenario == "all" || s.scenario == name; };
    bool pass = true;
    if (wants("plain")) {
        pass &= uploads(s, "plain", s.devices > 0 ? s.devices : 50, 0);
    }
    if (wants("idle")) {
        pass &= uploads(s, "idle", s.devices > 0 ? s.devices : 200, 2000);
    }
    if (wants("slowloris")) {
        pass &= slowLoris(s);
    }
    if (wants("floods")) {
        pass &= floods(s);
    }
    if (s.scenario == "shared") {
        pass &= shared(s);
    }
    std::printf("relay load: %s (limit %.0f ms)\n", pass ? "PASS" : "FAIL", s.limit);
    return pass ? 0 : 1;
}

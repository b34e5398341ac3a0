// korvo-relay: the relay API on a local address, state in one SQLite file or in a PostgreSQL
// database shared by several relays.

#include "RelayLog.h"
#include "RelayServer.h"
#include "RelayStorage.h"
#include "SnapshotValidation.h"
#include "model/Clock.h"
#include "model/SnapshotJson.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <thread>

namespace {

using korvo::relayserver::UnixTime;

constexpr const char* kUsage =
    "usage: korvo-relay [--listen HOST:PORT] [--db FILE] [--environment NAME] [--manifest FILE]\n"
    "  --listen HOST:PORT  address to serve on (default 127.0.0.1:8787; port 0 picks a free one)\n"
    "  --db FILE|URI       where the relay's state is: a SQLite database file (default\n"
    "                      korvo-relay.db), or a PostgreSQL database (postgresql://...) that\n"
    "                      several relays may share\n"
    "  --db-pool N         connections to PostgreSQL [8]\n"
    "  --db-statement-timeout SECONDS   a statement's run on PostgreSQL [5]\n"
    "  --db-lock-timeout SECONDS        a statement's wait for a lock [3]\n"
    "  --db-connect-timeout SECONDS     opening a connection [5]\n"
    "  --db-pool-wait SECONDS           waiting for a free pooled connection [2]\n"
    "                      past any of these the request is answered 503 with retry-after\n"
    "  --snapshot-commit async|sync\n"
    "                      on PostgreSQL, whether a snapshot upload is answered before its\n"
    "                      commit is flushed (async, the default: a database power loss may\n"
    "                      lose the last moments of snapshots, which connectors replace)\n"
    "  --workers N         threads for requests that use the database [2 x --db-pool + 4 with\n"
    "                      PostgreSQL, else --threads]\n"
    "  --usage-series on|off\n"
    "                      keep each connector's used percentages for 48 hours, one point per\n"
    "                      5 minutes, for the web view's sparklines and pace [on]\n"
    "  --retention-days N  delete a sync space, its devices and snapshot, once none of its\n"
    "                      devices was seen for N days (0: keep them) [90]\n"
    "  --log-level LEVEL   error, warning, info (a line per request) or debug [warning]\n"
    "  --metrics-listen HOST:PORT\n"
    "                      serve Prometheus metrics as GET /metrics there (off by default;\n"
    "                      keep it on loopback or a private network)\n"
    "  --trusted-proxy CIDR\n"
    "                      take the client's address from X-Forwarded-For when the peer is in\n"
    "                      this range (repeatable); limits then count the client, not the proxy\n"
    "  --environment NAME  environment named in /health answers\n"
    "  --manifest FILE     file served as /download/<platform>/manifest.json\n"
    "  --tls-cert FILE --tls-key FILE\n"
    "                      serve HTTPS with this PEM certificate chain and private key\n"
    "Limits (defaults in brackets):\n"
    "  --max-body-bytes N                request body size [1048576]; more: 413\n"
    "  --max-header-bytes N              request line and header fields [16384]; more: 431\n"
    "  --max-headers N                   header fields per request [64]; more: 431\n"
    "  --head-timeout SECONDS            to send a request line and its headers [10]\n"
    "  --body-timeout SECONDS            to send a request body [30]\n"
    "  --idle-timeout SECONDS            a kept-alive connection between requests [60]\n"
    "  --send-timeout SECONDS            for a client to read an answer [30]\n"
    "  --max-connections N               open connections in total [10000]\n"
    "  --max-connections-per-address N   per IPv4 address or IPv6 /64 [256]\n"
    "  --threads N                       threads serving connections [one per core, at\n"
    "                                    most 4; 4 with PostgreSQL]\n"
    "  --max-body-memory N               request bodies in memory at once, all connections\n"
    "                                    [67108864]; past it: 503\n"
    "  --sessions-per-address N          pairing sessions a client may create at once, then\n"
    "                                    N per 10 minutes [10]; more: 429\n"
    "Prints \"listening on http://HOST:PORT\" (https with TLS) once it accepts connections.\n";

struct Arguments {
    std::string host = "127.0.0.1";
    int port = 8787;
    std::optional<std::string> metricsHost;
    int metricsPort = 0;
    std::string db = "korvo-relay.db";
    unsigned dbPool = 8;
    korvo::relayserver::DatabaseLimits dbLimits;
    unsigned workers = 0; // chosen in main() unless given
    unsigned retentionDays = 90;
    korvo::relayserver::TrustedProxies trustedProxies;
    std::optional<std::string> environment;
    std::optional<std::string> manifest;
    std::optional<std::string> tlsCert;
    std::optional<std::string> tlsKey;
    korvo::relayserver::HttpLimits limits;
    unsigned sessionsPerAddress = 10;
    std::size_t maxPairingSessions = 1000;
    bool usageSeries = true;
    // Hidden, for tests: read the current Unix time from this file on every request.
    std::optional<std::string> clockFile;
};

bool parsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = std::stoi(text);
    return port <= 65535;
}

// A whole number within [minimum, maximum].
template <typename T> bool parseCount(const std::string& text, T minimum, T maximum, T& out) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const auto value = std::stoull(text);
    if (value < static_cast<unsigned long long>(minimum) ||
        value > static_cast<unsigned long long>(maximum)) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

// Seconds, possibly with a fraction, from 0.05 to a day.
bool parseSeconds(const std::string& text, std::chrono::milliseconds& out) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(seconds >= 0.05) ||
        seconds > 86'400) {
        return false;
    }
    out = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    return true;
}

// Applies one of the limit flags; false when `flag` is none of them or `value` is out of range.
bool parseLimit(const std::string& flag, const std::string& value,
                korvo::relayserver::HttpLimits& limits, bool& known) {
    known = true;
    if (flag == "--max-body-bytes") {
        return parseCount<std::size_t>(value, 1, std::size_t{1} << 30, limits.maxBodyBytes);
    }
    if (flag == "--max-header-bytes") {
        return parseCount<std::size_t>(value, 256, 1 << 20, limits.maxHeaderBytes);
    }
    if (flag == "--max-headers") {
        return parseCount<std::size_t>(value, 1, 10'000, limits.maxHeaderCount);
    }
    if (flag == "--head-timeout") {
        return parseSeconds(value, limits.headTimeout);
    }
    if (flag == "--body-timeout") {
        return parseSeconds(value, limits.bodyTimeout);
    }
    if (flag == "--idle-timeout") {
        return parseSeconds(value, limits.idleTimeout);
    }
    if (flag == "--send-timeout") {
        return parseSeconds(value, limits.sendTimeout);
    }
    if (flag == "--max-connections") {
        return parseCount<unsigned>(value, 1, 1'000'000, limits.maxConnections);
    }
    if (flag == "--max-connections-per-address") {
        return parseCount<unsigned>(value, 1, 1'000'000, limits.maxConnectionsPerAddress);
    }
    if (flag == "--max-body-memory") {
        return parseCount<std::size_t>(value, 1 << 20, std::size_t{1} << 40,
                                       limits.bodyBudgetBytes);
    }
    if (flag == "--threads") {
        return parseCount<unsigned>(value, 1, 256, limits.threads);
    }
    known = false;
    return false;
}

std::optional<Arguments> parse(int argc, char** argv) {
    Arguments args;
    args.limits.threads = 0; // unless given: chosen from the store and the cores, see main()
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::cerr << "korvo-relay: " << flag << " needs a value\n" << kUsage;
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (flag == "--listen" || flag == "--metrics-listen") {
            const auto colon = value.rfind(':');
            int port = 0;
            if (colon == std::string::npos || colon == 0 ||
                !parsePort(value.substr(colon + 1), port)) {
                std::cerr << "korvo-relay: " << flag << " takes HOST:PORT\n";
                return std::nullopt;
            }
            std::string host = value.substr(0, colon);
            // "[::1]:8787": the brackets only separate an IPv6 address from the port.
            if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
                host = host.substr(1, host.size() - 2);
            }
            if (flag == "--listen") {
                args.host = host;
                args.port = port;
            } else {
                args.metricsHost = host;
                args.metricsPort = port;
            }
        } else if (flag == "--db") {
            args.db = value;
        } else if (flag == "--db-pool") {
            if (!parseCount<unsigned>(value, 1, 1000, args.dbPool)) {
                std::cerr << "korvo-relay: " << flag << " out of range: " << value << "\n";
                return std::nullopt;
            }
        } else if (flag == "--db-statement-timeout" || flag == "--db-lock-timeout" ||
                   flag == "--db-connect-timeout" || flag == "--db-pool-wait") {
            auto& target = flag == "--db-statement-timeout" ? args.dbLimits.statementTimeout
                           : flag == "--db-lock-timeout"    ? args.dbLimits.lockTimeout
                           : flag == "--db-connect-timeout" ? args.dbLimits.connectTimeout
                                                            : args.dbLimits.poolWait;
            if (!parseSeconds(value, target)) {
                std::cerr << "korvo-relay: " << flag << " out of range: " << value << "\n";
                return std::nullopt;
            }
        } else if (flag == "--snapshot-commit") {
            if (value != "async" && value != "sync") {
                std::cerr << "korvo-relay: --snapshot-commit takes async or sync\n";
                return std::nullopt;
            }
            args.dbLimits.asyncSnapshotCommit = value == "async";
        } else if (flag == "--usage-series") {
            if (value != "on" && value != "off") {
                std::cerr << "korvo-relay: --usage-series takes on or off\n";
                return std::nullopt;
            }
            args.usageSeries = value == "on";
        } else if (flag == "--retention-days") {
            if (!parseCount<unsigned>(value, 0, 100'000, args.retentionDays)) {
                std::cerr << "korvo-relay: " << flag << " out of range: " << value << "\n";
                return std::nullopt;
            }
        } else if (flag == "--workers") {
            if (!parseCount<unsigned>(value, 1, 1024, args.workers)) {
                std::cerr << "korvo-relay: " << flag << " out of range: " << value << "\n";
                return std::nullopt;
            }
        } else if (flag == "--log-level") {
            const auto level = korvo::relayserver::parseLogLevel(value);
            if (!level) {
                std::cerr << "korvo-relay: --log-level takes error, warning, info or debug\n";
                return std::nullopt;
            }
            korvo::relayserver::setLogLevel(*level);
        } else if (flag == "--trusted-proxy") {
            if (!args.trustedProxies.add(value)) {
                std::cerr << "korvo-relay: --trusted-proxy takes an address range (CIDR): " << value
                          << "\n";
                return std::nullopt;
            }
        } else if (flag == "--environment") {
            args.environment = value;
        } else if (flag == "--manifest") {
            args.manifest = value;
        } else if (flag == "--clock-file") {
            args.clockFile = value;
        } else if (flag == "--sessions-per-address") {
            if (!parseCount<unsigned>(value, 1, 1'000'000, args.sessionsPerAddress)) {
                std::cerr << "korvo-relay: " << flag << " out of range: " << value << "\n";
                return std::nullopt;
            }
        } else if (flag == "--max-pairing-sessions") {
            if (!parseCount<std::size_t>(value, 1, 1'000'000, args.maxPairingSessions)) {
                std::cerr << "korvo-relay: " << flag << " out of range: " << value << "\n";
                return std::nullopt;
            }
        } else if (flag == "--tls-cert") {
            args.tlsCert = value;
        } else if (flag == "--tls-key") {
            args.tlsKey = value;
        } else if (bool known = false; !parseLimit(flag, value, args.limits, known)) {
            if (known) {
                std::cerr << "korvo-relay: " << flag << " out of range: " << value << "\n";
            } else {
                std::cerr << "korvo-relay: unknown option " << flag << "\n" << kUsage;
            }
            return std::nullopt;
        }
    }
    if (args.tlsCert.has_value() != args.tlsKey.has_value()) {
        std::cerr << "korvo-relay: --tls-cert and --tls-key go together\n";
        return std::nullopt;
    }
    return args;
}

std::optional<std::string> readPem(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text(256 * 1024 + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    const auto count = static_cast<std::size_t>(in.gcount());
    if (!in.eof() || count == 0 || count > 256 * 1024) {
        return std::nullopt;
    }
    text.resize(count);
    return text;
}

// Requests to the SQLite store never wait on the network: one serving thread per core this
// process may run on, at most 4. More threads than cores only preempt one another (the one
// holding the store among them) and share the connections less evenly: on two cores, four
// threads doubled the slowest uploads. Requests to PostgreSQL wait for its answers: 4 threads.
unsigned defaultThreads(const std::string& db) {
    if (korvo::relayserver::isPostgresUri(db)) {
        return 4;
    }
    cpu_set_t cores;
    CPU_ZERO(&cores);
    const int count = ::sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 4;
    return static_cast<unsigned>(std::clamp(count, 1, 4));
}

// Lets the relay hold as many connections as the system allows this process.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::function<UnixTime()> makeClock(const std::optional<std::string>& clockFile) {
    if (!clockFile) {
        auto clock = korvo::systemClock();
        return [clock] { return korvo::unixSecondsTruncated(clock()); };
    }
    return [file = *clockFile] {
        std::ifstream in(file);
        long long seconds = 0;
        in >> seconds;
        return static_cast<UnixTime>(seconds);
    };
}

} // namespace

int main(int argc, char** argv) {
    const auto args = parse(argc, argv);
    if (!args) {
        return 2;
    }
    // SIGINT and SIGTERM are taken by a thread that stops the server; every other thread,
    // created after this point, inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Request bodies (up to a megabyte each) come from mmap and go back to the system when
    // freed: glibc would otherwise raise this threshold after the first such free and keep a
    // flood's memory in its heap.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    try {
        const auto clock = makeClock(args->clockFile);
        auto dbLimits = args->dbLimits;
        dbLimits.retention = static_cast<UnixTime>(args->retentionDays) * 86'400;
        const auto store =
            korvo::relayserver::openRelayStorage(args->db, args->dbPool, dbLimits, clock);
        korvo::relayserver::RelayOptions options;
        options.environment = args->environment;
        options.usageSeries = args->usageSeries;
        if (args->manifest) {
            options.manifest = *args->manifest;
        }
        options.clock = clock;
        options.trustedProxies = args->trustedProxies;
        options.http = args->limits;
        if (options.http.threads == 0) {
            options.http.threads = defaultThreads(args->db);
        }
        // Enough workers that those waiting for a pooled connection (at most --db-pool-wait)
        // answer while others wait on the database.
        options.http.workers = args->workers != 0                            ? args->workers
                               : korvo::relayserver::isPostgresUri(args->db) ? 2 * args->dbPool + 4
                                                                             : options.http.threads;
        options.sessionLimits.burst = args->sessionsPerAddress;
        options.maxLiveSessions = args->maxPairingSessions;
        if (args->tlsCert) {
            auto certificate = readPem(*args->tlsCert);
            auto key = readPem(*args->tlsKey);
            if (!certificate || !key) {
                std::cerr << "korvo-relay: cannot read the TLS certificate or key\n";
                return 1;
            }
            options.tls = korvo::relayserver::TlsIdentity{std::move(*certificate), std::move(*key)};
        }
        raiseDescriptorLimit();
        korvo::relayserver::RelayServer server(*store, options,
                                               korvo::relayserver::validateUploadedSnapshot);
        const int port = server.bind(args->host, args->port);
        if (port < 0) {
            std::cerr << "korvo-relay: cannot listen on " << args->host << ":" << args->port
                      << "\n";
            return 1;
        }
        if (args->metricsHost && server.bindMetrics(*args->metricsHost, args->metricsPort) < 0) {
            std::cerr << "korvo-relay: cannot listen on " << *args->metricsHost << ":"
                      << args->metricsPort << " for metrics\n";
            return 1;
        }
        std::thread stopper([&server, signals] {
            int received = 0;
            sigwait(&signals, &received);
            server.stop();
        });
        const bool v6 = args->host.find(':') != std::string::npos;
        std::printf("listening on %s://%s%s%s:%d\n", args->tlsCert ? "https" : "http",
                    v6 ? "[" : "", args->host.c_str(), v6 ? "]" : "", port);
        std::fflush(stdout);
        const bool served = server.listen();
        // listen() ends only after stop(); the stopper has returned by then unless serving
        // failed, in which case wake it.
        if (!served) {
            pthread_kill(stopper.native_handle(), SIGTERM);
        }
        stopper.join();
        return served ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "korvo-relay: " << e.what() << "\n";
        return 1;
    }
}

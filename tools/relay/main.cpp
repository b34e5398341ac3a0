// korvo-relay: the relay API on a local address, state in one SQLite file.

#include "RelayServer.h"
#include "RelayStore.h"
#include "model/Clock.h"
#include "model/SnapshotJson.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace {

using korvo::relayserver::UnixTime;

constexpr const char* kUsage =
    "usage: korvo-relay [--listen HOST:PORT] [--db FILE] [--environment NAME] [--manifest FILE]\n"
    "  --listen HOST:PORT  address to serve on (default 127.0.0.1:8787; port 0 picks a free one)\n"
    "  --db FILE           SQLite database holding the relay's state (default korvo-relay.db)\n"
    "  --environment NAME  environment named in /health answers\n"
    "  --manifest FILE     file served as /download/<platform>/manifest.json\n"
    "Prints \"listening on http://HOST:PORT\" once it accepts connections.\n";

struct Arguments {
    std::string host = "127.0.0.1";
    int port = 8787;
    std::string db = "korvo-relay.db";
    std::optional<std::string> environment;
    std::optional<std::string> manifest;
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

std::optional<Arguments> parse(int argc, char** argv) {
    Arguments args;
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
        if (flag == "--listen") {
            const auto colon = value.rfind(':');
            if (colon == std::string::npos || colon == 0 ||
                !parsePort(value.substr(colon + 1), args.port)) {
                std::cerr << "korvo-relay: --listen takes HOST:PORT\n";
                return std::nullopt;
            }
            args.host = value.substr(0, colon);
            // "[::1]:8787": the brackets only separate an IPv6 address from the port.
            if (args.host.size() > 2 && args.host.front() == '[' && args.host.back() == ']') {
                args.host = args.host.substr(1, args.host.size() - 2);
            }
        } else if (flag == "--db") {
            args.db = value;
        } else if (flag == "--environment") {
            args.environment = value;
        } else if (flag == "--manifest") {
            args.manifest = value;
        } else if (flag == "--clock-file") {
            args.clockFile = value;
        } else {
            std::cerr << "korvo-relay: unknown option " << flag << "\n" << kUsage;
            return std::nullopt;
        }
    }
    return args;
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

// Accepts the body when it decodes as a snapshot of the path's sync space.
std::optional<std::string> validateSnapshot(const std::string& body, const std::string& syncSpaceId,
                                            std::string& snapshotId) {
    auto decoded = korvo::decodeSnapshot(body);
    if (!decoded.ok()) {
        return "Snapshot does not decode: " + decoded.error().description();
    }
    if (decoded.value().syncSpaceId != syncSpaceId) {
        return "Snapshot syncSpaceId does not match the sync space of the path";
    }
    snapshotId = decoded.value().snapshotId;
    return std::nullopt;
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

    try {
        korvo::relayserver::RelayStore store(args->db);
        korvo::relayserver::RelayOptions options;
        options.environment = args->environment;
        if (args->manifest) {
            options.manifest = *args->manifest;
        }
        options.clock = makeClock(args->clockFile);
        korvo::relayserver::RelayServer server(store, options, validateSnapshot);
        const int port = server.bind(args->host, args->port);
        if (port < 0) {
            std::cerr << "korvo-relay: cannot listen on " << args->host << ":" << args->port
                      << "\n";
            return 1;
        }
        std::thread stopper([&server, signals] {
            int received = 0;
            sigwait(&signals, &received);
            server.stop();
        });
        const bool v6 = args->host.find(':') != std::string::npos;
        std::printf("listening on http://%s%s%s:%d\n", v6 ? "[" : "", args->host.c_str(),
                    v6 ? "]" : "", port);
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

// Load on korvo-relay over loopback: 10,000 snapshot uploads from 50 concurrent connector
// devices. Passes when nothing is lost (every device's latest snapshot reads back byte for byte)
// and the 99th-percentile upload latency stays under 50 ms.
//
//   bench_relay_load [--devices N] [--uploads N] [--p99-limit-ms X]

#include "RelayLoad.h"
#include "RelayProcess.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    int devices = 50;
    int uploads = 10'000;
    double limit = 50.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--devices") {
            devices = std::atoi(argv[i + 1]);
        } else if (flag == "--uploads") {
            uploads = std::atoi(argv[i + 1]);
        } else if (flag == "--p99-limit-ms") {
            limit = std::atof(argv[i + 1]);
        }
    }
    if (devices <= 0 || uploads <= 0) {
        std::fprintf(stderr, "usage: %s [--devices N] [--uploads N] [--p99-limit-ms X]\n", argv[0]);
        return 2;
    }
    const auto binDir = std::filesystem::absolute(argv[0]).parent_path();
    korvo::relayserver::TemporaryDirectory scratch;
    korvo::relayserver::RelayProcess relay(binDir / "korvo-relay", scratch.path() / "relay.db");
    const auto report =
        korvo::relayserver::runUploadLoad("127.0.0.1", relay.port(), devices, uploads);
    std::printf("relay load: %s\n", report.summary().c_str());
    for (const auto& problem : report.problems) {
        std::printf("  %s\n", problem.c_str());
    }
    const bool pass = report.lostNothing() && report.p99Ms < limit;
    std::printf("relay load: %s (p99 limit %.0f ms)\n", pass ? "PASS" : "FAIL", limit);
    return pass ? 0 : 1;
}

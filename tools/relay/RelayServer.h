#pragma once

#include "ClaimThrottle.h"
#include "RelayStore.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace httplib {
class Server;
}

namespace korvo::relayserver {

struct RelayOptions {
    std::optional<std::string> environment;
    std::optional<std::filesystem::path> manifest;
    std::function<UnixTime()> clock;
    int workerThreads = 64;
    ClaimThrottle::Limits claimLimits;
};

// Checks an uploaded body: nothing when it is a snapshot of `syncSpaceId` (its id is returned
// through `snapshotId`), otherwise the reason it was refused.
using SnapshotValidator = std::function<std::optional<std::string>(
    const std::string& body, const std::string& syncSpaceId, std::string& snapshotId)>;

// The relay's HTTP API over a RelayStore.
class RelayServer {
public:
    static constexpr std::size_t kMaxBodyBytes = 1 << 20;

    RelayServer(RelayStore& store, RelayOptions options, SnapshotValidator validator);
    ~RelayServer();

    // Binds to host:port (port 0 picks a free one); returns the bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); false when serving failed.
    bool listen();
    void stop();

private:
    void routes();

    RelayStore& store_;
    RelayOptions options_;
    SnapshotValidator validator_;
    ClaimThrottle claimThrottle_;
    std::unique_ptr<httplib::Server> server_;
};

} // namespace korvo::relayserver

#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvo::relayserver {

// korvo-relay started as a child process on 127.0.0.1 with a free port, for tests and the load
// benchmark. Stopped (SIGTERM, then waited for) when destroyed or by stop(). On Linux the child
// also ends when the thread that started it ends, so a crashed test leaves no relay behind:
// start it from a thread that outlives it.
class RelayProcess {
public:
    // `extra` are further command-line arguments (--environment, --manifest, --clock-file).
    RelayProcess(std::filesystem::path executable, std::filesystem::path db,
                 std::vector<std::string> extra = {});
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Exit status of the process after a clean SIGTERM (0 expected).
    int stop();

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// A fresh, empty directory under the system temporary directory, removed on destruction.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace korvo::relayserver

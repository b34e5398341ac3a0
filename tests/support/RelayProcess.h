#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvo::test {

// korvo-relay run as a child process on 127.0.0.1, for the tests, the load benchmark and the
// screenshot tool. `port` 0 takes a free one; a fixed port lets a test start a second relay where
// the first one was. `extra` are more arguments (--manifest, --environment, --clock-file). The
// relay is killed when this object goes, also when an assertion ends a test early, and on Linux
// when the thread that started it ends, so that a crashed test leaves no relay behind.
class RelayProcess {
public:
    // A korvo-relay program other than the one of this build.
    struct Executable {
        std::filesystem::path path;
    };

    // The korvo-relay of this build with its state in `db`, or in the schema of KORVO_TEST_DB
    // that stands for that file (see testDatabase).
    explicit RelayProcess(const std::string& db, std::vector<std::string> extra = {}, int port = 0);
    // `executable` with its state at `database` as given.
    RelayProcess(const Executable& executable, const std::string& database,
                 std::vector<std::string> extra = {}, int port = 0);
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // False when the relay did not come up (its port line never arrived) or has ended since.
    bool isRunning();
    // 0 when the relay did not come up.
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path = {}) const { return baseURL() + path; }

    // SIGTERM, then waits up to 10 s: the exit code, 0 after a clean shutdown; -1 when it did
    // not exit by itself (it is killed then) or was not running.
    int stop();
    // Sends a signal: SIGSTOP freezes it (connections are still accepted by the system, nothing
    // is answered), SIGCONT lets it go on.
    void signal(int number);
    // Ends it at once, as a crash would; its database stays.
    void kill();

private:
    void start(const std::filesystem::path& executable, std::vector<std::string> args);
    // Waits up to `milliseconds` for the child to end; its wait status, or -1.
    int reap(int milliseconds);

    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace korvo::test

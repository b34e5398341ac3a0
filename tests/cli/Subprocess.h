#pragma once

// Runs the built korvo-connector as a child process with its own environment, feeds its stdin and
// collects its stdout and stderr, so tests exercise the real program.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvo::test {

struct ProcessResult {
    int exitCode = -1; // -1 when the process did not exit normally (signal, time-out)
    std::string out;
    std::string err;
};

// A private home for one test: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME all point
// into a fresh temporary folder that is removed afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }
    // The environment for a child: a copy of this process's environment with the private folders
    // and without a session bus.
    std::map<std::string, std::string> environment() const;
    // Copies a fixture folder (below the fixtures directory) into the home.
    void copyFixture(const std::string& name) const;

private:
    std::filesystem::path root_;
};

class Subprocess {
public:
    // With keepInputOpen the child's stdin stays open after `input` until the child ends.
    Subprocess(const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment, const std::string& input = {},
               bool keepInputOpen = false);
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    // Reads output until the predicate holds for stdout or the time runs out; returns whether it
    // held.
    bool waitForOutput(const std::function<bool(const std::string&)>& predicate,
                       std::chrono::milliseconds timeout);
    // Waits for the exit, killing the child when the time runs out.
    ProcessResult finish(std::chrono::milliseconds timeout);
    void signal(int number);
    const std::string& out() const { return result_.out; }
    const std::string& err() const { return result_.err; }

private:
    bool pump(std::chrono::milliseconds timeout);
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int inFd_ = -1; // kept open for a child that should never see the end of its input
    ProcessResult result_;
};

// Path of a program built into the bin folder.
std::string binary(const std::string& name);

// Runs korvo-connector to completion.
ProcessResult runConnector(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment,
                           const std::string& input = {},
                           std::chrono::milliseconds timeout = std::chrono::seconds(20));

std::string readFile(const std::filesystem::path& path);

} // namespace korvo::test

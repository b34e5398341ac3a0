#include "RelayProcess.h"

#include "TestDatabase.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace korvo::test {

RelayProcess::RelayProcess(const std::string& db, std::vector<std::string> extra, int port)
    : RelayProcess(Executable{KORVO_BIN_DIR "/korvo-relay"}, testDatabase(db), std::move(extra),
                   port) {}

RelayProcess::RelayProcess(const Executable& executable, const std::string& database,
                           std::vector<std::string> extra, int port) {
    std::vector<std::string> args = {executable.path.string(), "--listen",
                                     "127.0.0.1:" + std::to_string(port), "--db", database};
    args.insert(args.end(), extra.begin(), extra.end());
    start(executable.path, std::move(args));
}

void RelayProcess::start(const std::filesystem::path& executable, std::vector<std::string> args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
#ifdef __linux__
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
#else
        (void)parent;
#endif
        ::dup2(out[1], STDOUT_FILENO);
        if (const int none = ::open("/dev/null", O_RDONLY); none >= 0) {
            ::dup2(none, STDIN_FILENO);
        }
        ::execv(executable.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    // The first line is "listening on http://127.0.0.1:PORT"; the relay writes nothing more
    // there.
    std::string line;
    pollfd fd{out[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && ::poll(&fd, 1, 10'000) > 0) {
        char buffer[256];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    const auto colon = line.rfind(':');
    if (line.rfind("listening on ", 0) == 0 && colon != std::string::npos) {
        port_ = std::atoi(line.c_str() + colon + 1);
    }
    if (port_ <= 0) {
        kill();
    }
}

RelayProcess::~RelayProcess() {
    kill();
}

bool RelayProcess::isRunning() {
    if (port_ <= 0 || pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int RelayProcess::reap(int milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            pid_ = -1;
            return status;
        }
        if (ended < 0 && errno != EINTR) { // not a child of this process any more
            pid_ = -1;
            return -1;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int RelayProcess::stop() {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    const int status = reap(10'000);
    if (status < 0) {
        kill();
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void RelayProcess::signal(int number) {
    if (pid_ > 0) {
        ::kill(pid_, number);
    }
}

void RelayProcess::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        reap(5'000);
        pid_ = -1;
    }
}

} // namespace korvo::test

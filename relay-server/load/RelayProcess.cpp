#include "RelayProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <unistd.h>

namespace korvo::relayserver {

RelayProcess::RelayProcess(std::filesystem::path executable, std::filesystem::path db,
                           std::vector<std::string> extra) {
    std::vector<std::string> args = {executable.string(), "--listen", "127.0.0.1:0", "--db",
                                     db.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    int out[2];
    if (::pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
#ifdef __linux__
        // A test that dies without its destructors must not leave a relay running.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
#else
        (void)parent;
#endif
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    // The first line is "listening on http://127.0.0.1:PORT".
    std::string line;
    pollfd fd{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos) {
        if (::poll(&fd, 1, 10'000) <= 0) {
            break;
        }
        char buffer[256];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    const auto colon = line.rfind(':');
    if (line.rfind("listening on http://", 0) != 0 || colon == std::string::npos) {
        stop();
        throw std::runtime_error("korvo-relay did not start: " + line);
    }
    port_ = std::atoi(line.c_str() + colon + 1);
}

RelayProcess::~RelayProcess() {
    stop();
}

int RelayProcess::stop() {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvo-relay-test.XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace korvo::relayserver

#include "Subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace korvo::test {
namespace {

using Clock = std::chrono::steady_clock;

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
}

} // namespace

TempHome::TempHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "korvo-cli-test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    for (const char* folder : {"home", "config", "data", "cache"}) {
        std::filesystem::create_directories(root_ / folder);
    }
}

TempHome::~TempHome() {
    std::error_code ignored;
    std::filesystem::permissions(root_ / "home", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
}

std::map<std::string, std::string> TempHome::environment() const {
    std::map<std::string, std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        auto equals = text.find('=');
        if (equals != std::string::npos) {
            result[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    result["HOME"] = home().string();
    result["XDG_CONFIG_HOME"] = (root_ / "config").string();
    result["XDG_DATA_HOME"] = (root_ / "data").string();
    result["XDG_CACHE_HOME"] = (root_ / "cache").string();
    // No Secret Service: the device token goes to the private file keychain below XDG_DATA_HOME,
    // so parallel tests never share a token.
    result["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (root_ / "no-session-bus").string();
    result.erase("DISPLAY");
    // Tools' environment variables of the developer's own session must not leak into a test.
    for (const char* name :
         {"CODEX_HOME", "CLAUDE_CONFIG_DIR", "COPILOT_OTEL_FILE_EXPORTER_PATH"}) {
        result.erase(name);
    }
    return result;
}

void TempHome::copyFixture(const std::string& name) const {
    std::filesystem::copy(std::filesystem::path(KORVO_FIXTURES_DIR) / name, home(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
}

Subprocess::Subprocess(const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment,
                       const std::string& input, bool keepInputOpen) {
    int in[2];
    int out[2];
    int err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);
    std::vector<std::string> envText;
    for (const auto& [name, value] : environment) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : envText) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (keepInputOpen) {
        inFd_ = ::dup(in[1]);
    }
    // Feed stdin from a thread so that a child which stops reading early cannot block the test.
    std::thread([fd = in[1], input] {
        std::signal(SIGPIPE, SIG_IGN);
        std::size_t done = 0;
        while (done < input.size()) {
            ssize_t count = ::write(fd, input.data() + done, input.size() - done);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                break;
            }
            done += static_cast<std::size_t>(count);
        }
        ::close(fd);
    }).detach();
}

Subprocess::~Subprocess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) {
        ::close(outFd_);
    }
    if (errFd_ >= 0) {
        ::close(errFd_);
    }
    if (inFd_ >= 0) {
        ::close(inFd_);
    }
}

bool Subprocess::pump(std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
    if (ready <= 0) {
        return ready == 0 || errno == EINTR;
    }
    bool open = false;
    std::string* targets[2] = {&result_.out, &result_.err};
    int* fdsOwned[2] = {&outFd_, &errFd_};
    for (int i = 0; i < 2; ++i) {
        if (*fdsOwned[i] < 0) {
            continue;
        }
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            ssize_t count = ::read(*fdsOwned[i], buffer, sizeof buffer);
            if (count > 0) {
                targets[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                ::close(*fdsOwned[i]);
                *fdsOwned[i] = -1;
                fds[i].fd = -1;
            }
        }
        open = open || *fdsOwned[i] >= 0;
    }
    return open;
}

bool Subprocess::waitForOutput(const std::function<bool(const std::string&)>& predicate,
                               std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!predicate(result_.out)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || (outFd_ < 0 && errFd_ < 0)) {
            return predicate(result_.out);
        }
        pump(std::min(left, std::chrono::milliseconds(100)));
    }
    return true;
}

ProcessResult Subprocess::finish(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while ((outFd_ >= 0 || errFd_ >= 0) && Clock::now() < deadline) {
        pump(std::chrono::milliseconds(100));
    }
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        status = -1;
    }
    pid_ = -1;
    result_.exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result_;
}

void Subprocess::signal(int number) {
    if (pid_ > 0) {
        ::kill(pid_, number);
    }
}

std::string binary(const std::string& name) {
    return std::string(KORVO_BIN_DIR) + "/" + name;
}

ProcessResult runConnector(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment,
                           const std::string& input, std::chrono::milliseconds timeout) {
    std::vector<std::string> all{binary("korvo-connector")};
    all.insert(all.end(), arguments.begin(), arguments.end());
    Subprocess process(all, environment, input);
    return process.finish(timeout);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace korvo::test

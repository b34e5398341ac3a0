#pragma once

// Runs the built korvo-connector in a private home: HOME and the XDG folders in a fresh temporary
// folder, no session bus (the device token goes to the file keychain there), and none of the
// developer's own tool variables.

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace korvo::test {

// A loopback URL on which nothing listens: port 1 is privileged and unused.
inline constexpr const char* kClosedLoopbackURL = "http://127.0.0.1:1";

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Ran {
    int exitCode = -1; // -1 when the program did not end by itself in time
    std::string out, err;
};

// Waits for the program to end, killing it after `milliseconds`.
inline Ran finish(QProcess& process, int milliseconds = 20000) {
    const bool ended = process.waitForFinished(milliseconds);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

// Waits until standard output so far matches `pattern`; returns its first capture group (the
// whole match without one), or nothing after `milliseconds`. The output stays to be read.
inline std::optional<std::string> waitForOutput(QProcess& process, const std::regex& pattern,
                                                int milliseconds = 15000) {
    for (QDeadlineTimer deadline(milliseconds);;) {
        const std::string out = process.peek(process.bytesAvailable()).toStdString();
        std::smatch match;
        if (std::regex_search(out, match, pattern)) {
            return match[match.size() > 1 ? 1 : 0].str();
        }
        if (deadline.hasExpired() || !process.waitForReadyRead(deadline.remainingTime())) {
            return std::nullopt;
        }
    }
}

class PrivateHome {
public:
    PrivateHome() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            QDir(dir_.path()).mkdir(name);
            env.insert(name, file(name));
        }
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + file("no-session-bus"));
        for (const char* name :
             {"DISPLAY", "CODEX_HOME", "CLAUDE_CONFIG_DIR", "COPILOT_OTEL_FILE_EXPORTER_PATH"}) {
            env.remove(name);
        }
    }

    std::filesystem::path home() const { return file("HOME").toStdString(); }
    QString file(const char* name) const { return dir_.filePath(name); }
    void copyFixture(const std::string& name) const {
        std::filesystem::copy(std::filesystem::path(KORVO_FIXTURES_DIR) / name, home(),
                              std::filesystem::copy_options::recursive);
    }

    // korvo-connector with `input` on its standard input, closed after it unless `keepInputOpen`;
    // it dies with the test program.
    std::unique_ptr<QProcess> start(const QStringList& arguments, const QByteArray& input = {},
                                    bool keepInputOpen = false) const {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
#ifdef __linux__
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
        process->start(QStringLiteral(KORVO_BIN_DIR "/korvo-connector"), arguments);
        process->write(input);
        if (!keepInputOpen) {
            process->closeWriteChannel();
        }
        return process;
    }
    Ran run(const QStringList& arguments, const QByteArray& input = {}) const {
        return finish(*start(arguments, input));
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

private:
    QTemporaryDir dir_{QDir::tempPath() + "/korvo-cli-test.XXXXXX"};
};

} // namespace korvo::test

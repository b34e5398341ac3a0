#pragma once

// Runs the built korvo-connector in a private home: HOME and the XDG folders in a fresh temporary
// folder, the settings and the device token in files of that folder named by KORVO_SETTINGS_FILE
// and KORVO_KEYCHAIN_FILE (so that no platform's own settings store or keychain is touched), no
// session bus, and none of the developer's own tool variables.

#include "TestApplication.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace korvo::test {

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

// Waits until standard output so far matches `pattern`; returns the match and its groups, or
// nothing after 15 s. The output stays to be read.
inline std::vector<std::string> waitForOutput(QProcess& process, const std::regex& pattern) {
    for (QDeadlineTimer deadline(15000);;) {
        const std::string out = process.peek(process.bytesAvailable()).toStdString();
        if (std::smatch match; std::regex_search(out, match, pattern)) {
            return std::vector<std::string>(match.begin(), match.end());
        }
        if (deadline.hasExpired() || !process.waitForReadyRead(deadline.remainingTime())) {
            return {};
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
        env.insert("KORVO_SETTINGS_FILE", file("settings.ini"));
        env.insert("KORVO_KEYCHAIN_FILE", file("keychain"));
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + file("no-session-bus"));
        for (const char* name :
             {"DISPLAY", "CODEX_HOME", "CLAUDE_CONFIG_DIR", "COPILOT_OTEL_FILE_EXPORTER_PATH"}) {
            env.remove(name);
        }
    }

    std::filesystem::path home() const { return file("HOME").toStdString(); }
    QString file(const char* name) const { return dir_.filePath(name); }
    void copyFixture(const char* name) const {
        std::filesystem::copy(std::filesystem::path(KORVO_FIXTURES_DIR) / name, home(),
                              std::filesystem::copy_options::recursive);
    }

    // korvo-connector with `input` on its standard input, closed after it unless `keepInputOpen`;
    // it dies with the test program.
    std::unique_ptr<QProcess> start(const QStringList& arguments, const QByteArray& input = {},
                                    bool keepInputOpen = false) const {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        dieWithTheTest(*process);
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

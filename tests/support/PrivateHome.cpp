#include "PrivateHome.h"

#include <QDeadlineTimer>
#include <fstream>

namespace korvo::test {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Ran finish(QProcess& process, int milliseconds) {
    const bool ended = process.waitForFinished(milliseconds);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

std::vector<std::string> waitForOutput(QProcess& process, const std::regex& pattern) {
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

PrivateHome::PrivateHome() {
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        folder_.mkdir(name);
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

void PrivateHome::copyFixture(const char* name) const {
    std::filesystem::copy(fixtureHome(name), home(), std::filesystem::copy_options::recursive);
}

std::unique_ptr<QProcess> PrivateHome::start(const QStringList& arguments, const QByteArray& input,
                                             bool keepInputOpen) const {
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

} // namespace korvo::test

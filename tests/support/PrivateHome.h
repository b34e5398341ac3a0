#pragma once

// Runs the built korvo-connector in a private home: HOME and the XDG folders in a fresh temporary
// folder, the settings and the device token in files of that folder named by KORVO_SETTINGS_FILE
// and KORVO_KEYCHAIN_FILE (so that no platform's own settings store or keychain is touched), no
// session bus, and none of the developer's own tool variables.

#include "support/TestApplication.h"
#include "support/TestHome.h"

#include <QProcess>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace korvo::test {

std::string readFile(const std::filesystem::path& path);

struct Ran {
    int exitCode = -1; // -1 when the program did not end by itself in time
    std::string out, err;
};

// Waits for the program to end, killing it after `milliseconds`.
Ran finish(QProcess& process, int milliseconds = 20000);

// Waits until standard output so far matches `pattern`; returns the match and its groups, or
// nothing after 15 s. The output stays to be read.
std::vector<std::string> waitForOutput(QProcess& process, const std::regex& pattern);

class PrivateHome {
public:
    PrivateHome();

    std::filesystem::path home() const { return folder_ / "HOME"; }
    QString file(const char* name) const { return QString::fromStdString(folder_.filePath(name)); }
    void copyFixture(const char* name) const;

    // korvo-connector with `input` on its standard input, closed after it unless `keepInputOpen`;
    // it dies with the test program.
    std::unique_ptr<QProcess> start(const QStringList& arguments, const QByteArray& input = {},
                                    bool keepInputOpen = false) const;
    Ran run(const QStringList& arguments, const QByteArray& input = {}) const {
        return finish(*start(arguments, input));
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

private:
    TestHome folder_;
};

} // namespace korvo::test

#include "launcher/QuickSnapshot.h"

#include "support/PrivateHome.h"

#include <QProcess>
#include <fstream>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::PrivateHome;

// Snapshot ids and the collection time differ from one run to the next.
std::string withoutIdsAndTime(const std::string& json) {
    static const std::regex idAndTime(R"#("(snapshotId|updatedAt)" : "[^"]*")#");
    return std::regex_replace(json, idAndTime, "$1");
}

void write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct Case {
    const char* name;
    std::string settings;
    bool answers;                    // else `snapshot` hands over to korvo-connector-cli
    bool nativeLocation = false;     // the settings where QSettings keeps them, not a named file
    const char* otherFile = nullptr; // created beside, relative to the private folder
    bool emptyHome = false;
    bool loggingRules = false;
};

// The quick snapshot answers exactly what korvo-connector-cli prints, and leaves to it every
// case where QSettings or the full program could answer otherwise.
TEST(QuickSnapshot, AnswersAsTheFullProgramOrHandsOver) {
    const std::string ids = "connectorDeviceId=mac_0123456789AB\nsyncSpaceId=space_7\n";
    // clang-format off
    const std::vector<Case> cases = {
        {"paired", "[General]\n" + ids, true},
        {"not paired, keys before any section", "connectorDeviceId=mac_0123456789AB\n", true},
        {"a group's key is not the default one",
         "[Other]\nsyncSpaceId=s\n[General]\nconnectorDeviceId=mac_1\n", true},
        {"native location", "[General]\n" + ids, true, true},
        {"no device id yet", "[General]\nsyncSpaceId=space_7\n", false},
        {"quoted value", "[General]\nconnectorDeviceId=\"mac 1\"\n", false},
        {"list value", "[General]\nconnectorDeviceId=mac_1\nsyncSpaceId=a,b\n", false},
        {"continued line", "[General]\nnote=x\\\nsyncSpaceId=s\nconnectorDeviceId=mac_1\n", false},
        {"key twice", "[General]\nconnectorDeviceId=mac_1\nconnectorDeviceId=mac_2\n", false},
        {"section spelt otherwise", "[general]\n" + ids, false},
        {"organization file beside", "[General]\n" + ids, false, true, "XDG_CONFIG_HOME/Korvo.conf"},
        {"system-wide file", "[General]\n" + ids, false, true, "system/Korvo/Korvo Connector.conf"},
        {"no row", "[General]\n" + ids, false, false, nullptr, true},
        {"logging asked for", "[General]\n" + ids, false, false, nullptr, false, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        PrivateHome home;
        if (!c.emptyHome) {
            for (const char* fixture : {"cli/claude-home", "codex-current-shape",
                                        "gemini-both-metrics", "copilot-otel-cumulative"}) {
                home.copyFixture(fixture);
            }
        }
        if (c.nativeLocation) {
            home.env.remove("KORVO_SETTINGS_FILE");
            write(home.file("XDG_CONFIG_HOME").toStdString() + "/Korvo/Korvo Connector.conf",
                  c.settings);
        } else {
            write(home.file("settings.ini").toStdString(), c.settings);
        }
        if (c.otherFile) {
            write(home.file(c.otherFile).toStdString(), "[General]\n");
        }
        if (c.loggingRules) {
            home.env.insert("QT_LOGGING_RULES", "korvo.*=true");
        }
        const QProcessEnvironment env = home.env;
        const auto quick = quickSnapshot(
            {home.home(),
             [env](std::string_view name) -> std::optional<std::string> {
                 const QString key = QString::fromUtf8(name.data(), qsizetype(name.size()));
                 return env.contains(key) ? std::optional(env.value(key).toStdString())
                                          : std::nullopt;
             },
             systemClock(), "/etc/machine-info", home.file("system").toStdString()});
        ASSERT_EQ(quick.has_value(), c.answers) << c.name;
        if (!quick) {
            continue;
        }
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(KORVO_BIN_DIR "/korvo-connector-cli"), {"snapshot"});
        const test::Ran full = test::finish(cli);
        ASSERT_EQ(full.exitCode, 0) << c.name << full.err;
        EXPECT_EQ(withoutIdsAndTime(*quick), withoutIdsAndTime(full.out)) << c.name;
        EXPECT_NE(quick->find(R"("id" : "mac_)"), std::string::npos) << c.name;
    }
}

} // namespace
} // namespace korvo

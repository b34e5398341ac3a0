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
    bool answers;                // else `snapshot` hands over to korvo-connector-cli
    bool nativeLocation = false; // the settings in the user's configuration folder
    bool emptyHome = false;
    bool loggingRules = false;
};

// The quick snapshot answers exactly what korvo-connector-cli prints, and leaves to it every
// case where the full program could answer otherwise.
TEST(QuickSnapshot, AnswersAsTheFullProgramOrHandsOver) {
    const std::string ids =
        R"({"connectorDeviceId": "mac_0123456789AB", "syncSpaceId": "space_7"})";
    // clang-format off
    const std::vector<Case> cases = {
        {"paired", ids, true},
        {"not paired", R"({"connectorDeviceId": "mac_0123456789AB"})", true},
        {"escaped value", R"({"connectorDeviceId": "mac\u005f1", "syncSpaceId": "a, \"b\""})", true},
        {"sync space of another kind",
         R"({"connectorDeviceId": "mac_1", "syncSpaceId": ["a"], "other": {"x": 1}})", true},
        {"native location", ids, true, true},
        {"no device id yet", R"({"syncSpaceId": "space_7"})", false},
        {"device id of another kind", R"({"connectorDeviceId": 7})", false},
        {"an older version's file, not carried over yet",
         "[General]\nconnectorDeviceId=mac_0123456789AB\n", false},
        {"no row", ids, false, false, true},
        {"logging asked for", ids, false, false, false, true},
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
            write(home.file("XDG_CONFIG_HOME").toStdString() + "/korvo-connector/settings.json",
                  c.settings);
        } else {
            write(home.file("settings.ini").toStdString(), c.settings);
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
             systemClock()});
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

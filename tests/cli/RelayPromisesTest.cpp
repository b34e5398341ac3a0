// The promises of the README kept by the program itself, against hostile relays on loopback: the
// token goes to the relay that issued it only, whichever way the relay URL changes, and no
// token or password is readable in any output or in any file others can read.
#include "platform/FileKeychain.h"
#include "platform/KeychainStore.h"
#include "platform/SettingsUserDefaults.h"
#include "support/HostileRelay.h"
#include "support/PrivateHome.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace korvo {
namespace {

using test::HostileRelay;
using test::PrivateHome;
using ::testing::HasSubstr;
using ::testing::Not;
constexpr const char* kToken = HostileRelay::kToken;
const std::string kChanged = "korvo-connector: Relay changed; pair again\n";

// A pairing as an earlier version left it, with the relay at `relayURL`: no origin kept with it.
void storePairing(const PrivateHome& home, const QString& relayURL,
                  const std::optional<QString>& origin = std::nullopt) {
    SettingsUserDefaults settings(home.file("settings.ini"));
    settings.setString(u"relayBaseURL"_s, relayURL);
    settings.setString(u"syncSpaceId"_s, u"space_1"_s);
    if (origin) {
        settings.setString(u"pairedRelayOrigin"_s, *origin);
    }
    ASSERT_TRUE(KeychainStore(KeychainStore::kDefaultService,
                              std::make_shared<FileKeychain>(home.file("keychain").toStdString()))
                    .save(kToken, KeychainStore::kDeviceTokenAccount)
                    .ok());
}

// Paired with relay A, a command meets relay B: given with --relay, or written into the settings
// file. Whatever the command, A gets one DELETE for this device with the token, B never sees
// the token, the pairing is forgotten and the program says so.
TEST(RelayChangeProgram, EveryCommandUnlinksFromTheOldRelayAndNeverSendsItTheNewOne) {
    struct Case {
        QStringList arguments; // "B" stands for relay B's URL
        bool editSettings;     // B written into the settings file instead
        int exitCode;
        std::string out;
    };
    // clang-format off
    const Case cases[] = {
        {{"--relay", "B", "run"}, false, 1, "Relay changed; pair again\n"},
        {{"--relay", "B", "unlink"}, false, 0, "Relay changed; pair again\n"},
        {{"--relay", "B", "status"}, false, 0, "Relay changed; pair again"},
        {{"pair", "--relay", "B"}, false, 2, ""},
        {{"run"}, true, 1, "Relay changed; pair again\n"},
        {{"unlink"}, true, 0, "Relay changed; pair again\n"},
        {{"snapshot"}, true, 0, "\"syncSpaceId\""},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::string name = c.arguments.join(' ').toStdString() +
                                 (c.editSettings ? " after an edit of the settings" : "");
        SCOPED_TRACE(name);
        HostileRelay a, b;
        b.answer("POST /v1/pairing/sessions", 503, HostileRelay::tokenBody());
        a.answer("DELETE /v1/sync-spaces/space_1/devices/", 200,
                 R"({"status":"deleted","deviceId":"d"})");
        PrivateHome home;
        home.copyFixture("cli/claude-home");
        if (c.editSettings) {
            storePairing(home, b.url().toString(), a.origin());
        } else {
            storePairing(home, a.url().toString());
        }
        QStringList arguments = c.arguments;
        arguments.replaceInStrings(QRegularExpression("^B$"), b.url().toString());
        const auto ran = home.run(arguments);
        EXPECT_EQ(ran.exitCode, c.exitCode) << ran.out << ran.err;
        EXPECT_THAT(ran.err, HasSubstr(kChanged));
        EXPECT_THAT(ran.out, HasSubstr(c.out));

        const auto toA = a.requests();
        const QString deviceId = SettingsUserDefaults(home.file("settings.ini"))
                                     .string(u"connectorDeviceId"_s)
                                     .value_or(QString());
        ASSERT_EQ(toA.size(), 1u);
        EXPECT_EQ(toA[0].method + ' ' + toA[0].path,
                  "DELETE /v1/sync-spaces/space_1/devices/" + deviceId.toUtf8());
        EXPECT_EQ(toA[0].header("authorization"), QByteArray("Bearer ") + kToken);
        EXPECT_FALSE(b.received(kToken));
        for (const auto& request : b.requests()) {
            EXPECT_TRUE(request.header("authorization").isEmpty()) << request.raw.toStdString();
        }

        // Forgotten for good: the next command neither unlinks again nor says so again.
        const auto after = home.run({"status"});
        EXPECT_THAT(after.out, HasSubstr("Not paired"));
        EXPECT_THAT(after.err, Not(HasSubstr(kChanged)));
        EXPECT_EQ(test::readFile(home.file("keychain").toStdString()).find(kToken),
                  std::string::npos);
        EXPECT_EQ(a.requests().size(), 1u);
    }
}

// Paired users from before the origin was kept stay paired with the relay URL they have.
TEST(RelayChangeProgram, APairingFromBeforeOriginsWereKeptStaysPaired) {
    HostileRelay a;
    PrivateHome home;
    storePairing(home, a.url().toString() + "/");
    const auto ran = home.run({"--relay", a.url().toString(), "unlink"});
    EXPECT_EQ(ran.exitCode, 1) << ran.err; // the hostile relay's answer does not decode
    EXPECT_THAT(ran.err, Not(HasSubstr(kChanged)));
    EXPECT_EQ(a.count("DELETE /v1/sync-spaces/space_1/devices/"), 1);
    EXPECT_EQ(SettingsUserDefaults(home.file("settings.ini")).string(u"pairedRelayOrigin"_s),
              a.origin());
    EXPECT_THAT(home.run({"status"}).out, HasSubstr("Pairing: Paired\n"));
}

// Every command against a relay whose every answer carries a known token, with a password in the
// relay URL: neither is in any output (log lines included), nor in any file that others can
// read, and the pairing secret is in no output either. Every layer that logs for these commands
// is heard from, so a secret in any of their log lines fails the test.
TEST(SecretsProgram, NoTokenOrPasswordInAnyOutputOrAnyFileOthersCanRead) {
    const std::string password = "pw_HOSTILE_c0ffee";
    HostileRelay relay;
    const QByteArray expires =
        QDateTime::currentDateTimeUtc().addSecs(600).toString(Qt::ISODate).toUtf8();
    relay.answer("POST /v1/pairing/sessions", 200,
                 R"({"pairingSessionId":"ps_1","pairingCode":"123456",)"
                 R"("qrPayload":"korvo://pair?session=ps_1&code=123456&secret=s3cr3t_x",)"
                 R"("expiresAt":")" +
                     expires + R"(","connectorDeviceToken":")" + kToken + R"(","token":")" +
                     kToken + R"("})");
    // First a paired answer that does not decode, then one that does.
    relay.answer("GET /v1/pairing/sessions/ps_1", 200,
                 QByteArray(R"({"status":"paired","syncSpaceId":7,"connectorDeviceToken":")") +
                     kToken + R"(","error":"token )" + kToken + R"("})");
    relay.answer("GET /v1/pairing/sessions/ps_1", 200,
                 QByteArray(R"({"status":"paired","connectorDeviceId":"c","syncSpaceId":"space_1",)"
                            R"("connectorDeviceToken":")") +
                     kToken + R"("})");
    relay.answer("GET /health", 200,
                 QByteArray(R"({"status":"ok","webApp":"/pair","token":")") + kToken + "\"}");
    relay.answer("POST /v1/sync-spaces/", 500, HostileRelay::tokenBody("error"));
    relay.answer("GET /v1/sync-spaces/", 401, HostileRelay::tokenBody("unauthorized"));
    relay.answer("DELETE /v1/sync-spaces/", 500, HostileRelay::tokenBody("error"));
    relay.answer("DELETE /v1/sync-spaces/", 200,
                 QByteArray(R"({"status":"deleted","deviceId":"c","token":")") + kToken + "\"}");
    QUrl url = relay.url();
    url.setUserName(u"me"_s);
    url.setPassword(QString::fromStdString(password));
    const QString withPassword = url.toString();

    PrivateHome home;
    home.copyFixture("cli/claude-home");
    home.env.insert("QT_LOGGING_RULES", "korvo.*=true");
    home.env.insert("QT_MESSAGE_PATTERN", "%{category}: %{message}");
    std::string output;
    const auto record = [&](const test::Ran& ran) { output += ran.out + ran.err; };

    const auto paired = home.run({"--relay", withPassword, "pair"});
    record(paired);
    EXPECT_EQ(paired.exitCode, 0) << paired.out << paired.err;
    EXPECT_THAT(paired.out, HasSubstr("Or open " + relay.url("/pair").toString().toStdString()));
    EXPECT_THAT(paired.err, HasSubstr("pairing status check failed: Relay response decode "));
    EXPECT_THAT(paired.err, HasSubstr("Snapshot upload failed: Relay returned HTTP 500: "));
    ASSERT_TRUE(relay.received(QByteArray("authorization: Bearer ") + kToken));
    for (const char* command : {"status", "support-bundle", "snapshot", "diagnose", "--version"}) {
        record(home.run({command}));
        record(home.run({"--relay", withPassword, command}));
    }
    const auto run = home.start({"run"});
    EXPECT_FALSE(test::waitForOutput(*run, std::regex("Connected to iPhone\n")).empty());
    ::kill(static_cast<pid_t>(run->processId()), SIGTERM);
    record(test::finish(*run));
    const auto refused = home.run({"unlink"});
    record(refused);
    EXPECT_EQ(refused.exitCode, 1);
    const auto unlinked = home.run({"--relay", withPassword, "unlink"});
    record(unlinked);
    EXPECT_EQ(unlinked.exitCode, 0) << unlinked.err;

    for (const char* layer : {"korvo.cli: ", "korvo.relayclient: ", "korvo.platform: ",
                              "korvo.pairing: ", "korvo.sync: ", "korvo.relay: "}) {
        EXPECT_THAT(output, HasSubstr(layer));
    }
    EXPECT_EQ(output.find(kToken), std::string::npos) << output;
    EXPECT_EQ(output.find(password), std::string::npos) << output;
    EXPECT_EQ(output.find("s3cr3t_x"), std::string::npos) << output;
    int checked = 0;
    for (QDirIterator files(home.file("."), QDir::Files | QDir::Hidden | QDir::System,
                            QDirIterator::Subdirectories);
         files.hasNext();) {
        const QString file = files.next();
        const std::string bytes = test::readFile(file.toStdString());
        struct stat status {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &status), 0);
        if (bytes.find(kToken) != std::string::npos || bytes.find(password) != std::string::npos) {
            ++checked;
            EXPECT_EQ(status.st_mode & 077, 0u) << file.toStdString();
        }
    }
    EXPECT_GE(checked, 1); // the settings file keeps the URL with its password
}

} // namespace
} // namespace korvo

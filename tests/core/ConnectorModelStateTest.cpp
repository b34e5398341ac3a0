#include "CoreTestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::ModelHarness;

std::string text(const std::optional<QString>& value) {
    return value ? value->toStdString() : "<absent>";
}

TEST(ConnectorModelStateTest, FreshModelStartsWithTheInitialValues) {
    ModelHarness h;
    // A stored pairing is not looked at before start.
    h.storePairing(QStringLiteral("space_1"), "token");
    ConnectorModel& m = h.make();
    const std::pair<const char*, QString> texts[] = {
        {"statusMessage", m.statusMessage()},
        {"relayHealthStatus", m.relayHealthStatus()},
        {"relayEnvironment", m.relayEnvironment()},
        {"lastUploadStatus", m.lastUploadStatus()},
        {"lastUploadError", m.lastUploadError()},
        {"deviceListStatus", m.deviceListStatus()},
        {"lastDeviceListError", m.lastDeviceListError()},
        {"sourceDiagnosticStatus", m.sourceDiagnosticStatus()},
        {"autoSyncStatus", m.autoSyncStatus()},
        {"launchAtLoginStatus", m.launchAtLoginStatus()},
        {"lastCollectStatus", m.lastCollectStatus()},
        {"lastParserError", m.lastParserError()},
        {"powerStatus", m.powerStatus()},
        {"updateStatus", m.updateStatus()},
        {"relayBaseURLString", m.relayBaseURLString()},
    };
    const std::map<std::string, std::string> expected = {
        {"statusMessage", "Not paired"},
        {"relayHealthStatus", "Not checked"},
        {"relayEnvironment", "Unknown"},
        {"lastUploadStatus", "Never"},
        {"lastUploadError", "None"},
        {"deviceListStatus", "Not loaded"},
        {"lastDeviceListError", "None"},
        {"sourceDiagnosticStatus", "Not checked"},
        {"autoSyncStatus", "Paused"},
        {"launchAtLoginStatus", "Not checked"},
        {"lastCollectStatus", "Not collected"},
        {"lastParserError", "None"},
        {"powerStatus", "Awake"},
        {"updateStatus", "Not checked"},
        {"relayBaseURLString", "http://127.0.0.1:9"},
    };
    for (const auto& [name, value] : texts) {
        EXPECT_EQ(value.toStdString(), expected.at(name)) << name;
    }
    EXPECT_FALSE(m.syncSpaceId() || m.pairingSession() || m.pairingSecret() || m.latestSnapshot() ||
                 m.localLimitSnapshot() || m.lastSyncAt() || m.errorMessage() || m.lastUploadAt() ||
                 m.lastSuccessfulCollectAt() || m.lastSleepAt() || m.lastWakeAt() ||
                 m.updateInfo() || m.lastUpdateCheckAt());
    EXPECT_FALSE(m.isPairing() || m.isSyncing() || m.isPollingForPairing() ||
                 m.launchAtLoginEnabled() || m.isCheckingForUpdates() || m.isPaired());
    EXPECT_TRUE(m.relayDevices().empty());
    EXPECT_TRUE(m.sourceDiagnostics().empty());
    EXPECT_FALSE(m.hasPairingPollTask() || m.hasAutoSyncTask() || m.hasWakeRefreshTask());
}

TEST(ConnectorModelStateTest, DeviceIdIsGeneratedOnceAndKept) {
    ModelHarness h;
    const QString first = h.make().connectorDeviceId();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^mac_[0-9A-F]{12}$")).match(first).hasMatch())
        << first.toStdString();
    EXPECT_EQ(h.defaults->string(QStringLiteral("connectorDeviceId")), first);
    EXPECT_EQ(h.make().connectorDeviceId(), first);
}

TEST(ConnectorModelStateTest, CorruptDeviceIdsAreReplacedAndWrittenBack) {
    struct Case {
        const char* name;
        QByteArray iniLine; // empty: the key is missing
        bool kept;
    };
    const Case cases[] = {
        {"missing", "", false},
        {"empty", "connectorDeviceId=", false},
        {"spaces", "connectorDeviceId=\"mac_12 34\"", false},
        {"slash", "connectorDeviceId=mac_12/34", false},
        {"list", "connectorDeviceId=a, b", false},
        {"another form", "connectorDeviceId=linux_0A1B2C3D4E5F", true},
        {"own form", "connectorDeviceId=mac_0A1B2C3D4E5F", true},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        QFile file(h.path(QStringLiteral("settings.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\n" + c.iniLine + "\n");
        file.close();
        h.defaults = std::make_shared<SettingsUserDefaults>(h.path(QStringLiteral("settings.ini")));
        h.options.userDefaults = h.defaults;
        const QString id = h.make().connectorDeviceId();
        const QString stored = c.iniLine.mid(c.iniLine.indexOf('=') + 1);
        EXPECT_EQ(id == stored, c.kept) << c.name;
        EXPECT_EQ(h.defaults->string(QStringLiteral("connectorDeviceId")), id) << c.name;
        if (!c.kept) {
            EXPECT_TRUE(id.startsWith(QStringLiteral("mac_")) && id.size() == 16) << c.name;
        }
    }
}

TEST(ConnectorModelStateTest, RelayURLNormalisation) {
    struct Case {
        QString input;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {QStringLiteral("https://relay.example.com"), QStringLiteral("https://relay.example.com")},
        {QStringLiteral("  https://relay.example.com/api/ \n"),
         QStringLiteral("https://relay.example.com/api/")},
        {QStringLiteral("127.0.0.1:8787"), QStringLiteral("http://127.0.0.1:8787")},
        {QStringLiteral("relay.local"), QStringLiteral("http://relay.local")},
        {QStringLiteral("   "), std::nullopt},
        {QString(), std::nullopt},
        {QStringLiteral("https://"), std::nullopt},
        {QStringLiteral("file:///tmp/x"), std::nullopt},
        {QStringLiteral("http://exa mple.com"), std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<QUrl> url = ConnectorModel::normalizedRelayURL(c.input);
        EXPECT_EQ(text(url ? std::optional<QString>(url->toString()) : std::nullopt),
                  text(c.expected))
            << c.input.toStdString();
    }
}

TEST(ConnectorModelStateTest, SavedRelayURLIsAppliedAtConstruction) {
    struct Case {
        std::optional<QString> saved;
        QString shown;
        QString clientBase;
    };
    const Case cases[] = {
        {std::nullopt, QStringLiteral("http://127.0.0.1:9"), QStringLiteral("http://127.0.0.1:9")},
        {QStringLiteral("127.0.0.1:8787"), QStringLiteral("127.0.0.1:8787"),
         QStringLiteral("http://127.0.0.1:8787")},
        {QStringLiteral("   "), QStringLiteral("   "), QStringLiteral("http://127.0.0.1:9")},
        {QStringLiteral(" https://relay.example.com "),
         QStringLiteral(" https://relay.example.com "),
         QStringLiteral("https://relay.example.com")},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        if (c.saved) {
            h.defaults->setString(QStringLiteral("relayBaseURL"), *c.saved);
        }
        ConnectorModel& m = h.make();
        EXPECT_EQ(m.relayBaseURLString(), c.shown);
        EXPECT_EQ(m.relayClient().baseURL().toString(), c.clientBase);
    }
}

TEST(ConnectorModelStateTest, StartWithoutTokenIsNotPairedAndLeavesSyncPaused) {
    ModelHarness h;
    h.defaults->setString(QStringLiteral("syncSpaceId"), QStringLiteral("space_1"));
    ConnectorModel& m = h.make();
    test::finish(m.start());
    EXPECT_EQ(m.syncSpaceId(), QStringLiteral("space_1"));
    EXPECT_FALSE(m.isPaired());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Not paired"));
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Paused"));
    EXPECT_FALSE(m.hasAutoSyncTask());
    // The rest of the start-up refresh ran.
    EXPECT_EQ(m.launchAtLoginStatus(), QStringLiteral("Off"));
    EXPECT_EQ(m.sourceDiagnosticStatus(), QStringLiteral("1 detected · 1 usage · 1 quota"));
    EXPECT_EQ(m.lastCollectStatus(), QStringLiteral("No real providers; using demo fallback"));
    EXPECT_EQ(m.updateStatus(), QStringLiteral("Unable to check updates"));
    EXPECT_TRUE(m.lastUpdateCheckAt().has_value());
}

TEST(ConnectorModelStateTest, StartWhenPairedShowsConnectedAndStartsTheLoopWithoutUploading) {
    ModelHarness h;
    h.storePairing(QStringLiteral("space_1"), "token");
    ConnectorModel& m = h.make();
    test::finish(m.start());
    EXPECT_TRUE(m.isPaired());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Connected to iPhone"));
    EXPECT_EQ(m.autoSyncStatus(), QStringLiteral("Active"));
    EXPECT_TRUE(m.hasAutoSyncTask());
    EXPECT_EQ(m.lastUploadStatus(), QStringLiteral("Never"));
}

TEST(ConnectorModelStateTest, EveryChangeSignalsItsFieldAndTheModel) {
    ModelHarness h;
    ConnectorModel& m = h.make();
    QSignalSpy any(&m, &ConnectorModel::stateChanged);
    QSignalSpy relay(&m, &ConnectorModel::relayBaseURLStringChanged);
    m.setRelayBaseURLString(QStringLiteral("http://127.0.0.1:1"));
    m.setRelayBaseURLString(QStringLiteral("http://127.0.0.1:1")); // unchanged: no signal
    EXPECT_EQ(relay.count(), 1);
    EXPECT_EQ(any.count(), 1);
}

} // namespace
} // namespace korvo

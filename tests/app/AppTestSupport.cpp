#include "AppTestSupport.h"

#include "sources/ClaudeCodeAdapter.h"
#include "sources/CodexAdapter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <gtest/gtest.h>

namespace korvo::testing {

bool claimPairingCode(QNetworkAccessManager& network, const QUrl& relay, const QString& code) {
    QNetworkRequest request(relay.resolved(QUrl(QStringLiteral("/v1/pairing/claim"))));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setTransferTimeout(5000);
    QNetworkReply* reply = network.post(
        request, QJsonDocument(QJsonObject{{QStringLiteral("pairingCode"), code}}).toJson());
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    reply->deleteLater();
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
}

ModelHarness::ModelHarness() {
    defaults = std::make_shared<SettingsUserDefaults>(path(QStringLiteral("settings.ini")));
    keychain = std::make_shared<FileKeychain>(path(QStringLiteral("keychain/items")).toStdString());
    pasteboard = std::make_shared<RecordingPasteboard>();
    urlOpener = std::make_shared<RecordingUrlOpener>();

    options.home = path(QStringLiteral("home")).toStdString();
    options.userDefaults = defaults;
    options.keychainBackend = keychain;
    options.network = &network;
    options.defaultRelayURL = QUrl(QStringLiteral("http://127.0.0.1:9"));
    options.manifestURL = QUrl(QStringLiteral("http://127.0.0.1:9/download/linux/manifest.json"));
    options.downloadPageURL = QUrl(QStringLiteral("http://127.0.0.1:9/download/linux/"));
    options.clock = fixedClock(kTestNow);
    options.environment = fixedEnvironment({});
    options.buildInfo =
        BuildInfo{QStringLiteral("1.4.0"), QStringLiteral("42"), QStringLiteral("release")};
    options.syncInterval = std::chrono::hours(1);
    options.pairingPollInterval = std::chrono::milliseconds(20);
    options.manifestTimeout = std::chrono::milliseconds(3000);
    options.loginItem = std::make_shared<XdgAutostartLoginItem>(
        path(QStringLiteral("autostart")), QStringLiteral("korvo-connector.desktop"),
        QStringLiteral("/usr/bin/korvo-connector"));
    options.hostInfo = std::make_shared<SystemHostInfo>(path(QStringLiteral("machine-info")));
    options.pasteboard = pasteboard;
    options.urlOpener = urlOpener;
    options.realAdapters = AdapterList{};
    options.sourceAdapters = AdapterList{std::make_shared<MockAdapter>(options.clock)};
}

void ModelHarness::useFixtureTools() {
    options.clock = fixedClock(kFixtureNow);
    const std::filesystem::path fixtures(KORVO_FIXTURES_DIR);
    const Environment none = fixedEnvironment({});
    auto claude = std::make_shared<ClaudeCodeAdapter>(fixtures / "claude-bridge-windows",
                                                      std::vector<std::filesystem::path>{},
                                                      options.clock, none);
    auto codex =
        std::make_shared<CodexAdapter>(fixtures / "codex-current-shape",
                                       std::vector<std::filesystem::path>{}, options.clock, none);
    options.realAdapters = AdapterList{claude, codex};
    options.sourceAdapters =
        AdapterList{std::make_shared<MockAdapter>(options.clock), claude, codex};
}

ConnectorModel& ModelHarness::make() {
    model_ = std::make_unique<ConnectorModel>(options);
    return *model_;
}

void ModelHarness::storePairing(const QString& syncSpaceId, const std::string& token) {
    defaults->setString(QLatin1String(ConnectorModel::kSyncSpaceIdKey), syncSpaceId);
    KeychainStore store(options.keychainService, keychain);
    ASSERT_TRUE(store.save(token, KeychainStore::kDeviceTokenAccount).ok());
}

} // namespace korvo::testing

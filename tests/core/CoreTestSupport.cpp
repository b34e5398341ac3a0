#include "CoreTestSupport.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTimer>
#include <gtest/gtest.h>

namespace korvo::test {

namespace {
// The application object exists before any fixture builds a network manager or a server.
class ApplicationEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { testApp(); }
};
[[maybe_unused]] ::testing::Environment* const kApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);
} // namespace

ProviderUsage sampleRow(const std::string& id, const std::string& name, Instant observedAt) {
    ProviderUsage row;
    row.id = id;
    row.displayName = name;
    row.source = SourceType::localCli;
    row.confidence = Confidence::cliReported;
    row.status = ProviderStatus::ok;
    row.window = UsageWindow{UsageWindowKind::rolling, std::string("5h"), std::nullopt,
                             observedAt + std::chrono::hours(2)};
    row.usage.usedPercent = 40;
    row.usage.remainingPercent = 60;
    row.usage.inputTokens = 1200;
    row.observedAt = observedAt;
    return row;
}

RelayProcess::RelayProcess(const QString& dbPath, const QString& manifestPath, int port) {
    QStringList arguments{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port),
                          QStringLiteral("--db"), dbPath};
    if (!manifestPath.isEmpty()) {
        arguments << QStringLiteral("--manifest") << manifestPath;
    }
    process_.setProgram(QStringLiteral(KORVO_BIN_DIR "/korvo-relay"));
    process_.setArguments(arguments);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
    if (!process_.waitForStarted(5000)) {
        return;
    }
    QByteArray output;
    while (!output.contains('\n') && process_.waitForReadyRead(5000)) {
        output += process_.readAllStandardOutput();
    }
    // "listening on http://127.0.0.1:PORT"
    const qsizetype colon = output.lastIndexOf(':');
    if (output.startsWith("listening on ") && colon > 0) {
        port_ = output.mid(colon + 1).trimmed().toInt();
    }
}

RelayProcess::~RelayProcess() {
    stop();
}

void RelayProcess::stop() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    // Killed outright: a relay that vanishes is what the tests want, and a graceful stop waits
    // for idle keep-alive connections. Its database survives (the relay commits every change).
    process_.kill();
    process_.waitForFinished(5000);
}

HttpAnswer httpRequest(QNetworkAccessManager& network, const QByteArray& method, const QUrl& url,
                       const QByteArray& body, const QByteArray& bearer) {
    QNetworkRequest request(url);
    request.setTransferTimeout(5000);
    if (!body.isEmpty()) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    }
    if (!bearer.isEmpty()) {
        request.setRawHeader("authorization", "Bearer " + bearer);
    }
    QNetworkReply* reply = network.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    HttpAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    reply->deleteLater();
    return answer;
}

std::optional<PhoneClaim> claimPairingCode(QNetworkAccessManager& network, const QUrl& relay,
                                           const QString& pairingCode) {
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("pairingCode"), pairingCode}}).toJson();
    const HttpAnswer answer = httpRequest(
        network, "POST", relay.resolved(QUrl(QStringLiteral("/v1/pairing/claim"))), body);
    if (answer.status != 200) {
        return std::nullopt;
    }
    const QJsonObject object = QJsonDocument::fromJson(answer.body).object();
    return PhoneClaim{object.value(QStringLiteral("syncSpaceId")).toString(),
                      object.value(QStringLiteral("phoneDeviceToken")).toString()};
}

ModelHarness::ModelHarness() {
    testApp();
    defaults = std::make_shared<SettingsUserDefaults>(path(QStringLiteral("settings.ini")));
    keychain = std::make_shared<FileKeychain>(path(QStringLiteral("keychain/items")).toStdString());
    loginItem = std::make_shared<ScriptedLoginItem>();
    pasteboard = std::make_shared<RecordingPasteboard>();
    urlOpener = std::make_shared<RecordingUrlOpener>();
    claude = std::make_shared<FixedAdapter>("claude-code", "Claude Code");
    codex = std::make_shared<FixedAdapter>("codex", "Codex CLI");

    QFile machineInfo(path(QStringLiteral("machine-info")));
    if (machineInfo.open(QIODevice::WriteOnly)) {
        machineInfo.write("PRETTY_HOSTNAME=\"Test Box\"\n");
    }

    options.home = path(QStringLiteral("home")).toStdString();
    options.userDefaults = defaults;
    options.keychainBackend = keychain;
    options.network = &network;
    // Nothing listens here unless a test points the model elsewhere.
    options.defaultRelayURL = QUrl(QStringLiteral("http://127.0.0.1:9"));
    options.manifestURL = QUrl(QStringLiteral("http://127.0.0.1:9/download/linux/manifest.json"));
    options.downloadPageURL = QUrl(QStringLiteral("http://127.0.0.1:9/download/linux/"));
    options.clock = clock.clock();
    options.environment = fixedEnvironment({});
    options.buildInfo =
        BuildInfo{QStringLiteral("1.4.0"), QStringLiteral("42"), QStringLiteral("internal_beta")};
    options.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    options.timeZone = QTimeZone::utc();
    options.syncInterval = std::chrono::hours(1);
    options.wakeDelay = std::chrono::milliseconds(50);
    options.pairingPollInterval = std::chrono::milliseconds(20);
    options.manifestTimeout = std::chrono::milliseconds(3000);
    options.loginItem = loginItem;
    options.hostInfo = std::make_shared<SystemHostInfo>(path(QStringLiteral("machine-info")));
    options.pasteboard = pasteboard;
    options.urlOpener = urlOpener;
    options.realAdapters = AdapterList{claude, codex};
    options.sourceAdapters =
        AdapterList{std::make_shared<MockAdapter>(clock.clock()), claude, codex};
}

ConnectorModel& ModelHarness::make() {
    model_ = std::make_unique<ConnectorModel>(options);
    return *model_;
}

void ModelHarness::storePairing(const QString& syncSpaceId, const std::string& token) {
    defaults->setString(QStringLiteral("syncSpaceId"), syncSpaceId);
    KeychainStore(KeychainStore::kDefaultService, keychain)
        .save(token, KeychainStore::kDeviceTokenAccount);
}

std::optional<std::string> ModelHarness::storedToken() const {
    return KeychainStore(KeychainStore::kDefaultService, keychain)
        .read(KeychainStore::kDeviceTokenAccount);
}

} // namespace korvo::test

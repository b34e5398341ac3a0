#pragma once

#include "../platform/PrivateBus.h"
#include "core/ConnectorModel.h"
#include "platform/HostInfo.h"
#include "platform/LoginItem.h"
#include "platform/Pasteboard.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "relay/FileKeychain.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace korvo::test {

// The application object exists before any test builds a network manager or a server.
struct ApplicationEnvironment final : ::testing::Environment {
    void SetUp() override { testApp(); }
};
inline ::testing::Environment* const kApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

// Waits, turning the event loop, until `done` holds; false after the time-out.
inline bool eventually(const std::function<bool()>& done, int timeoutMs = 5000) {
    return QTest::qWaitFor(done, timeoutMs);
}

// Runs a model operation to its end on a nested event loop.
template <class T> T finish(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

constexpr Instant kStart = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z

// A clock the test sets; safe to read from worker threads.
struct TestClock {
    std::shared_ptr<std::atomic<Instant>> instant = std::make_shared<std::atomic<Instant>>(kStart);
    Clock clock() const {
        return [instant = instant] { return instant->load(); };
    }
    Instant now() const { return instant->load(); }
    void advance(std::chrono::seconds by) { instant->store(now() + by); }
};

// An adapter with fixed answers (a row, nothing, or an exception) and a fixed diagnostic.
class FixedAdapter final : public UsageAdapter {
public:
    FixedAdapter(std::string id, std::string name) : id_(std::move(id)), name_(std::move(name)) {}
    std::string id() const override { return id_; }
    std::string displayName() const override { return name_; }
    AdapterDiagnostic diagnose() const override {
        AdapterDiagnostic d = diagnostic;
        d.id = id_;
        d.displayName = name_;
        return d;
    }
    std::optional<ProviderUsage> readUsage() const override {
        calledOn = QThread::currentThread();
        if (failure) {
            throw std::runtime_error(*failure);
        }
        return row;
    }
    // A row as a reading adapter would build it.
    void report(Instant observedAt) {
        row = ProviderUsage{id_,
                            name_,
                            SourceType::localCli,
                            Confidence::cliReported,
                            ProviderStatus::ok,
                            UsageWindow{UsageWindowKind::rolling, "5h", {}, observedAt + 2h},
                            UsageMetrics{40, 60, 1200, {}, {}, {}, {}},
                            observedAt};
    }

    std::optional<ProviderUsage> row;
    std::optional<std::string> failure;
    AdapterDiagnostic diagnostic;
    mutable std::atomic<QThread*> calledOn{nullptr};

private:
    std::string id_, name_;
};

// The file keychain, noting every thread that touched it.
class ThreadRecordingKeychain final : public KeychainBackend {
public:
    explicit ThreadRecordingKeychain(std::shared_ptr<KeychainBackend> inner) : inner_(inner) {}
    std::string name() const override { return inner_->name(); }
    void removeItems(const std::string& service, const std::string& account) override {
        note(), inner_->removeItems(service, account);
    }
    std::int32_t addItem(const std::string& service, const std::string& account,
                         std::string_view data) override {
        return note(), inner_->addItem(service, account, data);
    }
    std::optional<std::string> copyItem(const std::string& service,
                                        const std::string& account) override {
        return note(), inner_->copyItem(service, account);
    }
    bool touchedFrom(const QThread* thread) {
        std::lock_guard lock(mutex_);
        return threads_.contains(thread);
    }

private:
    void note() {
        std::lock_guard lock(mutex_);
        threads_.insert(QThread::currentThread());
    }
    std::shared_ptr<KeychainBackend> inner_;
    std::mutex mutex_;
    QSet<const QThread*> threads_;
};

struct RecordingPasteboard final : Pasteboard {
    void setText(const QString& text) override { texts.append(text); }
    QStringList texts;
};

struct RecordingUrlOpener final : UrlOpener {
    void open(const QUrl& url) override { urls.append(url); }
    QList<QUrl> urls;
};

// A login item whose status and failures the test decides (approval cannot happen here).
struct ScriptedLoginItem final : LoginItem {
    Status status() const override { return current; }
    std::optional<QString> registerItem() override {
        ++registrations;
        current = failure ? current : afterRegister;
        return failure;
    }
    std::optional<QString> unregisterItem() override {
        ++unregistrations;
        current = failure ? current : Status::NotRegistered;
        return failure;
    }

    Status current = Status::NotRegistered;
    Status afterRegister = Status::Enabled;
    std::optional<QString> failure;
    int registrations = 0;
    int unregistrations = 0;
};

// korvo-relay on a loopback port (a free one by default), its database in a temporary folder.
class RelayProcess {
public:
    explicit RelayProcess(const QString& dbPath, const QString& manifestPath = {}, int port = 0) {
        QStringList arguments{u"--listen"_s, u"127.0.0.1:%1"_s.arg(port), u"--db"_s, dbPath};
        if (!manifestPath.isEmpty()) {
            arguments << u"--manifest"_s << manifestPath;
        }
        process_.start(QStringLiteral(KORVO_BIN_DIR "/korvo-relay"), arguments);
        QByteArray output; // "listening on http://127.0.0.1:PORT"
        while (process_.waitForStarted(5000) && !output.contains('\n') &&
               process_.waitForReadyRead(5000)) {
            output += process_.readAllStandardOutput();
        }
        if (output.startsWith("listening on ")) {
            port_ = output.mid(output.lastIndexOf(':') + 1).trimmed().toInt();
        }
    }
    ~RelayProcess() { stop(); }

    bool isRunning() const { return port_ > 0; }
    int port() const { return port_; }
    QUrl url(const QString& path = {}) const {
        return QUrl(u"http://127.0.0.1:%1%2"_s.arg(port_).arg(path));
    }
    // Killed outright: a relay that vanishes is what the tests want. Its database survives.
    void stop() {
        process_.kill();
        process_.waitForFinished(5000);
    }

private:
    QProcess process_;
    int port_ = 0;
};

// A small HTTP/1.1 server on loopback for answers the local relay never gives. Each answer is
// chosen by "METHOD /path"; anything else is a 404.
class CannedHttpServer final : public QObject {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        std::chrono::milliseconds delay{0};
    };
    struct Request {
        QByteArray line;                      // "METHOD /path"
        QMap<QByteArray, QByteArray> headers; // names in lower case
    };

    CannedHttpServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
    }
    QUrl url(const QString& path = {}) const {
        return QUrl(u"http://127.0.0.1:%1%2"_s.arg(server_.serverPort()).arg(path));
    }
    void answer(const QByteArray& methodAndPath, Answer answer) {
        answers_[methodAndPath] = answer;
    }
    int count(const QByteArray& methodAndPathPrefix) const {
        return int(std::count_if(requests.begin(), requests.end(), [&](const Request& r) {
            return r.line.startsWith(methodAndPathPrefix);
        }));
    }

    QList<Request> requests;

private:
    // Answers once the whole request is there; the data stays unread until then.
    void serve(QTcpSocket* socket) {
        const QByteArray data = socket->peek(socket->bytesAvailable());
        const qsizetype headerEnd = data.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            return;
        }
        const QList<QByteArray> lines = data.left(headerEnd).split('\n');
        Request request{lines[0].split(' ').mid(0, 2).join(' '), {}};
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            request.headers[line.left(colon).trimmed().toLower()] = line.mid(colon + 1).trimmed();
        }
        const qsizetype size = headerEnd + 4 + request.headers.value("content-length").toLongLong();
        if (data.size() < size) {
            return;
        }
        socket->read(size);
        requests.append(request);
        const Answer reply = answers_.value(request.line, Answer{404, R"({"error":"nf"})", {}});
        QTimer::singleShot(reply.delay, socket, [socket, reply] {
            socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                          " Canned\r\nContent-Type: application/json\r\nConnection: close\r\n"
                          "Content-Length: " +
                          QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body);
            socket->disconnectFromHost();
        });
    }

    QTcpServer server_;
    QMap<QByteArray, Answer> answers_;
};

// One HTTP request as the phone sends it, waited for on a nested event loop.
inline std::pair<int, QByteArray> httpRequest(QNetworkAccessManager& network,
                                              const QByteArray& method, const QUrl& url,
                                              const QByteArray& body = {},
                                              const QString& bearer = {}) {
    QNetworkRequest request(url);
    request.setTransferTimeout(5000);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    if (!bearer.isEmpty()) {
        request.setRawHeader("authorization", "Bearer " + bearer.toUtf8());
    }
    QNetworkReply* reply = network.sendCustomRequest(request, method, body);
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    reply->deleteLater();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

// The phone's side of pairing: claims the code; the sync space and the phone's token.
struct PhoneClaim {
    QString syncSpaceId, phoneDeviceToken;
};
inline std::optional<PhoneClaim> claimPairingCode(QNetworkAccessManager& network,
                                                  const QUrl& claimURL, const std::string& code) {
    const auto [status, body] =
        httpRequest(network, "POST", claimURL,
                    QJsonDocument(QJsonObject{{"pairingCode", code.c_str()}}).toJson());
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    return status == 200 ? std::optional(PhoneClaim{object["syncSpaceId"].toString(),
                                                    object["phoneDeviceToken"].toString()})
                         : std::nullopt;
}

// A model over a temporary home: QSettings in an INI file, the file keychain, a scripted login
// item, a fixed host name and adapters the test controls. Intervals are short; nothing listens
// at the relay and manifest addresses unless a test points the model elsewhere.
class ModelHarness {
public:
    ModelHarness() {
        QFile machineInfo(path(u"machine-info"_s));
        if (machineInfo.open(QIODevice::WriteOnly)) {
            machineInfo.write("PRETTY_HOSTNAME=\"Test Box\"\n");
        }
        options.home = path(u"home"_s).toStdString();
        options.userDefaults = defaults;
        options.keychainBackend = keychain;
        options.network = &network;
        pointAt(QUrl(u"http://127.0.0.1:9"_s));
        options.clock = clock.clock();
        options.environment = fixedEnvironment({});
        options.buildInfo = BuildInfo{u"1.4.0"_s, u"42"_s, u"internal_beta"_s};
        options.locale = QLocale(QLocale::English, QLocale::UnitedStates);
        options.timeZone = QTimeZone::utc();
        options.syncInterval = 1h;
        options.wakeDelay = 50ms;
        options.pairingPollInterval = 20ms;
        options.manifestTimeout = 3000ms;
        options.loginItem = loginItem;
        options.hostInfo = std::make_shared<SystemHostInfo>(path(u"machine-info"_s));
        options.pasteboard = pasteboard;
        options.urlOpener = urlOpener;
        options.realAdapters = AdapterList{claude, codex};
        options.sourceAdapters =
            AdapterList{std::make_shared<MockAdapter>(clock.clock()), claude, codex};
    }

    // The relay and the manifest (in /download/linux/) at `base`.
    void pointAt(const QUrl& base) {
        options.defaultRelayURL = base;
        options.manifestURL = base.resolved(QUrl(u"/download/linux/manifest.json"_s));
        options.downloadPageURL = base.resolved(QUrl(u"/download/linux/"_s));
    }
    // Builds the model from `options`; a second call replaces it.
    ConnectorModel& make() {
        model_ = std::make_unique<ConnectorModel>(options);
        return *model_;
    }
    // Writes a sync space id and a device token as a finished pairing would.
    void storePairing(const QString& syncSpaceId = u"space_1"_s,
                      const std::string& token = "token") {
        defaults->setString(u"syncSpaceId"_s, syncSpaceId);
        KeychainStore(KeychainStore::kDefaultService, keychain)
            .save(token, KeychainStore::kDeviceTokenAccount);
    }
    std::optional<std::string> storedToken() const {
        return KeychainStore(KeychainStore::kDefaultService, keychain)
            .read(KeychainStore::kDeviceTokenAccount);
    }
    std::optional<QString> stored(const QString& key) const { return defaults->string(key); }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    TestClock clock;
    std::shared_ptr<SettingsUserDefaults> defaults =
        std::make_shared<SettingsUserDefaults>(path(u"settings.ini"_s));
    std::shared_ptr<FileKeychain> keychain =
        std::make_shared<FileKeychain>(path(u"keychain/items"_s).toStdString());
    std::shared_ptr<ScriptedLoginItem> loginItem = std::make_shared<ScriptedLoginItem>();
    std::shared_ptr<RecordingPasteboard> pasteboard = std::make_shared<RecordingPasteboard>();
    std::shared_ptr<RecordingUrlOpener> urlOpener = std::make_shared<RecordingUrlOpener>();
    std::shared_ptr<FixedAdapter> claude =
        std::make_shared<FixedAdapter>("claude-code", "Claude Code");
    std::shared_ptr<FixedAdapter> codex = std::make_shared<FixedAdapter>("codex", "Codex CLI");
    QNetworkAccessManager network;
    ConnectorModelOptions options;

private:
    std::unique_ptr<ConnectorModel> model_;
};

} // namespace korvo::test

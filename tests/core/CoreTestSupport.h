#pragma once

#include "../platform/TestApp.h"
#include "core/ConnectorModel.h"
#include "platform/HostInfo.h"
#include "platform/LoginItem.h"
#include "platform/Pasteboard.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "relay/FileKeychain.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvo::test {

// Waits, turning the event loop, until `done` holds; false after the time-out.
inline bool eventually(const std::function<bool()>& done, int timeoutMs = 5000) {
    return QTest::qWaitFor(done, timeoutMs);
}

// Runs a model operation to its end on a nested event loop.
template <class T> T finish(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

// A clock the test sets; safe to read from worker threads.
class TestClock {
public:
    explicit TestClock(Instant start = instantFromUnixSeconds(1772356445)) // 2026-03-01T09:14:05Z
        : nanos_(std::make_shared<std::atomic<std::int64_t>>(start.time_since_epoch().count())) {}
    Clock clock() const {
        return [nanos = nanos_] { return Instant(std::chrono::nanoseconds(nanos->load())); };
    }
    Instant now() const { return Instant(std::chrono::nanoseconds(nanos_->load())); }
    void set(Instant instant) { nanos_->store(instant.time_since_epoch().count()); }
    void advance(std::chrono::seconds by) { set(now() + by); }

private:
    std::shared_ptr<std::atomic<std::int64_t>> nanos_;
};

// An adapter with fixed answers: a row, nothing, or an exception; and a fixed diagnostic.
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

    std::optional<ProviderUsage> row;
    std::optional<std::string> failure;
    AdapterDiagnostic diagnostic;
    mutable std::atomic<QThread*> calledOn{nullptr};

private:
    std::string id_;
    std::string name_;
};

// A provider row as a reading adapter would build it.
ProviderUsage sampleRow(const std::string& id, const std::string& name, Instant observedAt);

// The file keychain, noting every thread that touched it.
class ThreadRecordingKeychain final : public KeychainBackend {
public:
    explicit ThreadRecordingKeychain(std::shared_ptr<KeychainBackend> inner)
        : inner_(std::move(inner)) {}
    std::string name() const override { return inner_->name(); }
    void removeItems(const std::string& service, const std::string& account) override {
        note();
        inner_->removeItems(service, account);
    }
    std::int32_t addItem(const std::string& service, const std::string& account,
                         std::string_view data) override {
        note();
        return inner_->addItem(service, account, data);
    }
    std::optional<std::string> copyItem(const std::string& service,
                                        const std::string& account) override {
        note();
        return inner_->copyItem(service, account);
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

class RecordingPasteboard final : public Pasteboard {
public:
    void setText(const QString& text) override { texts.append(text); }
    QStringList texts;
};

class RecordingUrlOpener final : public UrlOpener {
public:
    void open(const QUrl& url) override { urls.append(url); }
    QList<QUrl> urls;
};

// A login item whose status and failures the test decides (approval cannot happen here).
class ScriptedLoginItem final : public LoginItem {
public:
    Status status() const override { return current; }
    std::optional<QString> registerItem() override {
        ++registrations;
        if (failure) {
            return failure;
        }
        current = afterRegister;
        return std::nullopt;
    }
    std::optional<QString> unregisterItem() override {
        ++unregistrations;
        if (failure) {
            return failure;
        }
        current = Status::NotRegistered;
        return std::nullopt;
    }

    Status current = Status::NotRegistered;
    Status afterRegister = Status::Enabled;
    std::optional<QString> failure;
    int registrations = 0;
    int unregistrations = 0;
};

// korvo-relay on a free loopback port, with its database in a temporary folder.
class RelayProcess {
public:
    explicit RelayProcess(const QString& dbPath, const QString& manifestPath = {}, int port = 0);
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    bool isRunning() const { return port_ > 0; }
    int port() const { return port_; }
    QUrl baseURL() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_)); }
    void stop();

private:
    QProcess process_;
    int port_ = 0;
};

struct HttpAnswer {
    int status = 0; // 0: no HTTP answer
    QByteArray body;
};

// One HTTP request, waited for on a nested event loop (what the phone would send).
HttpAnswer httpRequest(QNetworkAccessManager& network, const QByteArray& method, const QUrl& url,
                       const QByteArray& body = {}, const QByteArray& bearer = {});

// The phone's side of pairing: claims a code; answers the sync space and the phone's token.
struct PhoneClaim {
    QString syncSpaceId;
    QString phoneDeviceToken;
};
std::optional<PhoneClaim> claimPairingCode(QNetworkAccessManager& network, const QUrl& relay,
                                           const QString& pairingCode);

// A model over a temporary home: QSettings in an INI file, the file keychain, a scripted login
// item, a fixed host name and adapters the test controls. Intervals are short.
class ModelHarness {
public:
    ModelHarness();

    // Builds the model from `options` (call once; tests may adjust options first).
    ConnectorModel& make();
    ConnectorModel& model() { return *model_; }

    // Writes a sync space id and a device token as a finished pairing would.
    void storePairing(const QString& syncSpaceId, const std::string& token);
    std::optional<std::string> storedToken() const;

    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    TestClock clock;
    std::shared_ptr<SettingsUserDefaults> defaults;
    std::shared_ptr<FileKeychain> keychain;
    std::shared_ptr<ScriptedLoginItem> loginItem;
    std::shared_ptr<RecordingPasteboard> pasteboard;
    std::shared_ptr<RecordingUrlOpener> urlOpener;
    std::shared_ptr<FixedAdapter> claude;
    std::shared_ptr<FixedAdapter> codex;
    QNetworkAccessManager network;
    ConnectorModelOptions options;

private:
    std::unique_ptr<ConnectorModel> model_;
};

} // namespace korvo::test

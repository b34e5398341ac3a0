#pragma once

#include "core/ConnectorModel.h"
#include "core/ConnectorStatusText.h"
#include "platform/FileKeychain.h"
#include "platform/Pasteboard.h"
#include "platform/SystemHostInfo.h"
#include "platform/UrlOpener.h"
#include "platform/SettingsUserDefaults.h"
#include "platform/XdgAutostartLoginItem.h"
#include "support/HostileRelay.h"
#include "support/RelayProcess.h"
#include "support/TestApplication.h"
#include "support/TestHome.h"
#include "support/ThreadRecordingKeychain.h"

#include <QNetworkAccessManager>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace korvo::test {

// Runs a model operation to its end on a nested event loop.
template <class T> T finish(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

// A canned relay answering 404 to anything not routed with setAnswer().
struct CannedRelay : HostileRelay {
    CannedRelay() : HostileRelay(httpResponse(404, R"({"error":"nf"})")) {}
    bool lastRequestHas(const QByteArray& header) const {
        return requests().back().raw.contains("\r\n" + header + "\r\n");
    }
};

// The status message, the auto sync status and the last upload status, stated together.
inline QStringList statuses(const ConnectorModel& m) {
    return {connectionStatusText(m.connection().status()),
            autoSyncStatusText(m.autoSync().state().status),
            uploadStatusText(m.uploader().state())};
}

// The harness's clock starts here.
inline constexpr Instant kStart = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z

// A clock the test sets; safe to read from worker threads.
struct TestClock {
    std::shared_ptr<std::atomic<Instant>> at = std::make_shared<std::atomic<Instant>>(kStart);
    Clock clock() const {
        return [at = at] { return at->load(); };
    }
    Instant now() const { return at->load(); }
    void advance(std::chrono::seconds by) { at->store(now() + by); }
};

// Writes `bytes` to `path`; a file where a test needs a folder blocks everything beneath it.
bool writeFile(const QString& path, const QByteArray& bytes = {});

// An adapter with fixed answers (a row, nothing, or a file it cannot parse) and a fixed
// diagnostic.
struct FixedAdapter final : UsageAdapter {
    FixedAdapter(std::string id, std::string name) : id_(std::move(id)), name_(std::move(name)) {
        diagnostic.id = id_;
        diagnostic.displayName = name_;
    }
    std::string id() const override { return id_; }
    std::string displayName() const override { return name_; }
    AdapterDiagnostic inspect() const override { return diagnostic; }
    UsageReading read() const override {
        calledOn = QThread::currentThread();
        if (failure) {
            return {std::nullopt, SourceError{SourceError::Kind::notJson, *failure}};
        }
        return {row, std::nullopt};
    }
    // A row as a reading adapter would build it.
    void report(Instant at) {
        row = {id_,
               name_,
               SourceType::localCli,
               Confidence::cliReported,
               ProviderStatus::ok,
               UsageWindow{UsageWindowKind::rolling, "5h", {}, at + 2h},
               UsageMetrics{40, 60, 1200, {}, {}, {}, {}},
               at};
    }

    const std::string id_, name_;
    std::optional<ProviderUsage> row;
    std::optional<std::string> failure;
    AdapterDiagnostic diagnostic;
    mutable std::atomic<QThread*> calledOn{nullptr};
};

// Keeps what the model copies and the pages it opens.
struct Recorder final : Pasteboard, UrlOpener {
    void setText(const QString& text) override { texts.append(text); }
    void open(const QUrl& url) override { urls.append(url); }
    QStringList texts;
    QList<QUrl> urls;
};

// How the harness's model is built: an internal beta build with the adapters the test controls
// (Claude Code and Codex) beside the demo source, or a release build, as the window sees it, with
// the demo source only until a test adds tools.
enum class HarnessBuild { internalBeta, release };

// A model over a temporary home: QSettings in an INI file, the file keychain, an autostart
// folder, a fixed host name and adapters the test controls. Intervals are short; nothing listens
// at the relay and manifest addresses unless a test points the model elsewhere.
class ModelHarness {
public:
    explicit ModelHarness(HarnessBuild build = HarnessBuild::internalBeta);

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
    // The model make() built last.
    ConnectorModel& model() { return *model_; }
    // Claude Code and Codex read from the fixture homes (bridge file with two windows; the tool's
    // current session log shape), with the clock at the time those files describe.
    void useFixtureTools();
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
    QString path(const QString& name) const {
        return QString::fromStdString(dir.filePath(name.toStdString()));
    }

    TestHome dir;
    TestClock clock;
    std::shared_ptr<SettingsUserDefaults> defaults =
        std::make_shared<SettingsUserDefaults>(path(u"settings.ini"_s));
    std::shared_ptr<FileKeychain> keychain =
        std::make_shared<FileKeychain>(path(u"keychain/items"_s).toStdString());
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<FixedAdapter> claude =
        std::make_shared<FixedAdapter>("claude-code", "Claude Code");
    std::shared_ptr<FixedAdapter> codex = std::make_shared<FixedAdapter>("codex", "Codex CLI");
    QNetworkAccessManager network;
    ConnectorModelOptions options;

private:
    std::unique_ptr<ConnectorModel> model_;
};

} // namespace korvo::test

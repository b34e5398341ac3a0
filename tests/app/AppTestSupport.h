#pragma once

#include "core/ConnectorModel.h"
#include "platform/HostInfo.h"
#include "platform/LoginItem.h"
#include "platform/Pasteboard.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "relay/FileKeychain.h"
#include "sources/MockAdapter.h"

#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace korvo::testing {

inline constexpr Instant kTestNow = instantFromUnixSeconds(1772356445); // 2026-03-01T09:14:05Z
// Shortly after the fixture tools wrote their files.
inline constexpr Instant kFixtureNow = instantFromUnixSeconds(1767603600); // 2026-01-05T09:00:00Z

// Turns the event loop until `done` holds; false after the time-out.
inline bool eventually(const std::function<bool()>& done, int timeoutMs = 5000) {
    return QTest::qWaitFor(done, timeoutMs);
}

// Runs a model operation to its end on a nested event loop.
template <class T> T finish(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

// A tool that is or is not on this machine, as its adapter would report it.
class StaticToolAdapter final : public UsageAdapter {
public:
    StaticToolAdapter(std::string id, std::string name, bool available, bool limits = false)
        : id_(std::move(id)), name_(std::move(name)), available_(available), limits_(limits) {}
    std::string id() const override { return id_; }
    std::string displayName() const override { return name_; }
    AdapterDiagnostic diagnose() const override {
        AdapterDiagnostic d;
        d.id = id_;
        d.displayName = name_;
        d.isAvailable = available_;
        d.cliInstalled = available_;
        d.limitDataFound = limits_;
        d.trackingStatus = available_ ? "Detected" : "Not detected";
        d.summary = name_ + (available_ ? " found" : " not found");
        return d;
    }
    std::optional<ProviderUsage> readUsage() const override { return std::nullopt; }

private:
    std::string id_;
    std::string name_;
    bool available_;
    bool limits_;
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

// korvo-relay on a free loopback port with its database in a temporary folder.
class RelayProcess {
public:
    explicit RelayProcess(const QString& dbPath, const QString& manifestPath = {});
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    bool isRunning() const { return port_ > 0; }
    QUrl baseURL() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_)); }

private:
    QProcess process_;
    int port_ = 0;
};

// What the phone does to pair: claims the code; true when the relay accepted it.
bool claimPairingCode(QNetworkAccessManager& network, const QUrl& relay, const QString& code);

// A real model over a temporary home: settings in an INI file, the file keychain, the XDG
// autostart entry in a temporary folder, nothing listening at the relay or download URLs
// unless a test points them elsewhere, and a clock fixed at kTestNow.
class ModelHarness {
public:
    ModelHarness();

    ConnectorModel& make();
    ConnectorModel& model() { return *model_; }

    // Claude Code and Codex read from the fixture homes (bridge file with two windows; the
    // tool's current session log shape), with the clock at the time those files describe.
    void useFixtureTools();

    // What a finished pairing leaves behind.
    void storePairing(const QString& syncSpaceId, const std::string& token);
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    std::shared_ptr<SettingsUserDefaults> defaults;
    std::shared_ptr<FileKeychain> keychain;
    std::shared_ptr<RecordingPasteboard> pasteboard;
    std::shared_ptr<RecordingUrlOpener> urlOpener;
    QNetworkAccessManager network;
    ConnectorModelOptions options;

private:
    std::unique_ptr<ConnectorModel> model_;
};

} // namespace korvo::testing

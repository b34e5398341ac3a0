#pragma once

#include "core/ConnectorModel.h"
#include "platform/HostInfo.h"
#include "platform/LoginItem.h"
#include "platform/Pasteboard.h"
#include "platform/UrlOpener.h"
#include "platform/UserDefaults.h"
#include "relay/FileKeychain.h"
#include "sources/MockAdapter.h"
#include "support/RelayProcess.h"

#include <QNetworkAccessManager>
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
    StaticToolAdapter(std::string id, std::string name, bool available, bool limits = false) {
        d_.id = std::move(id);
        d_.displayName = std::move(name);
        d_.isAvailable = d_.cliInstalled = available;
        d_.limitDataFound = limits;
        d_.trackingStatus = available ? "Detected" : "Not detected";
        d_.summary = d_.displayName + (available ? " found" : " not found");
    }
    std::string id() const override { return d_.id; }
    std::string displayName() const override { return d_.displayName; }
    AdapterDiagnostic diagnose() const override { return d_; }
    std::optional<ProviderUsage> readUsage() const override { return std::nullopt; }

private:
    AdapterDiagnostic d_;
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

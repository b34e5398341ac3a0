// Renders the documentation screenshots: the real desktop app on the X display it is given (a
// window manager and a tray host running, see scripts/with-tray-host), against a local
// korvo-relay, in five states, each saved as a PNG into the folder named on the command line.

#include "RelayProcess.h"
#include "app/ConnectorMenuView.h"
#include "app/ConnectorWindowController.h"
#include "app/ConnectorWindowView.h"
#include "app/KorvoConnectorApp.h"
#include "core/ManifestLocation.h"
#include "core/UsageHistory.h"
#include "platform/Notifier.h"
#include "platform/UserDefaults.h"
#include "platform/XdgAutostartLoginItem.h"
#include "relay/FileKeychain.h"
#include "sources/UsageAdapter.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolTip>
#include <cstdio>
#include <fstream>
#include <httplib.h>
#include <qcoro/qcorotask.h>

namespace {

using namespace korvo;
using namespace std::chrono_literals;

// A tool with fixed figures, so the pictures are the same on every machine.
struct ShownTool final : UsageAdapter {
    ShownTool(std::string id, std::string name, double remaining, ProviderStatus status,
              std::string window, std::chrono::minutes resetIn)
        : id_(std::move(id)), name_(std::move(name)), remaining_(remaining), status_(status),
          window_(std::move(window)), resetIn_(resetIn) {}
    std::string id() const override { return id_; }
    std::string displayName() const override { return name_; }
    AdapterDiagnostic inspect() const override {
        AdapterDiagnostic d;
        d.id = id_;
        d.displayName = name_;
        d.isAvailable = d.cliInstalled = d.limitDataFound = true;
        d.summary = "Limits read from the tool's local files";
        d.trackingStatus = "Tracking limits";
        return d;
    }
    UsageReading read() const override {
        ProviderUsage row;
        row.id = id_;
        row.displayName = name_;
        row.source = SourceType::localCli;
        row.confidence = Confidence::cliReported;
        row.status = status_;
        row.usage.remainingPercent = remaining_;
        row.usage.usedPercent = 100 - remaining_;
        row.window = UsageWindow{UsageWindowKind::rolling, window_, std::nullopt,
                                 systemClock()() + resetIn_};
        return {std::move(row), std::nullopt};
    }
    std::string id_, name_;
    double remaining_;
    ProviderStatus status_;
    std::string window_;
    std::chrono::minutes resetIn_;
};

struct NoNotifications final : Notifier {
    void notify(const QString&, const QString&) override {}
};

bool waitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 15000);
}

void settle() {
    QTest::qWait(400);
}

bool save(const QPixmap& picture, const QString& path) {
    const bool saved = picture.save(path, "PNG");
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// The window with its frame as the window manager draws it, from the top of the page unless
// `scrolled`.
bool saveWindow(ConnectorWindowController& controller, const QString& path, bool scrolled = false) {
    if (!scrolled) {
        controller.view()->verticalScrollBar()->setValue(0);
    }
    settle();
    QMainWindow* window = controller.window();
    const QRect frame = window->frameGeometry();
    return save(QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                             frame.height()),
                path);
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Korvo Connector"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvo-screenshots RELAY-EXECUTABLE OUTPUT-FOLDER\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(output);
    relayserver::TemporaryDirectory scratch;
    const std::filesystem::path manifest = scratch.path() / "manifest.json";
    relayserver::RelayProcess relay(argv[1], scratch.path() / "relay.db",
                                    {"--manifest", manifest.string()});

    KorvoConnectorApp::Options options;
    options.channel = KorvoBuildChannel::release;
    options.notifier = std::make_shared<NoNotifications>();
    ConnectorModelOptions& model = options.model;
    model.home = scratch.path() / "home";
    model.userDefaults = std::make_shared<SettingsUserDefaults>(
        QString::fromStdString((scratch.path() / "settings.ini").string()));
    model.keychainBackend = std::make_shared<FileKeychain>((scratch.path() / "keychain").string());
    model.defaultRelayURL = QUrl(QString::fromStdString(relay.baseURL()));
    model.manifestURL =
        manifestURL(model.manifestURL,
                    fixedEnvironment({{kManifestURLVariable,
                                       relay.baseURL() + "/download/linux/manifest.json"}}),
                    nullptr);
    model.buildInfo = BuildInfo{"1.4.0", "42", "release"};
    model.environment = fixedEnvironment({});
    model.loginItem = std::make_shared<XdgAutostartLoginItem>(
        QString::fromStdString((scratch.path() / "autostart").string()), "korvo-connector.desktop",
        "/usr/bin/korvo-connector");
    const AdapterList tools{std::make_shared<ShownTool>("claude-code", "Claude Code", 62,
                                                        ProviderStatus::ok, "5-hour", 134min),
                            std::make_shared<ShownTool>("codex", "Codex CLI", 14,
                                                        ProviderStatus::warning, "Weekly",
                                                        2 * 24 * 60min)};
    model.realAdapters = tools;
    model.sourceAdapters = tools;
    // Earlier readings of both tools, so that the rows show their pace: Claude Code at about
    // 18 % an hour for 90 minutes, Codex CLI at about half a percent an hour for two days.
    model.historyFile = scratch.path() / "usage-history.sqlite";
    {
        UsageHistory history(*model.historyFile);
        const Instant now = systemClock()();
        const auto row = [](const char* id, const char* window, double used, Instant resetAt) {
            ProviderUsage usage;
            usage.id = id;
            usage.window = UsageWindow{UsageWindowKind::rolling, window, std::nullopt, resetAt};
            usage.usage.usedPercent = used;
            return usage;
        };
        for (int minute = 90; minute > 0; minute -= 5) {
            history.record({row("claude-code", "5-hour", 38 - minute * 0.3, now + 134min)},
                           now - std::chrono::minutes(minute));
        }
        for (int hour = 48; hour > 0; hour -= 2) {
            history.record({row("codex", "Weekly", 86 - hour * 0.54, now + 2 * 24h)},
                           now - std::chrono::hours(hour));
        }
    }

    KorvoConnectorApp app(std::move(options));
    app.launch();
    ConnectorModel& connector = app.model();
    ConnectorWindowController& controller = app.windowController();
    if (!waitFor([&] { return controller.window() && controller.window()->isVisible(); })) {
        std::fprintf(stderr, "the window did not appear\n");
        return 1;
    }
    QMainWindow* window = controller.window();
    window->resize(560, 760);
    bool ok = true;

    // 1. Not paired: a pairing code with its QR code, as "Open Pairing" shows it.
    QCoro::waitFor(connector.createPairingCode());
    controller.showPairing();
    ok &= waitFor([&] { return connector.isPollingForPairing(); });
    ok &= saveWindow(controller, output + QStringLiteral("/pairing.png"), true);

    // 2. Paired: the phone claims the code; the first upload follows.
    const std::string code = connector.pairingSession()->pairingCode;
    httplib::Client phone("127.0.0.1", relay.port());
    ok &= bool(phone.Post("/v1/pairing/claim", R"({"pairingCode": ")" + code + R"("})",
                          "application/json"));
    ok &= waitFor([&] { return connector.isPaired(); });
    QCoro::waitFor(connector.syncNow());
    connector.stopAutoSync();
    controller.show();
    ok &= saveWindow(controller, output + QStringLiteral("/paired.png"));

    // 3. A newer build on the download site, next to the tool that runs low.
    std::ofstream(manifest) << R"({"version": "1.5.0", "build": "57", "channel": "release",
        "file": "korvo-connector_1.5.0_amd64.deb"})";
    QCoro::waitFor(connector.checkForUpdates(false));
    ok &= saveWindow(controller, output + QStringLiteral("/update-and-warning.png"));

    // 4. The relay is gone: the upload fails and the window says so at the top.
    relay.stop();
    QCoro::waitFor(connector.syncNow());
    connector.stopAutoSync();
    ok &= saveWindow(controller, output + QStringLiteral("/sync-failing.png"));

    // 5. The tray icon's tooltip: the tool closest to its limit and its pace.
    if (app.trayIcon()) {
        const QRect icon = app.trayIcon()->geometry();
        QToolTip::showText(icon.bottomLeft() + QPoint(-600, 8), app.trayIcon()->toolTip());
        settle();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect area =
            QRect(icon.topLeft() - QPoint(760, 8), icon.bottomRight() + QPoint(16, 80))
                .intersected(screen);
        ok &= save(QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                                area.height()),
                   output + QStringLiteral("/tray-tooltip.png"));
        std::fprintf(stderr, "tray tooltip: %s\n", qPrintable(app.trayIcon()->toolTip()));
        QToolTip::hideText();
    }

    // 6. The tray menu, opened from the icon.
    ConnectorMenuView* menu = app.menu();
    if (menu && app.trayIcon()) {
        const QRect icon = app.trayIcon()->geometry();
        menu->popup(icon.bottomLeft() + QPoint(0, 2));
        ok &= waitFor([&] { return menu->isVisible(); });
        settle();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect area = QRect(menu->geometry().topLeft() - QPoint(16, 40),
                                 menu->geometry().bottomRight() + QPoint(16, 16))
                               .united(icon.adjusted(-8, -4, 8, 4))
                               .intersected(screen);
        ok &= save(QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                                area.height()),
                   output + QStringLiteral("/tray-menu.png"));
        menu->hide();
    } else {
        std::fprintf(stderr, "no tray host: no tray menu picture\n");
        ok = false;
    }
    return ok ? 0 : 1;
}

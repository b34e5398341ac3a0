// Renders the documentation screenshots: the real desktop app on the X display it is given (a
// window manager and a tray host running, see scripts/with-tray-host), against a local
// korvo-relay, in five states, each saved as a PNG into the folder named on the command line.

#include "app/AppPalette.h"
#include "app/ConnectorMenuView.h"
#include "app/ConnectorWindowController.h"
#include "app/ConnectorWindowView.h"
#include "app/KorvoConnectorApp.h"
#include "app/PairingConnectorView.h"
#include "app/TrayIcon.h"
#include "core/ManifestLocation.h"
#include "core/UsageHistory.h"
#include "model/TimeText.h"
#include "platform/AppearanceWatcher.h"
#include "platform/FileKeychain.h"
#include "platform/Notifier.h"
#include "platform/SettingsUserDefaults.h"
#include "platform/XdgAutostartLoginItem.h"
#include "sources/UsageAdapter.h"
#include "support/RelayProcess.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolTip>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <httplib.h>
#include <qcoro/qcorotask.h>

namespace {

using namespace korvo;
using namespace std::chrono_literals;

// A tool with fixed figures, so the pictures are the same on every machine: a first window, and a
// second one (weekly, 7-day) in the text form the adapters write; or, for a tool that reports only
// tokens, its token counts. The figures can be changed, as the tool's files would.
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
        d.isAvailable = d.cliInstalled = true;
        d.limitDataFound = !tokensOnly;
        d.summary = tokensOnly ? "Token counts read from the tool's telemetry"
                               : "Limits read from the tool's local files";
        d.trackingStatus = tokensOnly ? "Tracking tokens" : "Tracking limits";
        return d;
    }
    UsageReading read() const override {
        ProviderUsage row;
        row.id = id_;
        row.displayName = name_;
        row.source = SourceType::localCli;
        row.confidence = Confidence::cliReported;
        row.status = status_;
        if (tokensOnly) {
            row.usage.inputTokens = 182340;
            row.usage.outputTokens = 9120;
            row.usage.cachedInputTokens = 64000;
            row.usage.remainingText = "Thought 2310 tokens \u00B7 Tool 415 tokens";
            row.window =
                UsageWindow{UsageWindowKind::unknown, "Session", std::nullopt, std::nullopt};
            return {std::move(row), std::nullopt};
        }
        row.usage.remainingPercent = remaining_;
        row.usage.usedPercent = 100 - remaining_;
        row.window = UsageWindow{UsageWindowKind::rolling, window_, std::nullopt,
                                 systemClock()() + resetIn_};
        if (second) {
            const long used = std::lround(100 - second->first);
            row.usage.remainingText = second->label + " " + std::to_string(100 - used) +
                                      "% remaining \u00B7 " + std::to_string(used) +
                                      "% used \u00B7 resets " +
                                      formatInternetDateTime(systemClock()() + second->resetIn);
        }
        return {std::move(row), std::nullopt};
    }
    struct Second {
        std::string label;
        double first; // remaining percent
        std::chrono::minutes resetIn;
    };
    std::string id_, name_;
    double remaining_;
    ProviderStatus status_;
    std::string window_;
    std::chrono::minutes resetIn_;
    std::optional<Second> second;
    bool tokensOnly = false;
};

// The desktop's light or dark preference, switched by the tool as a user would switch it.
struct ShownAppearance final : AppearanceWatcher {
    void switchTo(ColorScheme scheme) { setColorScheme(scheme); }
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
    test::TestHome scratch;
    const std::filesystem::path manifest = scratch.path() / "manifest.json";
    test::RelayProcess relay(test::RelayProcess::Executable{argv[1]}, scratch.filePath("relay.db"),
                             {"--manifest", manifest.string()});
    if (relay.port() <= 0) {
        std::fprintf(stderr, "korvo-screenshots: %s did not start\n", argv[1]);
        return 1;
    }

    KorvoConnectorApp::Options options;
    options.channel = KorvoBuildChannel::release;
    options.notifier = std::make_shared<NoNotifications>();
    ConnectorModelOptions& model = options.model;
    model.home = scratch.path() / "home";
    model.userDefaults = std::make_shared<SettingsUserDefaults>(
        QString::fromStdString((scratch.path() / "settings.json").string()));
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
    auto claude = std::make_shared<ShownTool>("claude-code", "Claude Code", 62, ProviderStatus::ok,
                                              "5h", 134min);
    claude->second = ShownTool::Second{"7d", 71, 3 * 24 * 60min + 7 * 60min};
    auto codex =
        std::make_shared<ShownTool>("codex", "Codex CLI", 55, ProviderStatus::ok, "5h", 100min);
    codex->second = ShownTool::Second{"Weekly", 14, 2 * 24 * 60min + 5 * 60min};
    auto gemini = std::make_shared<ShownTool>("gemini-cli", "Gemini CLI", 0,
                                              ProviderStatus::unknown, "", 0min);
    gemini->tokensOnly = true;
    const AdapterList tools{claude, codex, gemini};
    model.realAdapters = tools;
    model.sourceAdapters = tools;
    // Earlier readings of both tools, so that the rows show their pace: Claude Code at about
    // 18 % an hour for 90 minutes, Codex CLI at about 6 % an hour for two hours.
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
            history.record({row("claude-code", "5h", 38 - minute * 0.3, now + 134min)},
                           now - std::chrono::minutes(minute));
        }
        for (int minute = 120; minute > 0; minute -= 10) {
            history.record({row("codex", "5h", 45 - minute * 0.1, now + 100min)},
                           now - std::chrono::minutes(minute));
        }
    }

    // The download site offers this very build until step 3 puts a newer one there.
    std::ofstream(manifest) << R"({"version": "1.4.0", "build": "42", "channel": "release",
        "file": "korvo-connector_1.4.0_amd64.deb"})";
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
    ok &= waitFor([&] { return connector.pairing().state().isPolling; });
    // The relay serves its web view: the panel offers it to any phone once the relay said so.
    ok &= waitFor([&] {
        return controller.view()->pairingView()->webViewRow()->isVisibleTo(controller.window());
    });
    controller.showPairing();
    settle();
    // From the button down: the code, its QR code and the web view's.
    if (const auto* create = controller.view()->pairingView()->findChild<QWidget*>(
            QStringLiteral("createPairingCode"))) {
        controller.view()->verticalScrollBar()->setValue(
            create->mapTo(controller.view()->widget(), QPoint()).y() - 12);
    }
    ok &= saveWindow(controller, output + QStringLiteral("/pairing.png"), true);

    // 2. Paired: the phone claims the code; the first upload follows.
    const std::string code = connector.pairing().state().session->pairingCode;
    httplib::Client phone("127.0.0.1", relay.port());
    ok &= bool(phone.Post("/v1/pairing/claim", R"({"pairingCode": ")" + code + R"("})",
                          "application/json"));
    ok &= waitFor([&] { return connector.isPaired(); });
    QCoro::waitFor(connector.syncNow());
    connector.stopAutoSync();
    controller.show();
    ok &= saveWindow(controller, output + QStringLiteral("/paired.png"));

    // 2b. The same window after the desktop switched to dark.
    {
        ShownAppearance appearance;
        ColorSchemeFollower follower(appearance);
        appearance.switchTo(ColorScheme::dark);
        ok &= saveWindow(controller, output + QStringLiteral("/paired-dark.png"));
        appearance.switchTo(ColorScheme::noPreference);
    }

    // 3. A newer build on the download site, next to the tool that runs low.
    std::ofstream(manifest) << R"({"version": "1.5.0", "build": "57", "channel": "release",
        "file": "korvo-connector_1.5.0_amd64.deb"})";
    QCoro::waitFor(connector.checkForUpdates(false));
    ok &= saveWindow(controller, output + QStringLiteral("/update-and-warning.png"));

    // 4. The relay is gone and Codex's weekly window runs out: the upload fails, the window says
    // so at the top, and the rows show the newest reading, marked as not uploaded yet.
    relay.stop();
    codex->second->first = 3;
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

    // 6. The tray icon in each state, at the sizes panels use, on a light and a dark panel.
    {
        const auto glance = [](std::optional<double> lowest, ProviderStatus status,
                               TrayGlance::Mark mark) {
            TrayGlance g;
            g.lowest = lowest;
            g.lowestStatus = status;
            g.mark = mark;
            return g;
        };
        const TrayGlance states[] = {
            glance(64, ProviderStatus::ok, TrayGlance::Mark::none),
            glance(14, ProviderStatus::warning, TrayGlance::Mark::none),
            glance(3, ProviderStatus::critical, TrayGlance::Mark::none),
            glance(0, ProviderStatus::limited, TrayGlance::Mark::limited),
            glance(64, ProviderStatus::ok, TrayGlance::Mark::failing),
            glance(64, ProviderStatus::ok, TrayGlance::Mark::notPaired),
            glance(std::nullopt, ProviderStatus::unknown, TrayGlance::Mark::none),
        };
        const int sizes[] = {16, 22, 32};
        const int cell = 44;
        QImage strip(cell * int(std::size(states)), cell * 2 * int(std::size(sizes)),
                     QImage::Format_RGB32);
        QPainter painter(&strip);
        for (int panel = 0; panel < 2; ++panel) {
            for (std::size_t row = 0; row < std::size(sizes); ++row) {
                const int top = (panel * int(std::size(sizes)) + int(row)) * cell;
                painter.fillRect(0, top, strip.width(), cell,
                                 panel == 0 ? QColor(0xf6, 0xf5, 0xf4) : QColor(0x30, 0x30, 0x30));
                for (std::size_t i = 0; i < std::size(states); ++i) {
                    const int pixels = sizes[row];
                    painter.drawImage(int(i) * cell + (cell - pixels) / 2,
                                      top + (cell - pixels) / 2, trayStateImage(states[i], pixels));
                }
            }
        }
        painter.end();
        ok &= save(QPixmap::fromImage(strip), output + QStringLiteral("/tray-icons.png"));
    }
    return ok ? 0 : 1;
}

#include "AppTestSupport.h"
#include "app/ConnectorMenuView.h"
#include "app/ConnectorWindowController.h"
#include "app/ConnectorWindowView.h"
#include "app/KorvoConnectorApp.h"
#include "app/TrayIcon.h"
#include "core/QuotaAlertMonitor.h"

#include <QGuiApplication>
#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace korvo {
namespace {

// Under a real X server with a window manager and a tray host (scripts/with-tray-host): the
// icon is drawn in the tray, the tray menu opens the window at the pairing button, and a low
// quota becomes one notification while alerts are on.
TEST(TrayHostTest, IconMenuAndAlerts) {
    // On a busy machine the tray host may take a while to claim the tray after it started.
    const bool hosted = qEnvironmentVariableIsSet("KORVO_TEST_TRAY_HOST");
    if (hosted) {
        static_cast<void>(
            QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 15000));
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (hosted) {
            FAIL() << "no tray host on " << qgetenv("DISPLAY").toStdString();
        }
        GTEST_SKIP() << "no tray host";
    }
    test::ModelHarness harness{test::HarnessBuild::release};
    // A tool whose weekly quota is nearly used up.
    auto codex = test::tool("codex", "Codex CLI", true, true);
    codex->row.emplace();
    codex->row->id = "codex";
    codex->row->displayName = "Codex CLI";
    codex->row->status = ProviderStatus::critical;
    codex->row->window = UsageWindow{UsageWindowKind::weekly, {}, {}, {}};
    codex->row->usage.remainingPercent = 3;
    harness.options.realAdapters = AdapterList{codex};
    auto notifier = std::make_shared<test::RecordingNotifier>();
    KorvoConnectorApp app({harness.options, nullptr, KorvoBuildChannel::release, true, notifier});
    app.launch();
    QSystemTrayIcon* tray = app.trayIcon();
    ASSERT_TRUE(tray);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray->geometry().width() > 0; }, 5000));

    // Something other than the tray's flat background is drawn where the icon sits.
    QTest::qWait(300);
    const QRect where = tray->geometry();
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, where.x(), where.y(), where.width(), where.height())
                            .toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            colours.insert(shot.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 2) << "blank tray icon at " << where.x() << "," << where.y();

    ConnectorMenuView* menu = app.menu();
    ASSERT_TRUE(menu);
    const auto item = [&](const QString& text) { return test::action(*menu, text); };
    // The icon itself and its tooltip tell the state: the tool closest to its limit, by name.
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray->toolTip().contains("Codex CLI"); }, 5000));
    EXPECT_EQ(tray->toolTip(), "Korvo Connector: Codex CLI 3% remaining \u00B7 Not paired");
    EXPECT_NE(tray->icon().pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32),
              korvo::trayIcon().pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32));
    // The rows of information do not look clickable.
    QAction* codexRow = item("Codex CLI  3%");
    ASSERT_TRUE(codexRow) << test::actionTexts(*menu).join(" | ").toStdString();
    EXPECT_FALSE(codexRow->isEnabled());
    EXPECT_FALSE(item("Status: Not paired")->isEnabled());
    ASSERT_TRUE(item("alerts"));
    EXPECT_TRUE(item("alerts")->isChecked());

    // The start-up refresh reads the low quota: one notification.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier->notices.isEmpty(); }, 5000));
    EXPECT_EQ(notifier->notices,
              QStringList{"Codex CLI: 3% remaining: Below 5% of the weekly window."});
    QCoro::waitFor(app.model().refreshLocalLimits());
    EXPECT_EQ(notifier->notices.size(), 1);
    item("alerts")->trigger();
    EXPECT_FALSE(app.alerts().enabled());
    EXPECT_EQ(harness.defaults->string(QuotaAlertMonitor::kEnabledKey), "false");

    ConnectorWindowController& controller = app.windowController();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return controller.window() && controller.window()->isVisible(); }));
    controller.window()->close();
    item("openPairing")->trigger();
    QMainWindow* window = controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, 5000));
    QAbstractButton* create = test::button(window, "createPairingCode");
    ASSERT_TRUE(create);
    EXPECT_TRUE(create->hasFocus());
    EXPECT_GT(controller.view()->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(notifier->notices.size() == 1); // closing with a tray says nothing
    app.model().stopAutoSync();
}

} // namespace
} // namespace korvo

// The app on the desktops Linux users run, each for real: a StatusNotifierItem tray (waybar under
// sway, or a standalone host on X11), sway's output scales, and a session without any tray.
// CTest runs them under scripts/with-sway and scripts/with-tray-host (tests/app/CMakeLists.txt);
// run any other way, they are skipped.

#include "AppTestSupport.h"
#include "DesktopSession.h"
#include "app/ConnectorAppDelegate.h"
#include "app/ConnectorMenuView.h"
#include "app/ConnectorWindowController.h"
#include "app/KorvoConnectorApp.h"
#include "support/PrivateHome.h"
#include "support/SanitizedBuild.h"

#include <QJsonDocument>
#include <QMainWindow>
#include <QMenuBar>
#include <QProcess>
#include <QSystemTrayIcon>
#include <cmath>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::DesktopSession;
using test::StatusNotifierBus;

// The desktop sessions are left out of sanitized builds: the Wayland and D-Bus clients that talk
// to sway, waybar and the StatusNotifierItem watcher keep one-time allocations that
// LeakSanitizer reports at exit. The window and tray code they drive runs sanitized offscreen.
bool skippedWhenSanitized() {
    return test::kSanitizedBuild;
}

// The colour the tray icon's bars are filled with.
const QColor kIconFill(0xf4, 0xf4, 0xf4);

// The tray host shows the icon from the item the app registers, opens its menu with the
// app's entries on a right click, reopens the closed window on a left click, and its tooltip
// follows the connector's state.
TEST(StatusNotifierTrayTest, HostShowsIconMenuAndState) {
    if (skippedWhenSanitized()) {
        GTEST_SKIP() << "desktop sessions run in the optimised build only";
    }
    if (!qEnvironmentVariableIsSet("KORVO_TEST_SNI_HOST")) {
        GTEST_SKIP() << "needs a StatusNotifierItem host: run by app_sway_tray and app_x11_sni";
    }
    DesktopSession desktop;
    test::ModelHarness harness{test::HarnessBuild::release};
    const QImage before = desktop.screenshot();
    auto notifier = std::make_shared<test::RecordingNotifier>();
    KorvoConnectorApp app({harness.options, nullptr, KorvoBuildChannel::release, true, notifier});
    // Qt chooses the StatusNotifierItem form when a host is registered with the watcher.
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    app.launch();
    ASSERT_TRUE(app.trayIcon());
    std::optional<std::pair<QString, QString>> item;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (item = StatusNotifierBus::ownItem()).has_value(); }, 10000))
        << "not registered: " << StatusNotifierBus::registeredItems().join(' ');
    ConnectorWindowController& controller = app.windowController();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return controller.window() && controller.window()->isVisible(); }));

    // The icon appears at the right end of the bar along the top of the screen (30 pixels
    // high), drawn from the item's pixmaps. The window is centred below.
    const QRect bar(before.width() / 2, 0, before.width() / 2, 26);
    QImage shot;
    QRect icon;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            shot = desktop.screenshot();
            icon = DesktopSession::changed(before, shot, bar);
            return icon.width() >= 10 && DesktopSession::count(shot, icon, kIconFill) >= 10;
        },
        10000))
        << "no icon in the bar; changed " << icon.width() << "x" << icon.height();
    EXPECT_LE(icon.width(), 64);
    DesktopSession::keep(shot.copy(QRect(shot.width() - 240, 0, 240, 40)),
                         "tray-icon-" + QGuiApplication::platformName() + ".png");

    // The tooltip the host shows follows the state.
    EXPECT_EQ(StatusNotifierBus::toolTipTitle(*item), "Korvo Connector: Not paired");
    harness.storePairing();
    app.delegate().applicationShouldHandleReopen();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.model().isPaired(); }));
    app.model().stopAutoSync();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return StatusNotifierBus::toolTipTitle(*item) == "Korvo Connector: Connected to iPhone";
    })) << StatusNotifierBus::toolTipTitle(*item);

    // The menu the host reads has the app's entries, in order.
    QStringList labels;
    for (const auto& [label, id] : StatusNotifierBus::menuEntries(*item)) {
        labels << QString(label).remove(QLatin1Char('_'));
    }
    EXPECT_EQ(labels, test::actionTexts(*app.menu()));
    EXPECT_EQ(labels.value(0), "Korvo Connector");
    EXPECT_EQ(labels.value(labels.size() - 1), "Quit");

    // A right click on the icon makes the host open the menu beneath it.
    controller.window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.window()->isVisible(); }));
    QTest::qWait(300);
    const QImage closed = desktop.screenshot();
    desktop.click(icon.center(), Qt::RightButton);
    QRect menu;
    QImage full;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            shot = desktop.screenshot(&full);
            menu = DesktopSession::changed(closed, shot, QRect(0, 40, shot.width(), 400));
            return menu.height() >= 200;
        },
        10000))
        << "no menu opened; changed " << menu.width() << "x" << menu.height();
    DesktopSession::keep(full.copy(QRect(full.width() - std::lround(420 * DesktopSession::scale()),
                                         0, std::lround(420 * DesktopSession::scale()),
                                         std::lround(480 * DesktopSession::scale()))),
                         "tray-menu-" + QGuiApplication::platformName() + ".png");
    // A click elsewhere closes it; "Open Pairing" picked in it opens the window at pairing.
    desktop.click(QPoint(40, shot.height() - 40), Qt::LeftButton);
    for (const auto& [label, id] : StatusNotifierBus::menuEntries(*item)) {
        if (QString(label).remove(QLatin1Char('_')) == "Open Pairing") {
            StatusNotifierBus::clickEntry(*item, id);
        }
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.window()->isVisible(); }, 10000));
    controller.window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.window()->isVisible(); }));

    // A left click on the icon brings the closed window back, in front.
    QTest::qWait(300);
    desktop.click(icon.center(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.active(controller.window()); }, 10000));
    EXPECT_TRUE(notifier->notices.isEmpty()); // with a tray, closing says nothing
}

// On a HiDPI output the window is drawn at the output's density, not enlarged from a picture
// at scale 1, and keeps its size in logical pixels.
TEST(SwayScaleTest, WindowDrawnAtTheOutputScale) {
    if (skippedWhenSanitized()) {
        GTEST_SKIP() << "desktop sessions run in the optimised build only";
    }
    if (!DesktopSession::wayland() || !qEnvironmentVariableIsSet("SWAYSOCK")) {
        GTEST_SKIP() << "needs sway: run by app_sway_scale_*";
    }
    DesktopSession desktop;
    test::ModelHarness harness{test::HarnessBuild::release};
    harness.useFixtureTools(); // the picture shows a window with its tools' rows
    KorvoConnectorApp app({harness.options, nullptr, KorvoBuildChannel::release, true,
                           std::make_shared<test::RecordingNotifier>()});
    app.launch();
    ConnectorWindowController& controller = app.windowController();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return controller.window() && controller.window()->isVisible() &&
               !DesktopSession::swayWindows(QStringLiteral("test_app")).isEmpty();
    }));
    const double scale = DesktopSession::scale();
    EXPECT_GE(controller.window()->devicePixelRatio(), scale);
    const QJsonObject rect = DesktopSession::swayWindows(QStringLiteral("test_app"))
                                 .first()
                                 .value(QStringLiteral("window_rect"))
                                 .toObject();
    EXPECT_EQ(rect.value(QStringLiteral("width")).toInt(), 520);
    EXPECT_EQ(rect.value(QStringLiteral("height")).toInt(), 720);
    DesktopSession::park();
    QTest::qWait(500);
    QImage full;
    desktop.screenshot(&full);
    EXPECT_EQ(full.size(), QSize(std::lround(1280 * scale), std::lround(800 * scale)));
    DesktopSession::keep(full, QStringLiteral("wayland-window-scale-%1.png").arg(scale));
    app.model().stopAutoSync();
}

// Without any tray host, the window's menu bar holds the tray's menu, and the first close tells
// the person, through the desktop's notification server, how to reach the app again: once.
TEST(NoTrayHostTest, SaysOnceHowToReachTheApp) {
    if (skippedWhenSanitized()) {
        GTEST_SKIP() << "desktop sessions run in the optimised build only";
    }
    if (!qEnvironmentVariableIsSet("KORVO_TEST_NO_TRAY_HOST")) {
        GTEST_SKIP() << "needs a desktop without a tray: run by app_sway_no_tray";
    }
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    test::ModelHarness harness{test::HarnessBuild::release};
    // The notifications go to the session's own server (mako), which keeps them.
    KorvoConnectorApp app({harness.options, nullptr, KorvoBuildChannel::release, true, nullptr});
    app.launch();
    EXPECT_EQ(app.trayIcon(), nullptr);
    ConnectorWindowController& controller = app.windowController();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return controller.window() && controller.window()->isVisible(); }));
    ASSERT_TRUE(app.menu());
    const QList<QAction*> bar = controller.window()->menuBar()->actions();
    ASSERT_EQ(bar.size(), 1);
    EXPECT_EQ(bar.first()->menu(), app.menu());
    EXPECT_TRUE(test::action(*app.menu(), "Quit"));

    const auto notices = [] {
        QStringList texts;
        const auto out = DesktopSession::run(QStringLiteral("makoctl"), {QStringLiteral("list")});
        const QJsonArray lists = QJsonDocument::fromJson(out.value_or(QByteArray()))
                                     .object()
                                     .value(QStringLiteral("data"))
                                     .toArray();
        for (const QJsonValue& list : lists) {
            for (const QJsonValue& notice : list.toArray()) {
                const auto field = [&notice](const char* name) {
                    return notice[QLatin1String(name)][QLatin1String("data")].toString();
                };
                texts << field("summary") + QStringLiteral(": ") + field("body");
            }
        }
        return texts;
    };
    controller.window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notices().isEmpty(); }, 10000));
    EXPECT_EQ(notices(),
              QStringList{"Korvo Connector keeps running: Snapshots keep syncing in the "
                          "background. Launch Korvo Connector again to open its window. On "
                          "GNOME, the AppIndicator extension shows its icon in the top bar."});
    DesktopSession::park();
    QImage full;
    DesktopSession().screenshot(&full);
    DesktopSession::keep(full.copy(QRect(full.width() / 2, 0, full.width() / 2, full.height() / 3)),
                         QStringLiteral("wayland-no-tray.png"));
    app.delegate().applicationShouldHandleReopen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.window()));
    controller.window()->close();
    QTest::qWait(300);
    EXPECT_EQ(notices().size(), 1);
    app.model().stopAutoSync();
}

// The installed program, twice: the second launch hands over to the first, whose window comes
// back when it was closed and comes to the front when another window was.
TEST(NoTrayHostTest, SecondLaunchBringsTheWindowToTheFront) {
    if (skippedWhenSanitized()) {
        GTEST_SKIP() << "desktop sessions run in the optimised build only";
    }
    if (!qEnvironmentVariableIsSet("KORVO_TEST_NO_TRAY_HOST")) {
        GTEST_SKIP() << "needs a desktop without a tray: run by app_sway_no_tray";
    }
    test::PrivateHome home;
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "WAYLAND_DISPLAY"}) {
        home.env.insert(name, qEnvironmentVariable(name));
    }
    const auto launch = [&home] {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(home.env);
        test::dieWithTheTest(*process);
        process->start(QStringLiteral(KORVO_BIN_DIR "/korvo-connector-desktop"), {});
        return process;
    };
    const auto window = [] {
        const QList<QJsonObject> found =
            DesktopSession::swayWindows(QStringLiteral("korvo-connector"));
        return found.isEmpty() ? QJsonObject() : found.first();
    };
    const auto focused = [&window] { return window().value(QStringLiteral("focused")).toBool(); };
    std::unique_ptr<QProcess> first = launch();
    ASSERT_TRUE(QTest::qWaitFor(focused, 10000));

    // Closed: the second launch ends at once and the window is back.
    DesktopSession::run(QStringLiteral("swaymsg"),
                        {QStringLiteral("[app_id=korvo-connector] kill")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return window().isEmpty(); }, 10000));
    std::unique_ptr<QProcess> second = launch();
    EXPECT_EQ(test::finish(*second, 10000).exitCode, 0);
    EXPECT_TRUE(QTest::qWaitFor(focused, 10000));

    // Behind another window: the second launch brings it to the front.
    QWidget other;
    other.setWindowTitle(QStringLiteral("other"));
    other.resize(300, 200);
    other.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return DesktopSession::active(&other); }, 10000));
    ASSERT_FALSE(focused());
    std::unique_ptr<QProcess> third = launch();
    EXPECT_EQ(test::finish(*third, 10000).exitCode, 0);
    EXPECT_TRUE(QTest::qWaitFor(focused, 10000));
    EXPECT_EQ(first->state(), QProcess::Running);
    first->terminate();
    first->waitForFinished(5000);
}

} // namespace
} // namespace korvo

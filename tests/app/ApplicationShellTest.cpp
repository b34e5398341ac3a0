#include "AppTestSupport.h"
#include "app/ConnectorAppDelegate.h"
#include "app/ConnectorMenuView.h"
#include "app/ConnectorWindowController.h"
#include "app/KorvoConnectorApp.h"
#include "platform/PowerEvents.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace korvo {
namespace {

// Without a tray, the window holds the tray's menu, and closing it keeps the app running and
// says so once. The window appears one turn after launching, sleep and wake reach the model one
// turn after they are announced, until termination, and reopening brings back the one window.
TEST(KorvoConnectorAppTest, LaunchSleepWakeReopenAndTermination) {
    test::ModelHarness harness{test::HarnessBuild::release};
    PowerEvents power;
    auto notifier = std::make_shared<test::RecordingNotifier>();
    KorvoConnectorApp app({harness.options, &power, KorvoBuildChannel::release, false, notifier});
    app.launch();
    ConnectorModel& model = app.model();
    ConnectorWindowController& controller = app.windowController();
    EXPECT_EQ(app.trayIcon(), nullptr);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_EQ(app.delegate().observerCount(), 2U);
    EXPECT_EQ(controller.window(), nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return controller.window() && controller.window()->isVisible(); }));
    QMainWindow* window = controller.window();
    EXPECT_EQ(window->windowTitle(), "Korvo Connector");
    EXPECT_FALSE(window->windowIcon().isNull());
    // The tray's menu, Quit included, is the window's menu.
    ASSERT_EQ(window->menuBar()->actions().size(), 1);
    EXPECT_EQ(window->menuBar()->actions().first()->menu(), app.menu());
    EXPECT_TRUE(test::action(*app.menu(), "Quit"));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return sourceDiagnosticStatusText(model.collector().diagnostics()) != "Checking" &&
               sourceDiagnosticStatusText(model.collector().diagnostics()) != "Not checked";
    }));

    Q_EMIT power.willSleep();
    EXPECT_EQ(powerStatusText(model.autoSync().state()), "Awake");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return powerStatusText(model.autoSync().state()) == "Sleeping"; }));
    EXPECT_EQ(model.autoSync().state().lastSleepAt, test::kStart);
    Q_EMIT power.didWake();
    EXPECT_EQ(powerStatusText(model.autoSync().state()), "Sleeping");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return powerStatusText(model.autoSync().state()) == "Awake"; }));

    // Closing hides the window. Paired in the meantime (as another run of the program would
    // leave it): reopening brings back the same window, where it was, and its start-up refresh
    // sees the pairing.
    window->move(window->pos() + QPoint(30, 40));
    const QPoint moved = window->pos();
    window->close();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier->notices.isEmpty(); }));
    EXPECT_EQ(notifier->notices,
              QStringList{"Korvo Connector keeps running: Snapshots keep syncing in the "
                          "background. Launch Korvo Connector again to open its window. On "
                          "GNOME, the AppIndicator extension shows its icon in the top bar."});
    harness.storePairing();
    app.delegate().applicationShouldHandleReopen();
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), moved);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.isPaired(); }));
    EXPECT_EQ(connectionStatusText(model.connection().status()), "Connected to iPhone");
    model.stopAutoSync();
    window->close();
    QTest::qWait(20);
    EXPECT_EQ(notifier->notices.size(), 1); // told once

    app.delegate().applicationWillTerminate();
    EXPECT_EQ(app.delegate().observerCount(), 0U);
    Q_EMIT power.willSleep();
    QTest::qWait(20);
    EXPECT_EQ(powerStatusText(model.autoSync().state()), "Awake");
}

using test::action;
using test::actionTexts;

TEST(ConnectorMenuViewTest, MenuFollowsTheModel) {
    test::ModelHarness harness{test::HarnessBuild::release};
    harness.useFixtureTools();
    ConnectorModel& model = harness.make();
    int opened = 0;
    ConnectorMenuView menu(model, harness.options.clock, [&opened] { ++opened; });
    EXPECT_EQ(actionTexts(menu).join(" | "),
              "Korvo Connector | -- | Status: Not paired | Sources: Not checked | "
              "Auto sync: Paused | Last sync: Never | Updates: Not checked | -- | "
              "Check for Updates | -- | Limits: Not available yet | -- | Open at Login | -- | "
              "Open Pairing | Refresh Now | Refresh Limits | Copy Latest Snapshot JSON | "
              "Unlink Device | -- | Quit");
    EXPECT_FALSE(action(menu, "refreshNow")->isEnabled());
    EXPECT_FALSE(action(menu, "openAtLogin")->isChecked());
    // Status lines are information, not commands: disabled, they are not highlighted under the
    // pointer and do not look clickable.
    for (const char* line :
         {"Korvo Connector", "Status: Not paired", "Sources: Not checked", "Auto sync: Paused",
          "Last sync: Never", "Updates: Not checked", "Limits: Not available yet"}) {
        EXPECT_FALSE(action(menu, line)->isEnabled()) << line;
    }

    // Changes of the model update the items in place: the item under the pointer stays.
    QAction* refreshLimits = action(menu, "refreshLimits");
    menu.setActiveAction(refreshLimits);
    // After the local limits are read, a row per tool replaces the placeholder; a change of the
    // model is picked up on the next turn of the event loop.
    QCoro::waitFor(model.refreshLocalLimits());
    QCoreApplication::processEvents();
    EXPECT_EQ(menu.activeAction(), refreshLimits);
    EXPECT_EQ(action(menu, "refreshLimits"), refreshLimits);
    const QStringList texts = actionTexts(menu);
    EXPECT_FALSE(texts.contains("Limits: Not available yet"));
    ASSERT_TRUE(model.displaySnapshot().has_value());
    for (const ProviderUsage& provider : model.displaySnapshot()->providers) {
        EXPECT_EQ(texts.filter(QString::fromStdString(provider.displayName)).size(), 1)
            << provider.displayName;
    }

    action(menu, "openPairing")->trigger();
    EXPECT_EQ(opened, 1);
    action(menu, "openAtLogin")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.launchAtLogin().state().enabled; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(action(menu, "openAtLogin")->isChecked());
}

} // namespace
} // namespace korvo

#include "app/ConnectorWindowView.h"

#include "AppTestSupport.h"
#include "ZbarDecode.h"
#include "app/AppStyle.h"
#include "app/ConnectedConnectorView.h"
#include "app/ConnectorWindowController.h"
#include "app/DiagnosticsConnectorView.h"
#include "app/FlowLayout.h"
#include "app/PairingConnectorView.h"
#include "app/ProviderLimitRow.h"
#include "app/QRCodeView.h"
#include "app/SymbolLabel.h"
#include "app/UserSupportConnectorView.h"
#include "app/ViewText.h"
#include "support/HostileRelay.h"
#include "support/RelayProcess.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QScrollBar>
#include <QSet>
#include <algorithm>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>

namespace korvo {
namespace {

using test::button;
using test::enabled;
using test::visible;

// Tab walks every control of the page from the top: each one below the one before, or beside
// it on the same line.
void expectTabOrderFollowsTheLayout(const QWidget* root) {
    QList<QWidget*> stops;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (w->isVisibleTo(root) && (w->focusPolicy() & Qt::TabFocus)) {
            stops << w;
        }
    }
    ASSERT_GT(stops.size(), 5);
    const auto at = [&](const QWidget* w) { return w->mapTo(root, QPoint()); };
    QWidget* first = *std::min_element(stops.begin(), stops.end(), [&](auto* a, auto* b) {
        return std::pair(at(a).y(), at(a).x()) < std::pair(at(b).y(), at(b).x());
    });
    QList<QWidget*> order;
    QWidget* w = first;
    for (int steps = 0; steps < 1000 && order.size() < stops.size(); ++steps) {
        if (stops.contains(w) && !order.contains(w)) {
            order << w;
        }
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(order.size(), stops.size());
    for (qsizetype i = 1; i < order.size(); ++i) {
        const QPoint before = at(order[i - 1]);
        const QPoint here = at(order[i]);
        const bool sameLine = std::abs(here.y() - before.y()) < 8;
        EXPECT_TRUE(here.y() > before.y() || (sameLine && here.x() > before.x()))
            << order[i - 1]->metaObject()->className() << " "
            << order[i - 1]->objectName().toStdString() << " at " << before.y() << ", then "
            << order[i]->metaObject()->className() << " " << order[i]->objectName().toStdString()
            << " at " << here.y();
    }
}

class ConnectorWindowViewTest : public ::testing::Test {
protected:
    // The page of a model that has run its start-up refresh (no automatic sync once paired).
    std::unique_ptr<ConnectorWindowView> startedPage(KorvoBuildChannel channel) {
        ConnectorModel& model = harness.make();
        QCoro::waitFor(model.start());
        if (model.isPaired()) {
            model.stopAutoSync();
        }
        auto page = std::make_unique<ConnectorWindowView>(model, viewClock, channel);
        page->resize(520, 720);
        page->refresh();
        return page;
    }

    test::ModelHarness harness{test::HarnessBuild::release};
    // The window is looked at three minutes after the model's events.
    Clock viewClock = fixedClock(test::kStart + std::chrono::minutes(3));
};

// Pairing decides between the pairing and the connected panel; development builds show
// Diagnostics instead of Support and offer the snapshot JSON. The detected CLIs leave out the
// two main tools, the demo source and tools that are not there, and are sorted by name. Every
// panel names the computer, not the Mac, even while the model's status reads "Mac sleeping".
TEST_F(ConnectorWindowViewTest, PanelsFollowPairingAndBuildChannel) {
    using test::tool;
    harness.options.sourceAdapters = AdapterList{
        std::make_shared<MockAdapter>(harness.options.clock),
        tool("claude-code", "Claude Code", true, true),
        tool("codex", "Codex CLI", true),
        tool("gemini-cli", "Gemini CLI", true),
        tool("aider", "Aider", true),
        tool("cursor", "Cursor", false),
        tool("amazon-q", "Amazon Q", true),
    };
    for (const bool paired : {false, true}) {
        if (paired) {
            harness.storePairing();
        }
        for (const KorvoBuildChannel channel :
             {KorvoBuildChannel::development, KorvoBuildChannel::release}) {
            SCOPED_TRACE(std::string(rawValue(channel)) + (paired ? " paired" : ""));
            const bool development = channel == KorvoBuildChannel::development;
            const auto page = startedPage(channel);
            const QWidget* root = page->widget();
            EXPECT_TRUE(visible(root, paired ? "Connected to iPhone" : "Not paired"));
            EXPECT_EQ(test::visibleTexts(root, &QGroupBox::title),
                      QStringList({"Updates", "Current Limits on This Computer"}) +
                          (paired ? QStringList{"Sources & Detected CLIs", "Last Snapshot"}
                                  : QStringList{"Quick Start"}) +
                          QStringList{development ? "Diagnostics" : "Support"});
            EXPECT_EQ(enabled(root, "refreshNow"), paired);
            EXPECT_EQ(enabled(root, "refreshAndUpload"), paired);
            EXPECT_EQ(enabled(root, "createPairingCode"),
                      paired ? std::nullopt : std::optional(true));
            EXPECT_EQ(enabled(root, "unlinkDevice").has_value(), paired);
            EXPECT_EQ(enabled(root, "copyLatestSnapshotJSON").has_value(), paired && development);
            // Nothing serves the manifest here, so the silent check leaves a status, no update.
            EXPECT_TRUE(visible(root, "Connector updates"));
            EXPECT_FALSE(button(root, "downloadUpdate"));
            const auto value = [&](const char* name) {
                return (development ? page->diagnosticsView()->valueLabel(name)
                                    : page->supportView()->valueLabel(name))
                    ->text();
            };
            EXPECT_EQ(value("Detected CLIs"), "Aider, Amazon Q, Gemini CLI");
            if (!development && !paired) {
                EXPECT_EQ(value("Build"), "Release");
                EXPECT_EQ(value("Pairing"), "Not paired");
                EXPECT_EQ(value("Last upload"), "Never");
                EXPECT_EQ(value("Auto sync"), "Paused");
            }
            harness.model().handleSleep();
            page->refresh();
            const QStringList texts = test::visibleLabelTexts(root) +
                                      test::visibleTexts(root, &QGroupBox::title) +
                                      test::visibleTexts(root, &QAbstractButton::text);
            EXPECT_TRUE(texts.filter("Mac").isEmpty())
                << texts.filter("Mac").join(" | ").toStdString();
        }
    }
}

TEST_F(ConnectorWindowViewTest, DiagnosticsFollowTheModelAndErrorsShowInRed) {
    harness.options.sourceAdapters =
        AdapterList{test::tool("claude-code", "Claude Code", true, true)};
    const auto page = startedPage(KorvoBuildChannel::development);
    const QWidget* root = page->widget();
    const auto value = [&](const char* name) {
        return page->diagnosticsView()->valueLabel(name)->text();
    };
    EXPECT_EQ(value("Claude source"), "Detected");
    EXPECT_EQ(value("Codex source"), "Not checked");

    // Nothing listens at the relay URL: an error line appears, red and selectable.
    EXPECT_TRUE(test::visibleLabelTexts(root).filter("Relay health check failed").isEmpty());
    button(root, "checkRelay")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return errorText(harness.model().connection().error()).has_value(); }));
    page->refresh();
    const QLabel* error = test::named(root, "currentError");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text(), *errorText(harness.model().connection().error()));
    EXPECT_EQ(error->palette().color(QPalette::WindowText),
              tintColor(Tint::red, QApplication::palette()));
    EXPECT_TRUE(error->textInteractionFlags() & Qt::TextSelectableByMouse);
}

// What the relay sends (device names, status words, error bodies) shows as plain text: markup
// stays visible characters and draws nothing. A plain-HTTP relay away from this machine is
// warned about under the header and beside the relay URL field.
TEST_F(ConnectorWindowViewTest, RelayDataShowsAsPlainTextAndPlainHttpIsWarnedAbout) {
    const QByteArray markup = "<b>Box</b> <a href='http://x'>link</a>";
    test::HostileRelay relay(test::httpResponse(500, "<h1>" + markup + "</h1>"));
    relay.setAnswer("GET /v1/sync-spaces/space_1/devices",
                    test::httpResponse(200, R"({"devices":[{"id":"d","name":")" + markup +
                                                R"(","kind":"phone","createdAt":"c"}]})"));
    harness.options.defaultRelayURL = relay.url();
    harness.storePairing();
    const auto page = startedPage(KorvoBuildChannel::development);
    const QWidget* root = page->widget();
    ConnectorModel& model = harness.model();
    QCoro::waitFor(model.loadDevices());
    QCoro::waitFor(model.syncNow()); // the upload fails with the relay's HTML body
    page->refresh();
    ASSERT_TRUE(visible(root, QString::fromUtf8(markup + " (phone)")));
    ASSERT_TRUE(errorText(model.connection().error())
                    .value_or(QString())
                    .contains(QString::fromUtf8(markup)));
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }

    const QString warning = QStringLiteral("Plain HTTP: the device token and snapshots travel "
                                           "unencrypted to this relay. Use an https:// URL.");
    EXPECT_EQ(test::visibleLabelTexts(root).count(warning), 0);
    for (const auto& [url, shown] :
         {std::pair{"http://relay.example.com", 2}, std::pair{"relay.example.com", 0},
          std::pair{"http://localhost:8787", 0}}) {
        QLineEdit* field = root->findChild<QLineEdit*>("relayURL");
        field->setText(QString::fromLatin1(url));
        Q_EMIT field->textEdited(field->text());
        page->refresh();
        EXPECT_EQ(test::visibleLabelTexts(root).count(warning), shown) << url;
    }
}

TEST_F(ConnectorWindowViewTest, NoSnapshotShowsTheNoDataTexts) {
    // Paired, no tool gives a row and no source has been checked.
    harness.options.sourceAdapters = AdapterList{};
    harness.storePairing();
    const auto page = startedPage(KorvoBuildChannel::development);
    const QWidget* root = page->widget();
    EXPECT_TRUE(visible(root, "No local limit data found yet. Korvo can still detect CLIs; "
                              "quota percentages appear only when the local CLI exposes a "
                              "sanitized usage or rate-limit field."));
    EXPECT_TRUE(visible(root, "No snapshot uploaded yet."));
    EXPECT_TRUE(visible(root, "Sources and CLIs not checked yet."));
    EXPECT_FALSE(visible(root, "Latest local read"));
    EXPECT_EQ(page->diagnosticsView()->valueLabel("Detected CLIs")->text(), "None");
}

TEST_F(ConnectorWindowViewTest, PairingThroughTheWindowAgainstTheLocalRelay) {
    test::RelayProcess relay(harness.path("relay.db").toStdString());
    ASSERT_TRUE(relay.isRunning());
    harness.options.defaultRelayURL = test::urlOf(relay.url());
    viewClock = systemClock(); // the relay dates the session by the real clock
    const auto page = startedPage(KorvoBuildChannel::release);
    page->show(); // shown, so that every row is laid out where a user sees it
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
    const QWidget* root = page->widget();
    PairingConnectorView* pairing = page->pairingView();
    EXPECT_FALSE(pairing->sessionRow()->isVisibleTo(root)); // no session yet, no QR row
    button(root, "createPairingCode")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        page->refresh();
        return pairing->sessionRow()->isVisibleTo(root) &&
               harness.model().pairing().state().isPolling;
    }));
    const auto& session = *harness.model().pairing().state().session;
    EXPECT_EQ(pairing->qrCodeView()->payload().toStdString(), session.qrPayload);
    const QLabel* code = test::named(root, "pairingCode");
    ASSERT_TRUE(code);
    EXPECT_EQ(code->text().toStdString(), session.pairingCode);
    EXPECT_TRUE(code->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(visible(root, "Waiting for iPhone"));
    EXPECT_TRUE(visible(root, "Expires in 10 minutes"));
    EXPECT_TRUE(button(root, "checkPairingNow"));

    // The relay serves its web view, so any phone's browser pairs too: by the address shown, or
    // by the second QR code, which opens the page with the code in the fragment, a part of the
    // address a browser never sends.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pairing->webViewRow()->isVisibleTo(root); }));
    EXPECT_TRUE(
        visible(root, "Or open " + QString::fromStdString(relay.url("/")) + " on any phone"))
        << test::visibleLabelTexts(root).join(" | ").toStdString();
    const QImage webQr =
        pairing->webViewQrCodeView()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto scanned = test::scanQr(
        webQr.width(), webQr.height(),
        [&](int x, int y) { return (webQr.pixel(x, y) & 0xFFFFFF) == 0; }, 1, 40);
    EXPECT_EQ(scanned, relay.url("/#code=") + session.pairingCode);
    auto* webQrNode = QAccessible::queryAccessibleInterface(pairing->webViewQrCodeView());
    ASSERT_TRUE(webQrNode);
    EXPECT_EQ(webQrNode->text(QAccessible::Name), "Web view pairing QR code");
    expectTabOrderFollowsTheLayout(root);

    // The phone claims the code it read; the poll completes the pairing and the window
    // switches to the connected panel.
    const auto claim =
        httplib::Client("127.0.0.1", relay.port())
            .Post("/v1/pairing/claim", R"({"pairingCode": ")" + session.pairingCode + R"("})",
                  "application/json");
    ASSERT_TRUE(claim && claim->status == 200);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        page->refresh();
        return page->connectedView()->isVisibleTo(root);
    }));
    EXPECT_FALSE(pairing->isVisibleTo(root));
    EXPECT_TRUE(visible(root, "Connected to iPhone"));

    // Unlinking forgets the session: the pairing panel returns without its QR row.
    button(root, "unlinkDevice")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        page->refresh();
        return pairing->isVisibleTo(root);
    }));
    EXPECT_FALSE(pairing->sessionRow()->isVisibleTo(root));
    EXPECT_TRUE(button(root, "createPairingCode"));
}

TEST_F(ConnectorWindowViewTest, AvailableUpdateOffersTheDownloadPage) {
    const QString manifest = harness.path("manifest.json");
    std::ofstream(manifest.toStdString()) << R"({"version": "1.5.0", "build": "57",
        "channel": "release", "file": "korvo-connector-1.5.0.tar.gz"})";
    test::RelayProcess relay(harness.path("relay.db").toStdString(),
                             {"--manifest", manifest.toStdString()});
    ASSERT_TRUE(relay.isRunning());
    harness.options.manifestURL = test::urlOf(relay.url("/download/linux/manifest.json"));
    const auto page = startedPage(KorvoBuildChannel::release);
    const QWidget* root = page->widget();

    EXPECT_TRUE(visible(root, "Update available"));
    EXPECT_TRUE(visible(root, "Version 1.5.0 build 57 is available on the download page."));
    EXPECT_TRUE(visible(root, "Checked 3 minutes ago"));
    EXPECT_TRUE(button(root, "checkForUpdatesAgain"));
    button(root, "downloadUpdate")->click();
    EXPECT_EQ(harness.recorder->urls, QList<QUrl>{harness.options.downloadPageURL});
}

// A failing upload shows in the header and, with its error, right under it; the red line at
// the end of the page stays.
TEST_F(ConnectorWindowViewTest, FailingSyncShowsUnderTheHeader) {
    test::HostileRelay relay(test::httpResponse(401, R"({"error": "unauthorized"})"));
    harness.options.defaultRelayURL = relay.url();
    harness.storePairing();
    const auto page = startedPage(KorvoBuildChannel::release);
    const QWidget* root = page->widget();
    QCoro::waitFor(harness.model().syncNow());
    page->refresh();
    ASSERT_TRUE(errorText(harness.model().connection().error()).has_value());
    const QLabel* header = visible(root, "Sync failing; retrying");
    ASSERT_TRUE(header);
    EXPECT_EQ(header->palette().color(QPalette::WindowText),
              tintColor(Tint::red, QApplication::palette()));
    QList<int> errorLines;
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) &&
            label->text() == *errorText(harness.model().connection().error())) {
            errorLines << label->mapTo(root, QPoint()).y();
        }
    }
    ASSERT_EQ(errorLines.size(), 2);
    // The linked line below no longer shows a green check while syncs fail.
    const auto* linked = root->findChild<SymbolLabel*>(QStringLiteral("connectedStatus"));
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked->tint(), Tint::orange);
    const int updatesTop = root->findChildren<QGroupBox*>().first()->mapTo(root, QPoint()).y();
    EXPECT_LT(errorLines.first(), updatesTop);
    EXPECT_GT(errorLines.last(), page->supportView()->mapTo(root, QPoint()).y());
}

// Open Pairing scrolls the pairing panel into view and focuses its button; opening the window
// leaves no text field focused, so typing never replaces the relay URL.
TEST_F(ConnectorWindowViewTest, OpenPairingScrollsToThePairingButton) {
    ConnectorModel& model = harness.make();
    ConnectorWindowController controller(model, viewClock, KorvoBuildChannel::development);
    controller.show();
    QMainWindow* window = controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_FALSE(qobject_cast<QLineEdit*>(window->focusWidget()));
    controller.showPairing();
    QAbstractButton* create = button(window, "createPairingCode");
    ASSERT_TRUE(create);
    EXPECT_EQ(window->focusWidget(), create);
    const QWidget* viewport = controller.view()->viewport();
    const int top = create->mapTo(viewport, QPoint()).y();
    EXPECT_GE(top, 0);
    EXPECT_LE(top + create->height(), viewport->height());
    EXPECT_GT(controller.view()->verticalScrollBar()->value(), 0);
    model.stopAutoSync();
}

// While shown, relative times of past events are rendered again each minute, with the time of
// the rendering; nothing runs while the window is hidden.
TEST_F(ConnectorWindowViewTest, RelativeTimesTickOnlyWhileShown) {
    Instant now = test::kStart;
    viewClock = [&now] { return now; };
    harness.options.clock = viewClock;
    ConnectorModel& model = harness.make();
    ConnectorWindowView page(model, viewClock, KorvoBuildChannel::development);
    page.resize(520, 720);
    EXPECT_EQ(page.nextTick(), std::nullopt); // not shown
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    const auto value = [&](const char* name) {
        return page.diagnosticsView()->valueLabel(name)->text();
    };
    EXPECT_EQ(value("Last sleep"), "Never");
    EXPECT_EQ(value("Mac power"), "Awake");
    EXPECT_EQ(page.nextTick(), std::nullopt); // no date on the page
    harness.model().handleSleep();            // stamped at kTestNow
    QCoreApplication::processEvents();
    EXPECT_EQ(value("Mac power"), "Sleeping");
    EXPECT_EQ(page.nextTick(), std::chrono::milliseconds(60000));
    now += std::chrono::minutes(3);
    page.refresh();
    EXPECT_EQ(value("Last sleep"), "3 minutes ago");
    EXPECT_EQ(page.nextTick(), std::chrono::milliseconds(60000));
    page.hide();
    EXPECT_EQ(page.nextTick(), std::nullopt);
    harness.model().handleWake();
    QCoreApplication::processEvents();
    EXPECT_EQ(page.nextTick(), std::nullopt);
    page.show();
    EXPECT_EQ(page.nextTick(), std::chrono::milliseconds(60000));
    model.stopAutoSync();
}

// Shown and painted, a page that re-reads an unchanged model paints nothing: no widget is
// re-created, re-styled, shown again or asked to repaint. The connected panel has a row per
// provider in the snapshot's order, sums each up and dates the snapshot; the copied JSON is the
// latest snapshot's.
TEST_F(ConnectorWindowViewTest, UnchangedModelRepaintsNothingAndRowsFollowTheSnapshot) {
    harness.useFixtureTools();
    harness.storePairing();
    viewClock = fixedClock(test::kFixtureNow + std::chrono::minutes(3));
    const auto page = startedPage(KorvoBuildChannel::development);
    page->resize(520, 4000); // every panel on screen
    page->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
    QTest::qWait(200); // the layout passes queued by the first paint (wrapped labels) are done

    struct PaintLog : QObject {
        QStringList painted;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                painted << QString::fromLatin1(watched->metaObject()->className()) + ' ' +
                               watched->objectName();
            }
            return false;
        }
    } log;
    qApp->installEventFilter(&log);
    page->refresh();
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&log);
    EXPECT_EQ(log.painted, QStringList());

    const QWidget* root = page->widget();
    const auto& snapshot = harness.model().displaySnapshot();
    ASSERT_TRUE(snapshot.has_value());
    ASSERT_EQ(snapshot->providers.size(), 2U);
    // Nothing reached the relay yet: the rows are the local reading, and the connected panel,
    // which shows what the phone sees, has no snapshot.
    EXPECT_TRUE(visible(root, "Latest local read \u00B7 not uploaded yet"));
    EXPECT_TRUE(visible(root, "No snapshot uploaded yet."));
    QStringList rowNames, expectedNames;
    for (const ProviderLimitRow* row : root->findChildren<ProviderLimitRow*>()) {
        if (row->isVisibleTo(root)) {
            rowNames << QString::fromStdString(row->provider().displayName);
        }
    }
    for (const ProviderUsage& provider : snapshot->providers) {
        expectedNames << QString::fromStdString(provider.displayName);
    }
    EXPECT_EQ(rowNames, expectedNames);
    button(root, "copyLatestSnapshotJSON")->click();
    ASSERT_TRUE(harness.model().latestSnapshotJSON().has_value());
    EXPECT_EQ(harness.recorder->texts, QStringList{*harness.model().latestSnapshotJSON()});
}

// Every button's state while an operation is under way, against a relay that holds its answer.
TEST_F(ConnectorWindowViewTest, ButtonStatesWhileOperationsRun) {
    test::HostileRelay relay{QByteArray()}; // never answers
    // The button pressed and its text meanwhile, and the buttons then enabled ("+") or
    // disabled ("-").
    struct Case {
        const char* name;
        bool paired;
        const char* press;
        std::function<bool(ConnectorModel&)> running;
        const char* pressedText;
        const char* enabled;
    };
    const Case cases[] = {
        {"sync", true, "refreshNow",
         [](ConnectorModel& m) { return m.uploader().state().isSyncing; }, "Refresh Now",
         "-refreshNow|-refreshAndUpload|+refreshLimits|+unlinkDevice|+copySupportBundle|"
         "+checkForUpdates"},
        {"pairing code", false, "createPairingCode",
         [](ConnectorModel& m) { return m.pairing().state().isCreatingCode; }, "Creating Pairing",
         "-createPairingCode|-refreshNow|-refreshAndUpload|+refreshLimits|+checkForUpdates"},
        {"update check", false, "checkForUpdates",
         [](ConnectorModel& m) { return m.updateChecker().state().isChecking; }, "Checking",
         "-checkForUpdates|+createPairingCode|+refreshLimits|+copySupportBundle"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ModelHarness fresh{test::HarnessBuild::release};
        fresh.options.defaultRelayURL = relay.url();
        fresh.options.manifestURL = relay.url("/download/linux/manifest.json");
        fresh.options.manifestTimeout = std::chrono::hours(1);
        if (c.paired) {
            fresh.storePairing();
        }
        ConnectorModel& model = fresh.make();
        QCoro::waitFor(model.loadPairingState());
        ConnectorWindowView page(model, viewClock, KorvoBuildChannel::release);
        page.refresh();
        const QWidget* root = page.widget();
        ASSERT_TRUE(button(root, c.press));
        button(root, c.press)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return c.running(model); }));
        page.refresh();
        EXPECT_EQ(button(root, c.press)->text(), c.pressedText);
        for (const QString& entry : QString(c.enabled).split('|')) {
            EXPECT_EQ(enabled(root, entry.mid(1)), entry.startsWith('+')) << entry.toStdString();
        }
    }
}

// Taller than the page, the window keeps every row at its natural height; at the default width
// every row of buttons fits on one line.
TEST_F(ConnectorWindowViewTest, LayoutAtTheDefaultWidthAndInATallWindow) {
    harness.useFixtureTools();
    harness.storePairing();
    viewClock = fixedClock(test::kFixtureNow);
    for (const KorvoBuildChannel channel :
         {KorvoBuildChannel::development, KorvoBuildChannel::release}) {
        auto page = startedPage(channel);
        page->resize(520, 4000);
        page->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
        for (const ProviderLimitRow* row : page->widget()->findChildren<ProviderLimitRow*>()) {
            EXPECT_LE(row->height(), row->sizeHint().height() + 1);
        }
        for (const QWidget* row : page->widget()->findChildren<QWidget*>()) {
            if (!dynamic_cast<const FlowLayout*>(row->layout()) || !row->isVisible()) {
                continue;
            }
            QSet<int> lines;
            for (const QWidget* b : row->findChildren<QAbstractButton*>()) {
                lines.insert(b->y());
            }
            EXPECT_EQ(lines.size(), 1)
                << row->findChildren<QAbstractButton*>().first()->text().toStdString();
        }
    }
}

// A wide window centres the page's content at a width comfortable to read; at the default
// width it takes the whole window.
TEST_F(ConnectorWindowViewTest, PageContentKeepsAComfortableWidth) {
    harness.useFixtureTools();
    viewClock = fixedClock(test::kFixtureNow);
    auto page = startedPage(KorvoBuildChannel::release);
    for (const int width : {520, 1600}) {
        SCOPED_TRACE(width);
        page->resize(width, 900);
        page->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
        QTest::qWait(50);
        const auto rows = page->widget()->findChildren<ProviderLimitRow*>();
        ASSERT_FALSE(rows.isEmpty());
        for (const ProviderLimitRow* row : rows) {
            const int left = row->mapTo(page.get(), QPoint()).x();
            const int right = page->viewport()->width() - (left + row->width());
            EXPECT_LE(row->width(), 680);
            EXPECT_LE(std::abs(left - right), 2) << left << " | " << right;
            if (width == 1600) {
                EXPECT_GE(row->width(), 600);
            }
        }
    }
}

// A tool's remaining text can be a sentence: at the default width it wraps inside the page, and
// every line of it shows.
TEST_F(ConnectorWindowViewTest, LongRemainingTextWrapsInsideThePage) {
    auto wordy = test::tool("claude-code", "Claude Code", true);
    wordy->report(test::kStart);
    wordy->row->usage = {};
    wordy->row->usage.remainingText =
        "Local Claude Code logs detected; usage format not recognized yet";
    harness.options.realAdapters = AdapterList{wordy};
    auto page = startedPage(KorvoBuildChannel::release);
    page->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
    EXPECT_LE(page->widget()->width(), page->viewport()->width());
    const auto rows = page->widget()->findChildren<ProviderLimitRow*>();
    ASSERT_FALSE(rows.isEmpty());
    for (const ProviderLimitRow* row : rows) {
        for (const QLabel* label : row->findChildren<QLabel*>()) {
            EXPECT_LE(label->geometry().right(), row->width()) << label->text().toStdString();
            if (label->wordWrap()) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                    << label->text().toStdString();
            }
        }
    }
}

// The texts of the visible labels of the row of the provider with this name, in order.
QStringList rowTexts(const QWidget* root, const QString& name) {
    for (const ProviderLimitRow* row : root->findChildren<ProviderLimitRow*>()) {
        if (row->isVisibleTo(root) && QString::fromStdString(row->provider().displayName) == name) {
            return test::visibleLabelTexts(row);
        }
    }
    return {};
}

// Paired, the rows show the newest reading of the tools' files: after the files change and
// "Refresh Limits", and with the relay stopped, with a caption that says the phone does not have
// it yet. The connected panel keeps what the phone sees.
TEST_F(ConnectorWindowViewTest, NewestReadingWinsOverTheLastUpload) {
    auto relay = std::make_unique<test::HostileRelay>(test::httpResponse(
        200, R"({"status":"ok","snapshotId":"x","updatedAt":"2026-03-01T09:14:05Z"})"));
    harness.options.defaultRelayURL = relay->url();
    Instant now = test::kStart;
    harness.options.clock = viewClock = [&now] { return now; };
    auto codex = test::tool("codex", "Codex CLI", true, true);
    codex->report(now);
    codex->row->usage.usedPercent = 42;
    codex->row->usage.remainingPercent = 58;
    harness.options.realAdapters = AdapterList{codex};
    harness.storePairing();
    const auto page = startedPage(KorvoBuildChannel::release);
    const QWidget* root = page->widget();
    ASSERT_EQ(QCoro::waitFor(harness.model().syncNow()), SyncOutcome::uploaded);
    page->refresh();
    EXPECT_TRUE(rowTexts(root, "Codex CLI").contains("58%"));
    EXPECT_TRUE(visible(root, "Latest local read"));
    EXPECT_TRUE(visible(root, "58% remaining \u00B7 42% used \u00B7 1,200 input"));

    // The tool writes 3 % left; "Refresh Limits" shows it at once.
    codex->row->usage.usedPercent = 97;
    codex->row->usage.remainingPercent = 3;
    codex->row->status = ProviderStatus::critical;
    now += std::chrono::minutes(2);
    button(root, "refreshLimits")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        page->refresh();
        return rowTexts(root, "Codex CLI").contains("3%");
    }));
    EXPECT_FALSE(rowTexts(root, "Codex CLI").contains("58%"));
    EXPECT_TRUE(visible(root, "Latest local read \u00B7 not uploaded yet (the phone shows the "
                              "upload of 2 minutes ago)"));
    // What the phone sees stays in the connected panel.
    EXPECT_TRUE(visible(root, "58% remaining \u00B7 42% used \u00B7 1,200 input"));

    // The relay stops: the failed upload's reading is still the one shown.
    relay.reset();
    codex->row->usage.usedPercent = 99;
    codex->row->usage.remainingPercent = 1;
    now += std::chrono::minutes(1);
    EXPECT_EQ(QCoro::waitFor(harness.model().syncNow()), SyncOutcome::failed);
    page->refresh();
    EXPECT_TRUE(rowTexts(root, "Codex CLI").contains("1%"));
    EXPECT_TRUE(visible(root, "Sync failing; retrying"));
    EXPECT_TRUE(visible(root, "Latest local read \u00B7 not uploaded yet (the phone shows the "
                              "upload of 3 minutes ago)"));
}

// A Codex row shows its weekly window and a Claude row its seven-day window with the remaining
// share, a gauge named for screen readers and a reset precise enough to plan by.
TEST_F(ConnectorWindowViewTest, SecondWindowsShowWithGaugeAndReset) {
    qputenv("TZ", "UTC");
    tzset();
    harness.useFixtureTools();
    viewClock = fixedClock(test::kFixtureNow + std::chrono::minutes(3));
    const auto page = startedPage(KorvoBuildChannel::release);
    const QWidget* root = page->widget();
    const QStringList codex = rowTexts(root, "Codex CLI");
    EXPECT_TRUE(codex.contains("70%")) << codex.join(" | ").toStdString();
    EXPECT_TRUE(codex.contains("Weekly window")) << codex.join(" | ").toStdString();
    EXPECT_TRUE(codex.contains("90% remaining")) << codex.join(" | ").toStdString();
    EXPECT_TRUE(codex.contains("Resets Mon 10:00 (12 Jan)")) << codex.join(" | ").toStdString();
    EXPECT_TRUE(codex.contains("Reset in 57 min")) << codex.join(" | ").toStdString();
    const QStringList claude = rowTexts(root, "Claude Code");
    EXPECT_TRUE(claude.contains("7-day window")) << claude.join(" | ").toStdString();
    QStringList gauges;
    for (const ProviderLimitRow* row : root->findChildren<ProviderLimitRow*>()) {
        if (row->secondGauge()) {
            gauges << row->secondGauge()->accessibleName() + " " +
                          QString::number(row->secondGauge()->value());
        }
    }
    EXPECT_TRUE(gauges.contains("Codex CLI Weekly 90% remaining 90"))
        << gauges.join(" | ").toStdString();
}

// A tool that reports only tokens reads as usage: its total, grouped by thousands, is the big
// figure over "used this session", never over "remaining"; the breakdown is the detail line.
TEST_F(ConnectorWindowViewTest, TokensOnlyRowReadsAsUsage) {
    auto gemini = test::tool("gemini-cli", "Gemini CLI", true);
    gemini->report(test::kStart);
    gemini->row->status = ProviderStatus::unknown;
    gemini->row->window = UsageWindow{UsageWindowKind::unknown, {}, {}, {}};
    gemini->row->usage = {};
    gemini->row->usage.inputTokens = 120000;
    gemini->row->usage.outputTokens = 3456;
    gemini->row->usage.remainingText = "Thought 90 tokens \u00B7 Tool 25 tokens";
    harness.options.realAdapters = AdapterList{gemini};
    const auto page = startedPage(KorvoBuildChannel::release);
    const QStringList texts = rowTexts(page->widget(), "Gemini CLI");
    EXPECT_EQ(texts,
              QStringList({"Gemini CLI", "Local CLI \u00B7 CLI reported", "123,571 tokens",
                           "used this session", "Window Unknown",
                           "Input 120,000 \u00B7 Output 3,456 \u00B7 Thought 90 \u00B7 Tool 25"}));
    EXPECT_FALSE(texts.contains("remaining"));
}

// What a screen reader finds in the window: every progress bar is named by its tool and figure,
// the QR code by what it is. Tab walks the controls in the order they are shown; Escape closes
// the window.
TEST_F(ConnectorWindowViewTest, ScreenReadersKeyboardAndEscape) {
    harness.useFixtureTools();
    viewClock = fixedClock(test::kFixtureNow + std::chrono::minutes(3));
    ConnectorModel& model = harness.make();
    ConnectorWindowController controller(model, viewClock, KorvoBuildChannel::release);
    controller.show();
    QMainWindow* window = controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return window->findChildren<ProviderLimitRow*>().size() == 2 &&
               !model.collector().diagnostics().diagnostics.empty();
    }));
    QTest::qWait(100);

    QStringList bars, graphics, symbols;
    const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node) {
            return;
        }
        if (node->role() == QAccessible::ProgressBar && !node->state().invisible) {
            bars << node->text(QAccessible::Name);
        }
        if (node->object() && node->object()->inherits("korvo::QRCodeView")) {
            graphics << node->text(QAccessible::Name);
        }
        // A status symbol: a picture without text, named by what it marks.
        const auto* picture = qobject_cast<const QLabel*>(node->object());
        if (picture && picture->isVisible() && picture->text().isEmpty() &&
            !picture->pixmap().isNull()) {
            symbols << node->text(QAccessible::Name);
        }
        for (int i = 0; i < node->childCount(); ++i) {
            walk(node->child(i));
        }
    };
    walk(QAccessible::queryAccessibleInterface(window));
    EXPECT_TRUE(bars.contains("Codex CLI 70% remaining")) << bars.join(" | ").toStdString();
    EXPECT_TRUE(bars.contains("Codex CLI Weekly 90% remaining")) << bars.join(" | ").toStdString();
    EXPECT_TRUE(bars.contains("Claude Code 7-day 40% remaining")) << bars.join(" | ").toStdString();
    EXPECT_FALSE(bars.contains(QString())) << bars.join(" | ").toStdString();
    EXPECT_FALSE(symbols.isEmpty());
    EXPECT_FALSE(symbols.contains(QString())) << symbols.join(" | ").toStdString();
    // Hidden until a pairing code exists, the QR codes are named all the same.
    EXPECT_TRUE(graphics.isEmpty() ||
                graphics == QStringList({"Pairing QR code", "Web view pairing QR code"}))
        << graphics.join(" | ").toStdString();
    const auto* qr = window->findChild<QRCodeView*>();
    ASSERT_TRUE(qr);
    ASSERT_TRUE(QAccessible::queryAccessibleInterface(const_cast<QRCodeView*>(qr)));
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(const_cast<QRCodeView*>(qr))->text(QAccessible::Name),
        "Pairing QR code");

    expectTabOrderFollowsTheLayout(window->centralWidget());

    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 2000));
    model.stopAutoSync();
}

} // namespace
} // namespace korvo

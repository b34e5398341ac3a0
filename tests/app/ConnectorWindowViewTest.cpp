#include "app/ConnectorWindowView.h"

#include "AppTestSupport.h"
#include "WidgetQuery.h"
#include "app/AppStyle.h"
#include "app/ConnectedConnectorView.h"
#include "app/DiagnosticsConnectorView.h"
#include "app/PairingConnectorView.h"
#include "app/ProviderLimitRow.h"
#include "app/QRCodeView.h"
#include "app/UserSupportConnectorView.h"
#include "app/ViewText.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using testing::button;
using testing::eventually;
using testing::finish;
using testing::visibleLabel;
using testing::visibleLabelTexts;

QStringList visibleGroupTitles(const QWidget* root) {
    QStringList titles;
    for (const QGroupBox* box : root->findChildren<QGroupBox*>()) {
        if (box->isVisibleTo(root)) {
            titles << box->title().replace(QStringLiteral("&&"), QStringLiteral("&"));
        }
    }
    return titles;
}

class ConnectorWindowViewTest : public ::testing::Test {
protected:
    // The page of a model that has run its start-up refresh.
    std::unique_ptr<ConnectorWindowView> startedPage(KorvoBuildChannel channel) {
        ConnectorModel& model = harness.make();
        finish(model.start());
        auto page = std::make_unique<ConnectorWindowView>(model, viewClock, channel);
        page->resize(520, 720);
        return page;
    }

    testing::ModelHarness harness;
    // The window is looked at three minutes after the model's events.
    Clock viewClock = fixedClock(testing::kTestNow + std::chrono::minutes(3));
};

TEST_F(ConnectorWindowViewTest, NotPairedReleaseBuildShowsPairingAndSupportWithUploadsDisabled) {
    const auto page = startedPage(KorvoBuildChannel::release);
    page->refresh();
    const QWidget* root = page->widget();

    EXPECT_TRUE(visibleLabel(root, "Korvo Connector"));
    EXPECT_TRUE(visibleLabel(root, "Not paired"));
    EXPECT_EQ(visibleGroupTitles(root),
              (QStringList{"Updates", "Current Limits on This Mac", "Quick Start", "Support"}));
    EXPECT_TRUE(page->pairingView()->isVisibleTo(root));
    EXPECT_FALSE(page->connectedView()->isVisibleTo(root));
    EXPECT_EQ(page->diagnosticsView(), nullptr);

    ASSERT_TRUE(button(root, "Refresh Now"));
    EXPECT_FALSE(button(root, "Refresh Now")->isEnabled());
    ASSERT_TRUE(button(root, "Refresh & Upload"));
    EXPECT_FALSE(button(root, "Refresh & Upload")->isEnabled());
    EXPECT_TRUE(button(root, "Refresh Limits")->isEnabled());
    EXPECT_TRUE(button(root, "Create Pairing Code")->isEnabled());
    EXPECT_FALSE(button(root, "Copy Latest Snapshot JSON"));
    // No pairing session yet: no QR row.
    EXPECT_FALSE(page->pairingView()->sessionRow()->isVisibleTo(root));

    const UserSupportConnectorView* support = page->supportView();
    ASSERT_TRUE(support);
    EXPECT_EQ(support->valueLabel("Build")->text(), "Release");
    EXPECT_EQ(support->valueLabel("Pairing")->text(), "Not paired");
    EXPECT_EQ(support->valueLabel("Last upload")->text(), "Never");
    EXPECT_EQ(support->valueLabel("Auto sync")->text(), "Paused");
    // Nothing serves the manifest here, so the silent check leaves a status and no update.
    EXPECT_TRUE(visibleLabel(root, "Connector updates"));
    EXPECT_FALSE(visibleLabel(root, "Update available"));
    EXPECT_FALSE(button(root, "Download Update"));
    EXPECT_TRUE(button(root, "Check for Updates"));
}

TEST_F(ConnectorWindowViewTest, PairedBuildsShowConnectedPanelAndSnapshotJSONOnlyInDevelopment) {
    struct Case {
        KorvoBuildChannel channel;
        bool snapshotJSON;
        bool diagnostics;
    };
    for (const Case& c : {Case{KorvoBuildChannel::development, true, true},
                          Case{KorvoBuildChannel::internalBeta, false, false},
                          Case{KorvoBuildChannel::publicBeta, false, false},
                          Case{KorvoBuildChannel::release, false, false}}) {
        testing::ModelHarness paired;
        paired.storePairing(QStringLiteral("space_1"), "token-1");
        ConnectorModel& model = paired.make();
        finish(model.start());
        model.stopAutoSync();
        ConnectorWindowView page(model, paired.options.clock, c.channel);
        page.refresh();
        const QWidget* root = page.widget();
        SCOPED_TRACE(static_cast<int>(KorvoBuildChannel::Case(c.channel)));

        EXPECT_TRUE(visibleLabel(root, "Connected to iPhone"));
        EXPECT_TRUE(page.connectedView()->isVisibleTo(root));
        EXPECT_FALSE(page.pairingView()->isVisibleTo(root));
        EXPECT_EQ(button(root, "Copy Latest Snapshot JSON") != nullptr, c.snapshotJSON);
        EXPECT_TRUE(button(root, "Copy Support Bundle"));
        EXPECT_TRUE(button(root, "Unlink Device"));
        EXPECT_EQ(page.diagnosticsView() != nullptr, c.diagnostics);
        EXPECT_EQ(page.supportView() == nullptr, c.diagnostics);
        EXPECT_TRUE(button(root, "Refresh Now")->isEnabled());
        EXPECT_TRUE(button(root, "Refresh & Upload")->isEnabled());
        EXPECT_TRUE(visibleGroupTitles(root).contains("Sources & Detected CLIs"));
    }
}

TEST_F(ConnectorWindowViewTest, DetectedCLIsNeverListsTheMainToolsOrTheMockSource) {
    harness.options.sourceAdapters = AdapterList{
        std::make_shared<MockAdapter>(harness.options.clock),
        std::make_shared<testing::StaticToolAdapter>("claude-code", "Claude Code", true, true),
        std::make_shared<testing::StaticToolAdapter>("codex", "Codex CLI", true),
        std::make_shared<testing::StaticToolAdapter>("gemini-cli", "Gemini CLI", true),
        std::make_shared<testing::StaticToolAdapter>("aider", "Aider", true),
        std::make_shared<testing::StaticToolAdapter>("cursor", "Cursor", false),
        std::make_shared<testing::StaticToolAdapter>("amazon-q", "Amazon Q", true),
    };
    for (const KorvoBuildChannel channel :
         {KorvoBuildChannel::development, KorvoBuildChannel::release}) {
        const auto page = startedPage(channel);
        page->refresh();
        const QLabel* detected = page->diagnosticsView()
                                     ? page->diagnosticsView()->valueLabel("Detected CLIs")
                                     : page->supportView()->valueLabel("Detected CLIs");
        ASSERT_TRUE(detected);
        // The model lists diagnostics by display name.
        EXPECT_EQ(detected->text(), "Aider, Amazon Q, Gemini CLI");
    }
}

TEST_F(ConnectorWindowViewTest, DiagnosticsGridFollowsTheModel) {
    harness.options.sourceAdapters = AdapterList{
        std::make_shared<testing::StaticToolAdapter>("claude-code", "Claude Code", true, true),
    };
    const auto page = startedPage(KorvoBuildChannel::development);
    page->refresh();
    const DiagnosticsConnectorView* diagnostics = page->diagnosticsView();
    ASSERT_TRUE(diagnostics);
    EXPECT_EQ(diagnostics->valueLabel("Claude source")->text(), "Detected");
    EXPECT_EQ(diagnostics->valueLabel("Codex source")->text(), "Not checked");
    EXPECT_EQ(diagnostics->valueLabel("Sync interval")->text(), "30 seconds");
    EXPECT_EQ(diagnostics->valueLabel("Last sleep")->text(), "Never");
    EXPECT_EQ(diagnostics->valueLabel("Mac power")->text(), "Awake");

    harness.model().handleSleep();
    QCoreApplication::processEvents();
    EXPECT_EQ(diagnostics->valueLabel("Mac power")->text(), "Sleeping");
    EXPECT_EQ(diagnostics->valueLabel("Last sleep")->text(), "3 minutes ago");
}

TEST_F(ConnectorWindowViewTest, NoSnapshotShowsTheNoDataTexts) {
    // Paired, no tool gives a row and no source has been checked.
    harness.options.sourceAdapters = AdapterList{};
    harness.storePairing(QStringLiteral("space_1"), "token-1");
    const auto page = startedPage(KorvoBuildChannel::development);
    harness.model().stopAutoSync();
    ASSERT_TRUE(harness.model().isPaired());
    page->refresh();
    const QWidget* root = page->widget();
    EXPECT_TRUE(visibleLabel(root, "No local limit data found yet. Korvo can still detect CLIs; "
                                   "quota percentages appear only when the local CLI exposes a "
                                   "sanitized usage or rate-limit field."));
    EXPECT_TRUE(visibleLabel(root, "No snapshot uploaded yet."));
    EXPECT_TRUE(visibleLabel(root, "Sources and CLIs not checked yet."));
    EXPECT_FALSE(visibleLabel(root, "Latest local read"));
}

TEST_F(ConnectorWindowViewTest, ErrorLineAppearsInRedWhileThereIsAnError) {
    const auto page = startedPage(KorvoBuildChannel::development);
    const QWidget* root = page->widget();
    page->refresh();
    const QStringList before = visibleLabelTexts(root);
    EXPECT_TRUE(before.filter("Relay health check failed").isEmpty());

    // Nothing listens at the relay URL.
    button(root, "Check Relay")->click();
    ASSERT_TRUE(eventually([&] { return harness.model().errorMessage().has_value(); }));
    page->refresh();
    const QLabel* error = visibleLabel(root, *harness.model().errorMessage());
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->text().startsWith("Relay health check failed: "));
    EXPECT_EQ(error->palette().color(QPalette::WindowText),
              tintColor(Tint::red, QApplication::palette()));
    EXPECT_TRUE(error->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST_F(ConnectorWindowViewTest, PairingThroughTheWindowAgainstTheLocalRelay) {
    test::RelayProcess relay(harness.path(QStringLiteral("relay.db")));
    ASSERT_TRUE(relay.isRunning());
    harness.options.defaultRelayURL = relay.url();
    // The relay dates the session by the real clock.
    viewClock = systemClock();
    const auto page = startedPage(KorvoBuildChannel::release);
    const QWidget* root = page->widget();
    PairingConnectorView* pairing = page->pairingView();

    button(root, "Create Pairing Code")->click();
    ASSERT_TRUE(eventually([&] {
        page->refresh();
        return pairing->sessionRow()->isVisibleTo(root) && harness.model().isPollingForPairing();
    }));
    const auto& session = *harness.model().pairingSession();
    EXPECT_EQ(pairing->qrCodeView()->payload().toStdString(), session.qrPayload);
    const QLabel* code = visibleLabel(root, QString::fromStdString(session.pairingCode));
    ASSERT_TRUE(code);
    EXPECT_TRUE(code->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(visibleLabel(root, "Waiting for iPhone"));
    EXPECT_TRUE(visibleLabel(root, "Expires in 10 minutes"));
    EXPECT_TRUE(button(root, "Check Now"));

    // The phone claims the code it read; the poll completes the pairing and the window
    // switches to the connected panel.
    ASSERT_TRUE(testing::claimPairingCode(harness.network, relay.url(), code->text()));
    ASSERT_TRUE(eventually([&] {
        page->refresh();
        return page->connectedView()->isVisibleTo(root);
    }));
    EXPECT_FALSE(pairing->isVisibleTo(root));
    EXPECT_TRUE(visibleLabel(root, "Connected to iPhone"));

    // Unlinking forgets the session: the pairing panel returns without its QR row.
    button(root, "Unlink Device")->click();
    ASSERT_TRUE(eventually([&] {
        page->refresh();
        return pairing->isVisibleTo(root);
    }));
    EXPECT_FALSE(pairing->sessionRow()->isVisibleTo(root));
    EXPECT_TRUE(button(root, "Create Pairing Code"));
}

TEST_F(ConnectorWindowViewTest, AvailableUpdateOffersTheDownloadPage) {
    const QString manifest = harness.path(QStringLiteral("manifest.json"));
    QFile file(manifest);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"version": "1.5.0", "build": "57", "channel": "release",
                   "file": "korvo-connector-1.5.0.tar.gz"})");
    file.close();
    test::RelayProcess relay(harness.path(QStringLiteral("relay.db")), {"--manifest", manifest});
    ASSERT_TRUE(relay.isRunning());
    harness.options.manifestURL = relay.url().resolved(QUrl("/download/linux/manifest.json"));
    const auto page = startedPage(KorvoBuildChannel::release);
    page->refresh();
    const QWidget* root = page->widget();

    EXPECT_TRUE(visibleLabel(root, "Update available"));
    EXPECT_TRUE(
        visibleLabel(root, "Version 1.5.0 build 57 is available on the Mac download page."));
    EXPECT_TRUE(visibleLabel(root, "Checked 3 minutes ago"));
    ASSERT_TRUE(button(root, "Check Again"));
    button(root, "Download Update")->click();
    ASSERT_EQ(harness.urlOpener->urls.size(), 1);
    EXPECT_EQ(harness.urlOpener->urls.front(), harness.options.downloadPageURL);
}

TEST_F(ConnectorWindowViewTest, ProviderRowsFollowTheSnapshotOrderAndTheSnapshotJSONIsCopied) {
    harness.useFixtureTools();
    harness.storePairing(QStringLiteral("space_1"), "token-1");
    viewClock = fixedClock(testing::kFixtureNow + std::chrono::minutes(3));
    const auto page = startedPage(KorvoBuildChannel::development);
    harness.model().stopAutoSync();
    page->refresh();
    const QWidget* root = page->widget();
    const auto& snapshot = harness.model().displaySnapshot();
    ASSERT_TRUE(snapshot.has_value());
    ASSERT_EQ(snapshot->providers.size(), 2U);

    EXPECT_TRUE(visibleLabel(root, "Latest local read"));
    QStringList rowNames;
    for (const ProviderLimitRow* row : root->findChildren<ProviderLimitRow*>()) {
        if (row->isVisibleTo(root)) {
            rowNames << QString::fromStdString(row->provider().displayName);
        }
    }
    EXPECT_EQ(rowNames, (QStringList{QString::fromStdString(snapshot->providers[0].displayName),
                                     QString::fromStdString(snapshot->providers[1].displayName)}));
    // The connected panel sums each row up, and dates the snapshot.
    EXPECT_TRUE(visibleLabel(root, "Updated 3 minutes ago"));
    for (const ProviderUsage& provider : snapshot->providers) {
        EXPECT_TRUE(visibleLabel(root, QString::fromStdString(snapshotSummaryText(provider))))
            << provider.displayName;
    }
    EXPECT_FALSE(visibleLabelTexts(root).filter("Claude Code").isEmpty());

    button(root, "Copy Latest Snapshot JSON")->click();
    ASSERT_EQ(harness.pasteboard->texts.size(), 1);
    ASSERT_TRUE(harness.model().latestSnapshotJSON().has_value());
    EXPECT_EQ(harness.pasteboard->texts.front(), *harness.model().latestSnapshotJSON());
}

} // namespace
} // namespace korvo

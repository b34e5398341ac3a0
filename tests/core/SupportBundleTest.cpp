#include "CannedHttpServer.h"
#include "CoreTestSupport.h"
#include "model/DisplayText.h"
#include "model/SnapshotJson.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::ModelHarness;

QStringList lines(const QString& text) {
    return text.split(u'\n');
}

void expectLines(const QString& actual, const QStringList& expected) {
    const QStringList got = lines(actual);
    for (qsizetype i = 0; i < std::max(got.size(), expected.size()); ++i) {
        EXPECT_EQ(got.value(i).toStdString(), expected.value(i).toStdString()) << "line " << i + 1;
    }
}

const QStringList kHeader = {
    QStringLiteral("Korvo Connector Support Bundle"),
    QStringLiteral("Generated: Mar 1, 2026 at 9:14:05 AM"),
    QStringLiteral("App surface: macOS Connector"),
    QStringLiteral("App version: 1.4.0 (42)"),
    QStringLiteral("Build channel: Internal Beta"),
    QStringLiteral("Safety: sanitized Connector state only; no provider API keys, cookies, OAuth "
                   "tokens, session keys, auth files, raw provider logs, or raw prompts."),
    QStringLiteral("Tester note: Describe what looked wrong, then paste this bundle and the iPhone "
                   "support bundle if available."),
    QString(),
};

TEST(SupportBundleTest, BeforePairingAndCollectionEveryLineIsThere) {
    ModelHarness h;
    ConnectorModel& m = h.make();
    QStringList expected = kHeader;
    expected << QStringLiteral("Status: Not paired")
             << QStringLiteral("Relay URL: http://127.0.0.1:9")
             << QStringLiteral("Relay health: Not checked") << QStringLiteral("Relay env: Unknown")
             << QStringLiteral("Paired: no") << QStringLiteral("Sync space: none")
             << QStringLiteral("Connector device: ") + m.connectorDeviceId()
             << QStringLiteral("Auto sync: Paused") << QStringLiteral("Sync interval: 30 seconds")
             << QStringLiteral("Mac power: Awake") << QStringLiteral("Last sleep: never")
             << QStringLiteral("Last wake: never") << QStringLiteral("Open at Login: Not checked")
             << QStringLiteral("Update status: Not checked")
             << QStringLiteral("Last update check: never") << QStringLiteral("Last collect: never")
             << QStringLiteral("Collect status: Not collected")
             << QStringLiteral("Parser error: None") << QStringLiteral("Last upload: Never")
             << QStringLiteral("Last upload at: never") << QStringLiteral("Last upload error: None")
             << QStringLiteral("Devices: Not loaded") << QStringLiteral("Device list error: None")
             << QString() << QStringLiteral("Latest snapshot:") << QStringLiteral("none")
             << QStringLiteral("never") << QString() << QStringLiteral("Providers:")
             << QStringLiteral("- no latest snapshot") << QString() << QStringLiteral("Sources:")
             << QStringLiteral("- not checked") << QString() << QStringLiteral("Relay devices:")
             << QStringLiteral("- not loaded");
    expectLines(m.supportBundleText(), expected);
    EXPECT_FALSE(m.supportBundleText().endsWith(u'\n'));
}

TEST(SupportBundleTest, ProvidersSourcesAndDevicesAfterAPairedRefresh) {
    ModelHarness h;
    test::CannedHttpServer server;
    h.options.defaultRelayURL = server.baseURL();
    h.options.buildInfo.channel = QStringLiteral("Public_Beta"); // not a raw value: Release
    h.storePairing(QStringLiteral("space_1"), "token");
    server.answer("GET /v1/sync-spaces/space_1/devices",
                  {200,
                   R"({"devices":[{"id":"phone_1","name":"Ana's iPhone","kind":"ios",)"
                   R"("createdAt":"2026-03-01T09:00:00Z","lastSeenAt":"2026-03-01T09:10:00Z"},)"
                   R"({"id":"mac_1","name":"Test Box","kind":"linux","createdAt":"x"}]})",
                   {}});
    ProviderUsage row = test::sampleRow("claude-code", "Claude Code", h.clock.now());
    ProviderUsage bare;
    bare.id = "codex";
    bare.displayName = "Codex CLI";
    bare.observedAt = h.clock.now() - std::chrono::hours(25);
    bare.usage.remainingText = "18% remaining";
    h.claude->row = row;
    h.codex->row = bare;
    h.claude->diagnostic.isAvailable = true;
    h.claude->diagnostic.summary = "Status line bridge found";
    h.claude->diagnostic.whyNoQuota = "No limit fields yet";
    h.claude->diagnostic.trackingStatus = "Tracked without quota";
    h.claude->diagnostic.checkedPaths = {"claude: /usr/bin/claude", "~/.claude/projects: found"};
    h.claude->diagnostic.warnings = {"Reads only sanitized fields", "Never reads auth"};
    h.codex->diagnostic.summary = "Nothing found";
    h.codex->diagnostic.trackingStatus = "Not found";
    ConnectorModel& m = h.make();
    test::finish(m.start());
    test::finish(m.loadDevices());
    m.handleSleep();
    h.clock.advance(std::chrono::seconds(3600 * 5 + 1)); // 2:14:06 PM
    m.handleWake();

    const QStringList all = lines(m.supportBundleText());
    const auto section = [&](const QString& title) {
        const qsizetype start = all.indexOf(title);
        QStringList out;
        for (qsizetype i = start + 1; i < all.size() && !all[i].isEmpty(); ++i) {
            out << all[i];
        }
        return out;
    };
    EXPECT_EQ(all.value(1), QStringLiteral("Generated: Mar 1, 2026 at 2:14:06 PM"));
    EXPECT_EQ(all.value(4), QStringLiteral("Build channel: Release"));
    EXPECT_TRUE(all.contains(QStringLiteral("Paired: yes")));
    EXPECT_TRUE(all.contains(QStringLiteral("Sync space: space_1")));
    EXPECT_TRUE(all.contains(QStringLiteral("Last sleep: Mar 1, 2026 at 9:14:05 AM")));
    EXPECT_TRUE(all.contains(QStringLiteral("Last wake: Mar 1, 2026 at 2:14:06 PM")));
    EXPECT_TRUE(all.contains(QStringLiteral("Open at Login: Off")));
    EXPECT_TRUE(all.contains(QStringLiteral("Collect status: 2 provider rows")));
    EXPECT_TRUE(all.contains(QStringLiteral("Devices: 2 devices")));

    const QStringList snapshot = section(QStringLiteral("Latest snapshot:"));
    ASSERT_EQ(snapshot.size(), 2);
    EXPECT_TRUE(snapshot[0].startsWith(QStringLiteral("local_")));
    EXPECT_EQ(snapshot[1], QStringLiteral("Mar 1, 2026 at 9:14:05 AM"));

    EXPECT_EQ(
        section(QStringLiteral("Providers:")),
        (QStringList{
            QStringLiteral("- Claude Code"),
            QStringLiteral("  primary remaining: ") +
                QString::fromStdString(primaryRemainingText(row)),
            QStringLiteral("  primary used: ") + QString::fromStdString(primaryUsedText(row)),
            QStringLiteral("  primary window: ") + QString::fromStdString(primaryWindowText(row)),
            QStringLiteral("  reset: Mar 1, 2026 at 11:14:05 AM"),
            QStringLiteral("  additional limits: none"),
            QStringLiteral("  source: ") + QString::fromStdString(sourceLabel(row.source)),
            QStringLiteral("  confidence: ") +
                QString::fromStdString(confidenceLabel(row.confidence)),
            QStringLiteral("  status: ok"),
            QStringLiteral("  observed: Mar 1, 2026 at 9:14:05 AM"),
            QStringLiteral("- Codex CLI"),
            QStringLiteral("  primary remaining: ") +
                QString::fromStdString(primaryRemainingText(bare)),
            QStringLiteral("  primary used: ") + QString::fromStdString(primaryUsedText(bare)),
            QStringLiteral("  primary window: ") + QString::fromStdString(primaryWindowText(bare)),
            QStringLiteral("  reset: unavailable"),
            QStringLiteral("  additional limits: 18% remaining"),
            QStringLiteral("  source: ") + QString::fromStdString(sourceLabel(bare.source)),
            QStringLiteral("  confidence: ") +
                QString::fromStdString(confidenceLabel(bare.confidence)),
            QStringLiteral("  status: unknown"),
            QStringLiteral("  observed: Feb 28, 2026 at 8:14:05 AM"),
        }));

    const QStringList sources = section(QStringLiteral("Sources:"));
    ASSERT_EQ(sources.size(), 15);
    EXPECT_EQ(sources[0], QStringLiteral("- Claude Code: found"));
    EXPECT_EQ(sources[1], QStringLiteral("  Status line bridge found"));
    EXPECT_EQ(sources[2],
              QStringLiteral("  capabilities: CLI installed: no; Usage source: not found; Token "
                             "data: not found; Limit data: not found; Uploads provider: no; "
                             "Tracking: Tracked without quota; Why no quota: No limit fields yet"));
    EXPECT_EQ(sources[3],
              QStringLiteral("  paths: claude: /usr/bin/claude; ~/.claude/projects: found"));
    EXPECT_EQ(sources[4],
              QStringLiteral("  warnings: Reads only sanitized fields; Never reads auth"));
    EXPECT_EQ(sources[5], QStringLiteral("- Codex CLI: not found"));
    EXPECT_EQ(sources[7].count(u';'), 5); // six capabilities without a reason
    EXPECT_EQ(sources[8], QStringLiteral("  paths: "));
    EXPECT_EQ(sources[9], QStringLiteral("  warnings: "));
    EXPECT_EQ(sources[10], QStringLiteral("- Mock Claude/Codex: found"));

    EXPECT_EQ(section(QStringLiteral("Relay devices:")),
              (QStringList{
                  QStringLiteral("- Ana's iPhone (ios): phone_1, lastSeenAt: 2026-03-01T09:10:00Z"),
                  QStringLiteral("- Test Box (linux): mac_1, lastSeenAt: never"),
              }));
}

TEST(SupportBundleTest, DatesFollowTheLocale) {
    struct Case {
        QLocale locale;
        QString expected;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates),
         QStringLiteral("Mar 1, 2026 at 9:14:05 AM")},
        {QLocale(QLocale::English, QLocale::UnitedKingdom),
         QStringLiteral("1 Mar 2026 at 09:14:05")},
        {QLocale(QLocale::German, QLocale::Germany), QStringLiteral("1. März 2026, 09:14:05")},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        h.options.locale = c.locale;
        EXPECT_EQ(h.make().bundleDateText(h.clock.now()), c.expected)
            << c.locale.name().toStdString();
    }
    ModelHarness berlin;
    berlin.options.timeZone = QTimeZone(QByteArrayLiteral("Europe/Berlin"));
    EXPECT_EQ(berlin.make().bundleDateText(berlin.clock.now()),
              QStringLiteral("Mar 1, 2026 at 10:14:05 AM"));
}

TEST(SupportBundleTest, CopyingPutsTextOnThePasteboardOnlyWhenThereIsSomething) {
    ModelHarness h;
    ConnectorModel& m = h.make();
    m.copyLatestSnapshotJSON();
    EXPECT_TRUE(h.pasteboard->texts.isEmpty());
    m.copySupportBundle();
    ASSERT_EQ(h.pasteboard->texts.size(), 1);
    EXPECT_EQ(h.pasteboard->texts[0], m.supportBundleText());

    h.claude->row = test::sampleRow("claude-code", "Claude Code", h.clock.now());
    test::finish(m.refreshLocalLimits());
    m.copyLatestSnapshotJSON();
    ASSERT_EQ(h.pasteboard->texts.size(), 2);
    EXPECT_EQ(h.pasteboard->texts[1].toStdString(),
              encodeSnapshot(*m.localLimitSnapshot()).value());

    // A snapshot that cannot be encoded leaves the pasteboard as it was.
    h.claude->row->usage.costUsd = std::numeric_limits<double>::infinity();
    test::finish(m.refreshLocalLimits());
    m.copyLatestSnapshotJSON();
    EXPECT_EQ(h.pasteboard->texts.size(), 2);
}

} // namespace
} // namespace korvo

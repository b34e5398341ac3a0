#include "model/SnapshotJson.h"
#include "support/ModelHarness.h"

namespace korvo {
namespace {

using test::ModelHarness;

template <class... Text> QStringList lines(const Text&... texts) {
    return QStringList{QString(texts)...};
}

// The lines under a section title, up to the next empty line.
QStringList section(const QString& text, const QString& title) {
    const QStringList lines = text.split(u'\n');
    QStringList out;
    for (qsizetype i = lines.indexOf(title) + 1; i > 0 && i < lines.size() && !lines[i].isEmpty();
         ++i) {
        out << lines[i];
    }
    return out;
}

// A fresh model shows every field's initial value; a stored pairing is not read before start.
TEST(SupportBundleTest, AFreshModelShowsEveryInitialValue) {
    ModelHarness h;
    h.storePairing();
    ConnectorModel& m = h.make();
    EXPECT_EQ(
        m.supportBundleText(),
        lines("Korvo Connector Support Bundle", "Generated: Mar 1, 2026 at 9:14:05 AM",
              "App surface: macOS Connector", "App version: 1.4.0 (42)",
              "Build channel: Internal Beta",
              "Safety: sanitized Connector state only; no provider API keys, cookies, OAuth "
              "tokens, session keys, auth files, raw provider logs, or raw prompts.",
              "Tester note: Describe what looked wrong, then paste this bundle and the iPhone "
              "support bundle if available.",
              "", "Status: Not paired", "Relay URL: http://127.0.0.1:9",
              "Relay health: Not checked", "Relay env: Unknown", "Paired: no", "Sync space: none",
              "Connector device: " + m.connectorDeviceId(), "Auto sync: Paused",
              "Sync interval: 30 seconds", "Mac power: Awake", "Last sleep: never",
              "Last wake: never", "Open at Login: Not checked", "Update status: Not checked",
              "Last update check: never", "Last collect: never", "Collect status: Not collected",
              "Parser error: None", "Last upload: Never", "Last upload at: never",
              "Last upload error: None", "Devices: Not loaded", "Device list error: None", "",
              "Latest snapshot:", "none", "never", "", "Providers:", "- no latest snapshot", "",
              "Sources:", "- not checked", "", "Relay devices:", "- not loaded")
            .join(u'\n'));
    EXPECT_FALSE(m.isPaired() || errorText(m.connection().error()) || m.autoSync().isLoopRunning());

    // Copying: the bundle always, the snapshot JSON only when there is one that encodes.
    m.copyLatestSnapshotJSON();
    m.copySupportBundle();
    h.claude->report(h.clock.now());
    test::finish(m.refreshLocalLimits());
    m.copyLatestSnapshotJSON();
    h.claude->row->usage.costUsd = std::numeric_limits<double>::infinity();
    test::finish(m.refreshLocalLimits());
    m.copyLatestSnapshotJSON();
    ASSERT_EQ(h.recorder->texts.size(), 2);
    EXPECT_TRUE(h.recorder->texts[0].startsWith(u"Korvo Connector Support Bundle\n"_s));
    EXPECT_TRUE(h.recorder->texts[1].contains(u"\"id\" : \"claude-code\""_s));
}

TEST(SupportBundleTest, ProvidersSourcesAndDevicesAfterAPairedRefresh) {
    ModelHarness h;
    test::CannedRelay server;
    h.pointAt(server.url());
    h.options.buildInfo.channel = u"Public_Beta"_s; // not a raw value: Release
    h.storePairing();
    server.setAnswer("GET /v1/sync-spaces/space_1/devices", 200,
                     R"({"devices":[{"id":"phone_1","name":"Ana's iPhone","kind":"ios",)"
                     R"("createdAt":"2026-03-01T09:00:00Z","lastSeenAt":"2026-03-01T09:10:00Z"},)"
                     R"({"id":"mac_1","name":"Test Box","kind":"linux","createdAt":"x"}]})");
    h.claude->report(h.clock.now());
    h.codex->row = ProviderUsage{
        "codex", "Codex CLI", SourceType::unknown, Confidence::unknown, ProviderStatus::unknown,
        {},      {},          h.clock.now() - 25h};
    h.codex->row->usage.remainingText = "18% remaining";
    AdapterDiagnostic& found = h.claude->diagnostic;
    found.isAvailable = true;
    found.summary = "Status line bridge found";
    found.whyNoQuota = "No limit fields yet";
    found.trackingStatus = "Tracked without quota";
    found.checkedPaths = {"claude: /usr/bin/claude", "~/.claude/projects: found"};
    found.warnings = {"Reads only sanitized fields", "Never reads auth"};
    h.codex->diagnostic.summary = "Nothing found";
    h.codex->diagnostic.trackingStatus = "Not found";
    ConnectorModel& m = h.make();
    test::finish(m.start());
    test::finish(m.loadDevices());
    m.handleSleep();
    h.clock.advance(5h + 1s);
    m.handleWake();

    const QString text = m.supportBundleText();
    const QStringList all = text.split(u'\n');
    EXPECT_EQ(all.value(1), "Generated: Mar 1, 2026 at 2:14:06 PM");
    EXPECT_EQ(all.value(4), "Build channel: Release");
    for (const char* line :
         {"Paired: yes", "Sync space: space_1", "Last sleep: Mar 1, 2026 at 9:14:05 AM",
          "Last wake: Mar 1, 2026 at 2:14:06 PM", "Open at Login: Off",
          "Collect status: 2 provider rows", "Devices: 2 devices"}) {
        EXPECT_TRUE(all.contains(QString::fromUtf8(line))) << line;
    }
    const QStringList snapshot = section(text, u"Latest snapshot:"_s);
    EXPECT_TRUE(snapshot.value(0).startsWith(u"local_"_s));
    EXPECT_EQ(snapshot.mid(1), QStringList{u"Mar 1, 2026 at 9:14:05 AM"_s});
    EXPECT_EQ(
        section(text, u"Providers:"_s),
        lines("- Claude Code", "  primary remaining: 60%", "  primary used: 40%",
              "  primary window: 5h", "  reset: Mar 1, 2026 at 11:14:05 AM",
              "  additional limits: none", "  source: Local CLI", "  confidence: CLI reported",
              "  status: ok", "  observed: Mar 1, 2026 at 9:14:05 AM", "- Codex CLI",
              "  primary remaining: 18% remaining", "  primary used: Limit unavailable",
              "  primary window: Unknown", "  reset: unavailable",
              "  additional limits: 18% remaining", "  source: Unknown", "  confidence: Unknown",
              "  status: unknown", "  observed: Feb 28, 2026 at 8:14:05 AM"));
    EXPECT_EQ(section(text, u"Sources:"_s).mid(0, 13),
              lines("- Claude Code: found", "  Status line bridge found",
                    "  capabilities: CLI installed: no; Usage source: not found; Token data: not "
                    "found; Limit data: not found; Uploads provider: no; Tracking: Tracked without "
                    "quota; Why no quota: No limit fields yet",
                    "  paths: claude: /usr/bin/claude; ~/.claude/projects: found",
                    "  warnings: Reads only sanitized fields; Never reads auth",
                    "- Codex CLI: not found", "  Nothing found",
                    "  capabilities: CLI installed: no; Usage source: not found; Token data: not "
                    "found; Limit data: not found; Uploads provider: no; Tracking: Not found",
                    "  paths: ", "  warnings: ", "- Mock Claude/Codex: found",
                    "  Available for preview and App Review",
                    "  capabilities: CLI installed: no; Usage source: found; Token data: found; "
                    "Limit data: found; Uploads provider: yes; Tracking: Demo fallback"));
    EXPECT_EQ(section(text, u"Relay devices:"_s),
              lines("- Ana's iPhone (ios): phone_1, lastSeenAt: 2026-03-01T09:10:00Z",
                    "- Test Box (linux): mac_1, lastSeenAt: never"));
}

TEST(SupportBundleTest, DatesFollowTheLocaleAndTimeZone) {
    const std::tuple<QLocale, QTimeZone, QString> cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedKingdom), QTimeZone::utc(),
         u"1 Mar 2026 at 09:14:05"_s},
        {QLocale(QLocale::German, QLocale::Germany), QTimeZone::utc(), u"1. März 2026, 09:14:05"_s},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone("Europe/Berlin"),
         u"Mar 1, 2026 at 10:14:05 AM"_s},
    };
    for (const auto& [locale, zone, expected] : cases) {
        ModelHarness h;
        h.options.locale = locale;
        h.options.timeZone = zone;
        EXPECT_EQ(
            section(h.make().supportBundleText(), u"Korvo Connector Support Bundle"_s).value(0),
            "Generated: " + expected);
    }
}

} // namespace
} // namespace korvo

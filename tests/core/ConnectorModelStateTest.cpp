#include "support/ModelHarness.h"

#include <QRegularExpression>
#include <QSignalSpy>

namespace korvo {
namespace {

using test::ModelHarness;

TEST(ConnectorModelStateTest, DeviceIdIsGeneratedOnceAndCorruptOnesAreReplaced) {
    const std::tuple<QByteArray, QString, bool> cases[] = {
        // The settings file's member (empty: the key is missing), the id it holds and whether
        // it is kept.
        {"", "", false},
        {R"("connectorDeviceId": "")", "", false},
        {R"("connectorDeviceId": "mac_12/34")", "mac_12/34", false},
        {R"("connectorDeviceId": ["a", "b"])", "a", false}, // a list, not a string
        {R"("connectorDeviceId": "linux_0A1B2C3D4E5F")", "linux_0A1B2C3D4E5F", true},
    };
    for (const auto& [member, stored, kept] : cases) {
        SCOPED_TRACE(member.toStdString());
        ModelHarness h;
        ASSERT_TRUE(test::writeFile(h.path(u"settings.json"_s), "{" + member + "}\n"));
        h.options.userDefaults = std::make_shared<SettingsUserDefaults>(h.path(u"settings.json"_s));
        const QString id = h.make().connectorDeviceId();
        EXPECT_EQ(id == stored, kept);
        if (!kept) {
            EXPECT_TRUE(QRegularExpression(u"^mac_[0-9A-F]{12}$"_s).match(id).hasMatch()) << id;
        }
        EXPECT_EQ(h.options.userDefaults->string(u"connectorDeviceId"_s), id);
        EXPECT_EQ(h.make().connectorDeviceId(), id); // generated once, then kept
    }
}

TEST(ConnectorModelStateTest, RelayURLNormalisedSavedAndLoaded) {
    // Typed or stored text; the client's normalised URL; the saved text (none: "Invalid URL");
    // whether it is shown with the plain-HTTP warning. A bare host means https; user info is
    // used but never printed.
    const std::tuple<QString, std::optional<QString>, std::optional<QString>, bool> cases[] = {
        {u"  https://relay.example.com/api/ \n"_s, u"https://relay.example.com/api/"_s,
         u"https://relay.example.com/api"_s, false},
        {u"https://relay.example.com/api//"_s, u"https://relay.example.com/api//"_s,
         u"https://relay.example.com/api"_s, false},
        {u"relay.example.com"_s, u"https://relay.example.com"_s, u"https://relay.example.com"_s,
         false},
        {u"127.0.0.1:8787"_s, u"https://127.0.0.1:8787"_s, u"https://127.0.0.1:8787"_s, false},
        {u"http://relay.example.com:8787"_s, u"http://relay.example.com:8787"_s,
         u"http://relay.example.com:8787"_s, true},
        {u"http://10.0.0.2"_s, u"http://10.0.0.2"_s, u"http://10.0.0.2"_s, true},
        {u"http://localhost:8787"_s, u"http://localhost:8787"_s, u"http://localhost:8787"_s, false},
        {u"http://127.0.0.2:1"_s, u"http://127.0.0.2:1"_s, u"http://127.0.0.2:1"_s, false},
        {u"http://[::1]:8787"_s, u"http://[::1]:8787"_s, u"http://[::1]:8787"_s, false},
        {u"https://me:pw@relay.example.com"_s, u"https://me:pw@relay.example.com"_s,
         u"https://me:pw@relay.example.com"_s, false},
        {u"   "_s, std::nullopt, std::nullopt, false},
        {u"file:///tmp/x"_s, std::nullopt, std::nullopt, false},
        {u"ftp://relay.example.com"_s, std::nullopt, std::nullopt, false},
        {u"http://exa mple.com"_s, std::nullopt, std::nullopt, false},
    };
    for (const auto& [text, normalized, saved, warned] : cases) {
        SCOPED_TRACE(text.toStdString());
        const QString client = normalized.value_or(u"http://127.0.0.1:9"_s);

        ModelHarness h; // saving what the user typed
        ConnectorModel& m = h.make();
        m.setRelayBaseURLString(text);
        m.saveRelaySettings();
        EXPECT_EQ(m.relayHealthStatus(), saved ? "Saved" : "Invalid URL");
        EXPECT_EQ(m.relayBaseURLString(), saved.value_or(text));
        EXPECT_EQ(h.stored(u"relayBaseURL"_s), saved);
        EXPECT_EQ(m.relayClient().baseURL().toString(), client);
        EXPECT_EQ(m.relayURLWarning().has_value(), warned);
        EXPECT_FALSE(m.relayURLText().contains(u":pw@"_s)) << m.relayURLText().toStdString();
        if (saved) {
            EXPECT_EQ(m.relayURLText(), QString(*saved).remove(u"me:pw@"_s));
        }

        h.defaults->setString(u"relayBaseURL"_s, text); // a stored URL at construction
        EXPECT_EQ(h.make().relayBaseURLString(), text);
        EXPECT_EQ(h.make().relayClient().baseURL().toString(), client);
    }
}

TEST(ConnectorModelStateTest, StartSyncSleepWakeDevicesAndUnlinkWhenNotPaired) {
    for (const bool syncSpace : {false, true}) { // a sync space without a token
        ModelHarness h;
        if (syncSpace) {
            h.defaults->setString(u"syncSpaceId"_s, u"space_1"_s);
        }
        ConnectorModel& m = h.make();
        test::finish(m.start());
        EXPECT_EQ(m.syncSpaceId(), syncSpace ? std::optional(u"space_1"_s) : std::nullopt);
        EXPECT_FALSE(m.isPaired());
        // A sync space whose token the keychain does not give: the loop runs and asks again.
        EXPECT_EQ(m.hasAutoSyncTask(), syncSpace);

        QSignalSpy any(&m, &ConnectorModel::stateChanged);
        QSignalSpy error(&m, &ConnectorModel::connectionChanged);
        test::finish(m.syncNow());
        EXPECT_EQ(m.errorMessage(), "Pair with iPhone before uploading snapshots.");
        EXPECT_EQ(any.count(), 1);
        EXPECT_EQ(error.count(), 1);
        EXPECT_FALSE(m.isSyncing() || m.lastUploadAt());
        m.setRelayBaseURLString(m.relayBaseURLString()); // unchanged: no signal
        EXPECT_EQ(any.count(), 1);

        // Without a sync space, sleep and wake only record the time: sync stays paused and no
        // catch-up starts.
        m.startAutoSync();
        m.handleSleep();
        EXPECT_EQ(m.powerStatus(), "Sleeping");
        m.handleWake();
        EXPECT_EQ(m.lastWakeAt(), h.clock.now());
        EXPECT_EQ(test::statuses(m),
                  (QStringList{"Not paired", syncSpace ? "Active" : "Paused", "Never"}));
        EXPECT_EQ(m.hasWakeRefreshTask() && m.hasAutoSyncTask(), syncSpace);

        // Nothing listens at the relay address: unlinking only forgets, without asking it.
        test::finish(m.loadDevices());
        EXPECT_EQ(m.deviceListStatus(), "Not paired");
        test::finish(m.unlinkDevice());
        EXPECT_EQ(m.statusMessage(), "Not paired");
        EXPECT_FALSE(m.syncSpaceId() || h.stored(u"syncSpaceId"_s) || m.hasAutoSyncTask());
    }
}

TEST(ConnectorModelStateTest, OpenAtLoginFollowsTheAutostartEntry) {
    ModelHarness h;
    ConnectorModel& m = h.make();
    for (const bool on : {true, true, false, false}) {
        m.setLaunchAtLogin(on);
        EXPECT_EQ(m.launchAtLoginStatus(), on ? "On" : "Off");
        EXPECT_EQ(m.launchAtLoginEnabled(), on);
    }
    EXPECT_EQ(m.errorMessage(), std::nullopt);

    // A file where the autostart folder should be: unavailable, and enabling fails.
    ASSERT_TRUE(test::writeFile(h.path(u"blocked"_s)));
    h.options.loginItem = std::make_shared<XdgAutostartLoginItem>(h.path(u"blocked/autostart"_s),
                                                                  u"k.desktop"_s, u"/usr/bin/k"_s);
    ConnectorModel& blocked = h.make();
    blocked.setLaunchAtLogin(false);
    EXPECT_EQ(blocked.launchAtLoginStatus(), "Unavailable");
    EXPECT_EQ(blocked.errorMessage(), std::nullopt);
    blocked.setLaunchAtLogin(true);
    const QString failure = blocked.launchAtLoginStatus().mid(8);
    EXPECT_EQ(blocked.launchAtLoginStatus(), "Failed: " + failure);
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_EQ(blocked.errorMessage(), "Unable to update Open at Login: " + failure);
}

TEST(ConnectorModelCollectTest, CollectStatusesFollowTheRowsAndFailures) {
    // Each adapter: "row", "" (nothing) or the path of the file it cannot parse.
    const std::tuple<const char*, const char*, const char*, const char*, std::vector<std::string>>
        cases[] = {
            {"row", "", "1 provider rows", "None", {"claude-code"}},
            {"row", "row", "2 provider rows", "None", {"claude-code", "codex"}},
            {"bad header",
             "row",
             "1 provider rows",
             "Claude Code: bad header is not valid JSON",
             {"codex"}},
            {"first",
             "second",
             "No real providers; using demo fallback",
             "Codex CLI: second is not valid JSON",
             {}},
        };
    for (const auto& [claude, codex, collectStatus, parserError, ids] : cases) {
        SCOPED_TRACE(collectStatus);
        ModelHarness h;
        for (const auto& [adapter, answer] :
             {std::pair(h.claude, claude), std::pair(h.codex, codex)}) {
            if (answer == std::string("row")) {
                adapter->report(h.clock.now());
            } else if (*answer) {
                adapter->failure = answer;
            }
        }
        ConnectorModel& m = h.make();
        test::finish(m.refreshLocalLimits());
        EXPECT_EQ(m.lastCollectStatus(), collectStatus);
        EXPECT_EQ(m.lastParserError(), parserError);
        EXPECT_EQ(m.lastSuccessfulCollectAt().has_value(), !ids.empty());
        std::vector<std::string> rows;
        for (const ProviderUsage& row :
             m.localLimitSnapshot().value_or(UsageSnapshot{}).providers) {
            rows.push_back(row.id);
        }
        EXPECT_EQ(rows, ids);
    }
}

TEST(ConnectorModelCollectTest, LocalLimitSnapshotDescribesThisMachine) {
    ModelHarness h;
    h.claude->report(h.clock.now());
    ConnectorModel& m = h.make();
    test::finish(m.refreshLocalLimits());
    const UsageSnapshot snapshot = m.localLimitSnapshot().value_or(UsageSnapshot{});
    EXPECT_EQ(snapshot.syncSpaceId, "local_display");
    EXPECT_EQ(snapshot.updatedAt, h.clock.now());
    EXPECT_EQ(snapshot.device, (SnapshotDevice{m.connectorDeviceId().toStdString(), "Test Box",
                                               SnapshotDeviceKind::linux}));
    EXPECT_FALSE(m.latestSnapshot().has_value());

    // With a sync space the snapshot carries it; without a host name the device is "Mac".
    struct NoName final : HostInfo {
        QString deviceName() const override { return {}; }
    };
    h.defaults->setString(u"syncSpaceId"_s, u"space_9"_s);
    h.options.hostInfo = std::make_shared<NoName>();
    ConnectorModel& unnamed = h.make();
    test::finish(unnamed.start());
    EXPECT_EQ(unnamed.localLimitSnapshot().value_or(UsageSnapshot{}).syncSpaceId, "space_9");
    EXPECT_EQ(unnamed.localLimitSnapshot().value_or(UsageSnapshot{}).device.name, "Mac");
}

TEST(ConnectorModelCollectTest, DiagnosticsAreSortedByNameAndCounted) {
    ModelHarness h;
    auto aider = std::make_shared<test::FixedAdapter>("aider", "Aider");
    aider->diagnostic.isAvailable = true;
    h.claude->diagnostic.isAvailable = h.claude->diagnostic.canUploadProvider = true;
    h.claude->diagnostic.limitDataFound = true;
    h.codex->diagnostic.isAvailable = h.codex->diagnostic.canUploadProvider = true;
    h.options.sourceAdapters->push_back(std::make_shared<test::FixedAdapter>("lower", "aardvark"));
    h.options.sourceAdapters->push_back(aider);
    ConnectorModel& m = h.make();
    QSignalSpy status(&m, &ConnectorModel::sourcesChanged);
    test::finish(m.refreshSourceDiagnostics());
    std::vector<std::string> names;
    for (const AdapterDiagnostic& d : m.sourceDiagnostics()) {
        names.push_back(d.displayName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Aider", "Claude Code", "Codex CLI",
                                               "Mock Claude/Codex", "aardvark"}));
    EXPECT_EQ(m.sourceDiagnosticStatus(), "4 detected · 3 usage · 2 quota");
    EXPECT_EQ(status.count(), 2); // "Checking", then the counts
}

} // namespace
} // namespace korvo

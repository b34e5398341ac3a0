#include "CoreTestSupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::ModelHarness;

TEST(ConnectorModelCollectTest, CollectStatusesFollowTheRowsAndFailures) {
    struct Case {
        const char* name;
        bool claudeRow;
        std::optional<std::string> claudeFailure;
        bool codexRow;
        std::optional<std::string> codexFailure;
        QString collectStatus;
        QString parserError;
        std::vector<std::string> rowIds;
    };
    const Case cases[] = {
        {"nothing",
         false,
         {},
         false,
         {},
         QStringLiteral("No real providers; using demo fallback"),
         QStringLiteral("None"),
         {}},
        {"one row",
         true,
         {},
         false,
         {},
         QStringLiteral("1 provider rows"),
         QStringLiteral("None"),
         {"claude-code"}},
        {"two rows in adapter order",
         true,
         {},
         true,
         {},
         QStringLiteral("2 provider rows"),
         QStringLiteral("None"),
         {"claude-code", "codex"}},
        {"one fails, one reports",
         false,
         std::string("bad header"),
         true,
         {},
         QStringLiteral("1 provider rows"),
         QStringLiteral("Claude Code: bad header"),
         {"codex"}},
        {"both fail: the last stays",
         false,
         std::string("first"),
         false,
         std::string("second"),
         QStringLiteral("No real providers; using demo fallback"),
         QStringLiteral("Codex CLI: second"),
         {}},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        if (c.claudeRow) {
            h.claude->row = test::sampleRow("claude-code", "Claude Code", h.clock.now());
        }
        h.claude->failure = c.claudeFailure;
        if (c.codexRow) {
            h.codex->row = test::sampleRow("codex", "Codex CLI", h.clock.now());
        }
        h.codex->failure = c.codexFailure;
        ConnectorModel& m = h.make();
        test::finish(m.refreshLocalLimits());
        EXPECT_EQ(m.lastCollectStatus(), c.collectStatus) << c.name;
        EXPECT_EQ(m.lastParserError(), c.parserError) << c.name;
        EXPECT_EQ(m.lastSuccessfulCollectAt().has_value(), !c.rowIds.empty()) << c.name;
        std::vector<std::string> ids;
        if (m.localLimitSnapshot()) {
            for (const ProviderUsage& row : m.localLimitSnapshot()->providers) {
                ids.push_back(row.id);
            }
        }
        EXPECT_EQ(ids, c.rowIds) << c.name;
        EXPECT_EQ(m.localLimitSnapshot().has_value(), !c.rowIds.empty()) << c.name;
    }
}

TEST(ConnectorModelCollectTest, LocalLimitSnapshotDescribesThisMachine) {
    ModelHarness h;
    h.claude->row = test::sampleRow("claude-code", "Claude Code", h.clock.now());
    ConnectorModel& m = h.make();
    test::finish(m.refreshLocalLimits());
    ASSERT_TRUE(m.localLimitSnapshot().has_value());
    const UsageSnapshot snapshot = *m.localLimitSnapshot();
    EXPECT_EQ(snapshot.syncSpaceId, "local_display");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^local_[0-9A-F]{16}$"))
                    .match(QString::fromStdString(snapshot.snapshotId))
                    .hasMatch())
        << snapshot.snapshotId;
    EXPECT_EQ(snapshot.schemaVersion, 1);
    EXPECT_EQ(snapshot.updatedAt, h.clock.now());
    EXPECT_EQ(snapshot.device.id, m.connectorDeviceId().toStdString());
    EXPECT_EQ(snapshot.device.name, "Test Box");
    EXPECT_EQ(snapshot.device.kind, SnapshotDeviceKind::linux);
    EXPECT_FALSE(m.latestSnapshot().has_value());

    // A second refresh builds a new snapshot id; with a sync space it carries that space.
    h.defaults->setString(QStringLiteral("syncSpaceId"), QStringLiteral("space_9"));
    test::finish(m.start());
    ASSERT_TRUE(m.localLimitSnapshot().has_value());
    EXPECT_EQ(m.localLimitSnapshot()->syncSpaceId, "space_9");
    EXPECT_NE(m.localLimitSnapshot()->snapshotId, snapshot.snapshotId);
}

TEST(ConnectorModelCollectTest, DeviceNameFallsBackToMac) {
    ModelHarness h;
    // An empty machine-info and a host info that answers nothing.
    struct NoName final : HostInfo {
        QString deviceName() const override { return {}; }
    };
    h.options.hostInfo = std::make_shared<NoName>();
    h.claude->row = test::sampleRow("claude-code", "Claude Code", h.clock.now());
    ConnectorModel& m = h.make();
    test::finish(m.refreshLocalLimits());
    ASSERT_TRUE(m.localLimitSnapshot().has_value());
    EXPECT_EQ(m.localLimitSnapshot()->device.name, "Mac");
}

TEST(ConnectorModelCollectTest, DiagnosticsAreSortedByNameAndCounted) {
    ModelHarness h;
    auto aider = std::make_shared<test::FixedAdapter>("aider", "Aider");
    aider->diagnostic.isAvailable = true;
    auto lower = std::make_shared<test::FixedAdapter>("lower", "aardvark");
    h.claude->diagnostic.isAvailable = true;
    h.claude->diagnostic.canUploadProvider = true;
    h.claude->diagnostic.limitDataFound = true;
    h.codex->diagnostic.isAvailable = true;
    h.codex->diagnostic.canUploadProvider = true;
    h.options.sourceAdapters = AdapterList{std::make_shared<MockAdapter>(h.clock.clock()), h.claude,
                                           h.codex, lower, aider};
    ConnectorModel& m = h.make();
    QSignalSpy status(&m, &ConnectorModel::sourceDiagnosticStatusChanged);
    test::finish(m.refreshSourceDiagnostics());
    std::vector<std::string> names;
    for (const AdapterDiagnostic& d : m.sourceDiagnostics()) {
        names.push_back(d.displayName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Aider", "Claude Code", "Codex CLI",
                                               "Mock Claude/Codex", "aardvark"}));
    EXPECT_EQ(m.sourceDiagnosticStatus(), QStringLiteral("4 detected · 3 usage · 2 quota"));
    EXPECT_EQ(status.count(), 2); // "Checking", then the counts
}

TEST(ConnectorModelCollectTest, SyncNowUnpairedOnlySetsTheErrorMessage) {
    struct Case {
        const char* name;
        bool syncSpace;
        bool token;
    };
    const Case cases[] = {
        {"nothing stored", false, false},
        {"sync space without token", true, false},
    };
    for (const Case& c : cases) {
        ModelHarness h;
        if (c.syncSpace) {
            h.defaults->setString(QStringLiteral("syncSpaceId"), QStringLiteral("space_1"));
        }
        ConnectorModel& m = h.make();
        test::finish(m.start());
        QSignalSpy any(&m, &ConnectorModel::stateChanged);
        QSignalSpy error(&m, &ConnectorModel::errorMessageChanged);
        test::finish(m.syncNow());
        EXPECT_EQ(m.errorMessage(), QStringLiteral("Pair with iPhone before uploading snapshots."))
            << c.name;
        EXPECT_EQ(any.count(), 1) << c.name;
        EXPECT_EQ(error.count(), 1) << c.name;
        EXPECT_EQ(m.lastUploadStatus(), QStringLiteral("Never")) << c.name;
        EXPECT_FALSE(m.isSyncing()) << c.name;
    }
}

} // namespace
} // namespace korvo

namespace korvo {
namespace {

TEST(ConnectorModelRegistryTest, WithoutInjectedAdaptersTheRegistryListsAreUsed) {
    test::ModelHarness h;
    h.options.realAdapters.reset();
    h.options.sourceAdapters.reset();
    ConnectorModel& m = h.make();
    std::vector<std::string> real;
    for (const auto& adapter : m.realAdapters()) {
        real.push_back(adapter->id());
    }
    EXPECT_EQ(real, (std::vector<std::string>{"claude-code", "codex", "gemini-cli",
                                              "github-copilot-cli"}));
    ASSERT_FALSE(m.sourceAdapters().empty());
    EXPECT_EQ(m.sourceAdapters().front()->id(), "mock");

    // An empty home: only the demo source is found; the list comes back sorted by name.
    test::finish(m.refreshSourceDiagnostics());
    ASSERT_EQ(m.sourceDiagnostics().size(), m.sourceAdapters().size());
    EXPECT_TRUE(std::is_sorted(m.sourceDiagnostics().begin(), m.sourceDiagnostics().end(),
                               [](const AdapterDiagnostic& a, const AdapterDiagnostic& b) {
                                   return a.displayName < b.displayName;
                               }));
    EXPECT_EQ(m.sourceDiagnosticStatus(), QStringLiteral("1 detected · 1 usage · 1 quota"));
    test::finish(m.refreshLocalLimits());
    EXPECT_EQ(m.lastCollectStatus(), QStringLiteral("No real providers; using demo fallback"));
    EXPECT_FALSE(m.localLimitSnapshot().has_value());
}

} // namespace
} // namespace korvo

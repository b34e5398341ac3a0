#include "platform/PlatformServices.h"
#include "sources/adapters/ClaudeCodeAdapter.h"
#include "support/PrivateSecretService.h"
#include "support/RelayEndToEnd.h"

#include <QScopeGuard>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>

namespace korvo {
namespace {

using test::statuses;

// Faults from outside, end to end, while paired with a real korvo-relay: the relay killed,
// frozen or slower than the time-out, hostile answers from another server, the tool's files
// changing under the reader, an unreadable home, a damaged settings file, the clock jumping. Each
// cycle ends in the documented status texts; the next one recovers, and the relay then holds
// exactly the snapshot the model shows as uploaded.
class FaultInjectionTest : public test::RelayEndToEnd {
protected:
    // One cycle that fails: the documented texts, the last good upload kept on screen.
    void expectFailedCycle(const ConnectorModel& m, const std::optional<UsageSnapshot>& good,
                           const QString& error) {
        EXPECT_EQ(statuses(m), (QStringList{"Connected to iPhone", "Retrying", "Failed"}));
        EXPECT_EQ(uploadErrorText(m.uploader().state()), error);
        EXPECT_EQ(errorText(m.connection().error()), "Snapshot upload failed: " + error);
        EXPECT_EQ(m.uploader().state().snapshot, good);
        // On screen: the newest reading, the failed cycle's own when the tools gave rows.
        const std::optional<UsageSnapshot>& local = m.collector().collect().localSnapshot;
        EXPECT_EQ(m.displaySnapshot(),
                  local && (!good || local->updatedAt >= good->updatedAt) ? local : good);
        EXPECT_FALSE(m.uploader().state().isSyncing);
        EXPECT_TRUE(m.isPaired() && m.autoSync().isLoopRunning());
    }
    // The next cycle goes through, and the relay holds what the model shows as uploaded.
    void expectRecovery(ConnectorModel& m) {
        h_.clock.advance(30s);
        EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::uploaded);
        ASSERT_TRUE(m.uploader().state().snapshot.has_value());
        EXPECT_EQ(statuses(m),
                  (QStringList{"Connected to iPhone", "Active",
                               "Uploaded " + QString::fromStdString(
                                                 m.uploader().state().snapshot->snapshotId)}));
        EXPECT_EQ(errorText(m.connection().error()), std::nullopt);
        EXPECT_EQ(m.uploader().state().lastUploadAt, h_.clock.now());
        EXPECT_EQ(latestOnRelay(), m.uploader().state().snapshot);
    }
};

// A relay that answers later than the client waits: the cycle fails with the time-out's text
// well before the relay goes on. Then the relay is killed while it holds an upload half received
// (it is frozen first, so that the request is surely in its socket), and comes back on the same
// port with the same database. Each time the next cycle recovers.
TEST_F(FaultInjectionTest, RelaySlowerThanTheTimeOutThenKilledMidUpload) {
    h_.options.relayTimeout = 1500ms;
    ConnectorModel& m = h_.make();
    pair(m);
    std::optional<UsageSnapshot> good = m.uploader().state().snapshot;
    relay_->signal(SIGSTOP);
    h_.clock.advance(30s);
    EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::failed);
    expectFailedCycle(m, good, u"The request timed out."_s);
    relay_->signal(SIGCONT);
    expectRecovery(m);

    good = m.uploader().state().snapshot;
    const std::optional<Instant> goodAt = m.uploader().state().lastUploadAt;
    relay_->signal(SIGSTOP);
    h_.clock.advance(30s);
    QCoro::Task<SyncOutcome> cycle = m.syncNow();
    QTest::qWait(300);
    EXPECT_TRUE(m.uploader().state().isSyncing);
    relay_->kill();
    EXPECT_EQ(test::finish(std::move(cycle)), SyncOutcome::failed);
    expectFailedCycle(m, good, uploadErrorText(m.uploader().state()));
    EXPECT_NE(uploadErrorText(m.uploader().state()), "None");
    EXPECT_EQ(m.uploader().state().lastUploadAt, goodAt);
    restartRelay();
    EXPECT_EQ(latestOnRelay(), good);
    expectRecovery(m);
}

// Another server in the relay's place (at its address, where the token belongs): garbage, a
// body cut off, bytes that are not text, an error status. Each failure text starts as given and
// names what came back.
TEST_F(FaultInjectionTest, HostileAnswersFailTheCycleAndTheRealRelayRecovers) {
    const std::tuple<QByteArray, QString, QString> cases[] = {
        {test::httpResponse(200, "<html>not json</html>"), u"Relay response decode failed: "_s,
         u". Body: <html>not json</html>"_s},
        {"HTTP/1.1 200 OK\r\ncontent-type: application/json\r\ncontent-length: 400\r\n\r\n"
         R"({"status":"stored","snaps)",
         u""_s, u""_s},
        {test::httpResponse(500, R"({"error":"down"})"), u"Relay returned HTTP 500: "_s,
         uR"({"error":"down"})"_s},
        {QByteArray("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n\xff\xfe\x00\x01\x02", 43),
         u"Relay response decode failed: "_s, u"."_s},
    };
    ConnectorModel& m = h_.make();
    pair(m);
    for (const auto& [answer, start, end] : cases) {
        SCOPED_TRACE(answer.left(60).toStdString());
        const std::optional<UsageSnapshot> good = m.uploader().state().snapshot;
        relay_->kill();
        {
            test::HostileRelay hostile(answer, static_cast<quint16>(relay_->port()));
            ASSERT_TRUE(hostile.isListening());
            h_.clock.advance(30s);
            EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::failed);
            EXPECT_EQ(hostile.count("POST /v1/sync-spaces/"), 1);
        }
        const QString error = uploadErrorText(m.uploader().state());
        expectFailedCycle(m, good, error);
        EXPECT_TRUE(error.startsWith(start) && error.endsWith(end) && error != "None") << error;
        restartRelay();
        expectRecovery(m);
    }
}

// Claude Code's transcript changes between and during reads (grows, is cut shorter in place, is
// replaced, is rewritten over and over while cycles read it) and the home becomes unreadable.
// Every cycle uploads; the Claude Code row shows what the file holds, and nothing of a file
// that is gone.
TEST_F(FaultInjectionTest, LogFilesChangingUnderTheReaderAndAnUnreadableHome) {
    namespace fs = std::filesystem;
    const fs::path home = h_.options.home;
    const fs::path folder = home / ".claude/projects/-home-dev-app";
    const fs::path transcript = folder / "3f2b9c1e.jsonl";
    fs::create_directories(folder);
    h_.options.realAdapters =
        AdapterList{std::make_shared<ClaudeCodeAdapter>(home, std::vector<fs::path>{},
                                                        h_.clock.clock(), fixedEnvironment({})),
                    h_.codex};
    h_.codex->report(h_.clock.now());
    const auto message = [](const std::string& id, int input) {
        return R"({"type":"assistant","timestamp":"2026-03-01T09:00:00.000Z","message":{"id":")" +
               id + R"(","model":"claude-sonnet-4-5","usage":{"input_tokens":)" +
               std::to_string(input) + R"(,"output_tokens":1}}})" + "\n";
    };
    const auto write = [&](const std::string& text, std::ios::openmode mode) {
        std::ofstream(transcript, std::ios::binary | mode) << text;
    };
    const auto replace = [&](const std::string& text) {
        std::ofstream(folder / "next.tmp", std::ios::binary) << text;
        fs::rename(folder / "next.tmp", transcript);
    };
    const auto claudeInput = [](const ConnectorModel& m) -> std::optional<double> {
        for (const ProviderUsage& row : m.uploader().state().snapshot->providers) {
            if (row.id == "claude-code") {
                return row.usage.inputTokens;
            }
        }
        return std::nullopt;
    };
    const bool modesAreIgnored = ::geteuid() == 0;
    const std::tuple<const char*, std::function<void()>, std::optional<double>> steps[] = {
        {"first read", [&] { write(message("a", 100), std::ios::trunc); }, 100},
        {"grown", [&] { write(message("b", 20), std::ios::app); }, 120},
        {"cut shorter in place", [&] { write(message("c", 7), std::ios::trunc); }, 7},
        {"replaced", [&] { replace(message("d", 50) + message("e", 5)); }, 55},
        {"home unreadable", [&] { fs::permissions(home, fs::perms::none); },
         modesAreIgnored ? std::optional<double>(55) : std::nullopt},
        {"home readable again", [&] { fs::permissions(home, fs::perms::owner_all); }, 55},
    };
    ConnectorModel& m = h_.make();
    pair(m);
    for (const auto& [fault, act, input] : steps) {
        SCOPED_TRACE(fault);
        act();
        expectRecovery(m);
        EXPECT_EQ(claudeInput(m), input);
    }

    std::atomic<bool> stop = false;
    std::thread writer([&] {
        for (int turn = 0; !stop; ++turn) {
            turn % 2 == 0 ? write(message("f", 3) + message("g", 4), std::ios::trunc)
                          : replace(message("h", 9));
        }
    });
    for (int cycle = 0; cycle < 4; ++cycle) {
        expectRecovery(m);
    }
    stop = true;
    writer.join();
    write(message("i", 11), std::ios::trunc);
    expectRecovery(m);
    EXPECT_EQ(claudeInput(m), 11);
}

// A settings file damaged while the connector was not running: the pairing it held is lost but
// the device token stays in the keychain, a new device id is written back, and pairing again
// stores a pairing that the next start reads.
TEST_F(FaultInjectionTest, DamagedSettingsFile) {
    static const char otherKind[] = "\xff\xfe\x00{\"sync\x01\x7f\nsyncSpaceId\n:\"@Variant(";
    const std::pair<const char*, QByteArray> damages[] = {
        {"zeros", QByteArray(256, '\0')},
        {"bytes of another kind", QByteArray(otherKind, sizeof otherKind - 1)},
        {"cut short", "{\n  \"connectorDeviceId\": \"mac_0\",\n  \"syncSpaceId\": \"spa"},
    };
    int index = 0;
    for (const auto& [name, bytes] : damages) {
        SCOPED_TRACE(name);
        const QString file = h_.path(u"damaged-%1.json"_s.arg(++index));
        ASSERT_TRUE(test::writeFile(file, bytes));
        h_.storePairing();
        h_.options.userDefaults = std::make_shared<SettingsUserDefaults>(file);
        ConnectorModel& m = h_.make();
        EXPECT_EQ(statuses(m), (QStringList{"Not paired", "Paused", "Never"}));
        EXPECT_EQ(h_.storedToken(), "token");
        const QString deviceId = m.connectorDeviceId();
        EXPECT_TRUE(deviceId.startsWith("mac_")) << deviceId;
        pair(m);
        expectRecovery(m);
        const SettingsUserDefaults reread(file);
        EXPECT_EQ(reread.string(u"connectorDeviceId"_s), deviceId);
        EXPECT_EQ(reread.string(u"syncSpaceId"_s), space_);
    }
}

// The Secret Service that holds the device token is locked, or killed, while the connector runs
// paired. The cycle that cannot read the token asks for pairing and uploads nothing; the
// pairing and the token stay where they are, and the first cycle after the service is unlocked
// or back uploads again. The service is the test's own, on a bus that starts nothing on demand,
// so one that is gone stays gone; this process opens no other session bus (ctest runs each test
// in a process of its own).
TEST_F(FaultInjectionTest, SecretServiceLockedOrGone) {
    test::PrivateSecretService secrets;
    // The keychain speaks to the session bus this names; the run's own bus comes back after.
    const QByteArray runBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const auto restore = qScopeGuard([&] {
        runBus.isNull() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS")
                        : qputenv("DBUS_SESSION_BUS_ADDRESS", runBus);
    });
    qputenv("DBUS_SESSION_BUS_ADDRESS", secrets.address().toUtf8());
    ASSERT_TRUE(secrets.start());
    h_.options.keychainBackend = PlatformServices::systemKeychain();
    ASSERT_TRUE(h_.options.keychainBackend);
    const KeychainStore store(KeychainStore::kDefaultService, h_.options.keychainBackend);
    ConnectorModel& m = h_.make();
    pair(m);
    const std::optional<std::string> token = store.read(KeychainStore::kDeviceTokenAccount);
    ASSERT_TRUE(token.has_value());

    const std::tuple<const char*, std::function<bool()>, std::function<bool()>> faults[] = {
        {"locked", [&] { return secrets.setLocked(true); },
         [&] { return secrets.setLocked(false); }},
        {"gone", [&] { return secrets.kill(); }, [&] { return secrets.start(); }},
    };
    for (const auto& [fault, cause, mend] : faults) {
        SCOPED_TRACE(fault);
        const std::optional<UsageSnapshot> good = m.uploader().state().snapshot;
        ASSERT_TRUE(cause());
        h_.clock.advance(30s);
        EXPECT_EQ(test::finish(m.syncNow()), SyncOutcome::notPaired);
        EXPECT_EQ(statuses(m),
                  (QStringList{"Connected to iPhone", "Active",
                               "Uploaded " + QString::fromStdString(good->snapshotId)}));
        EXPECT_EQ(errorText(m.connection().error()),
                  "Pair with iPhone before uploading snapshots.");
        EXPECT_EQ(m.uploader().state().snapshot, good);
        EXPECT_FALSE(m.uploader().state().isSyncing);
        EXPECT_TRUE(m.autoSync().isLoopRunning());
        EXPECT_EQ(h_.stored(u"syncSpaceId"_s), space_);
        EXPECT_EQ(latestOnRelay(), good);
        ASSERT_TRUE(mend());
        EXPECT_EQ(store.read(KeychainStore::kDeviceTokenAccount), token);
        expectRecovery(m);
    }

    // A connector that starts while the keychain is locked (a login that opens it later) shows
    // "Not paired" but runs its loop, and the first cycle after the unlock uploads.
    ASSERT_TRUE(secrets.setLocked(true));
    ConnectorModel& started = h_.make();
    test::finish(started.start());
    EXPECT_EQ(connectionStatusText(started.connection().status()), "Not paired");
    EXPECT_TRUE(started.autoSync().isLoopRunning());
    ASSERT_TRUE(secrets.setLocked(false));
    expectRecovery(started);
}

// The clock jumps forward by hours (a long sleep) and back (a corrected clock): each cycle is
// stamped with the clock's time and uploads.
TEST_F(FaultInjectionTest, ClockJumpsForwardAndBack) {
    ConnectorModel& m = h_.make();
    pair(m);
    for (const auto jump : {std::chrono::seconds(9h), -std::chrono::seconds(30h), 1s}) {
        h_.clock.advance(jump);
        h_.claude->report(h_.clock.now());
        expectRecovery(m);
        EXPECT_EQ(m.uploader().state().lastUploadAt, h_.clock.now());
        EXPECT_EQ(m.uploader().state().snapshot->updatedAt, h_.clock.now());
    }
}

} // namespace
} // namespace korvo

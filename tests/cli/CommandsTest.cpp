#include "PrivateHome.h"
#include "model/SnapshotJson.h"
#include "support/RelayProcess.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::PrivateHome;

const std::string kHint = "\nRun 'korvo-connector --help' for the commands.\n";

struct Answer {
    const char* fixture; // copied into the home; nullptr: an empty home
    QStringList arguments;
    int exitCode;
    std::vector<std::string> out; // parts of stdout, in order; none: stdout is empty
    std::string err = {};         // part of stderr
    std::string absent = {};      // never on stdout
};

TEST(CommandsProgram, AnswersInEmptyAndFixtureHomes) {
    const char* claude = "cli/claude-home";
    const QString down = test::kClosedLoopbackURL;
    // clang-format off
    const std::vector<Answer> cases = {
        {nullptr, {"frobnicate"}, 2, {}, "Unknown command 'frobnicate'." + kHint},
        {nullptr, {"--frobnicate"}, 2, {}, "Unknown option 'frobnicate'." + kHint},
        {nullptr, {"snapshot", "--all"}, 2, {}, "Unknown option 'all'." + kHint},
        {nullptr, {"pair", "--relay"}, 2, {}, "Missing value after '--relay'." + kHint},
        {nullptr, {"snapshot", "diagnose"}, 2, {},
         "Unexpected argument 'diagnose' after 'snapshot'." + kHint},
        {nullptr, {"--relay", "http://a", "--relay", "http://b", "status"}, 2, {},
         "--relay given more than once." + kHint},
        {nullptr, {"--relay", "http://a"}, 2, {}, "--relay needs a command"},
        {nullptr, {"--relay", "   ", "status"}, 2, {}, ": Invalid URL\n"},
        {nullptr, {"--relay", "http://", "status"}, 2, {}, "--relay http://: Invalid URL\n"},
        {nullptr, {"pair", "--relay", " "}, 2, {}, ": Invalid URL\n"},
        {nullptr, {"pair", "--relay", down}, 2, {}, "Unable to create pairing session: "},
        {nullptr, {"--help"}, 0, {"snapshot", "diagnose", "support-bundle", "status",
                                  "pair [--relay URL]", "run", "unlink", "claude-statusline"}},
        {nullptr, {"--version"}, 0, {"Korvo Connector ", "\nBuild channel: "}},
        {nullptr, {"snapshot"}, 1, {}, "No tool produced a usage row"},
        {nullptr, {"diagnose"}, 0, {" detected · ", " usage · ", " quota\n\n- ",
            "- Claude Code: not found\n  No local Claude Code source found"}, "", "Relay devices:"},
        // Sources are refreshed before the bundle is printed: none is "not checked".
        {nullptr, {"support-bundle"}, 0, {"Korvo Connector Support Bundle\nGenerated: ",
            "\nPaired: no\n", "\nSync space: none\n", "\n\nProviders:\n- no latest snapshot",
            "\n\nRelay devices:\n- not loaded"}, "", "- not checked"},
        {nullptr, {"status"}, 0, {"Status: Not paired\n", "Pairing: Not paired\n",
            "Collect: No real providers; using demo fallback\n", "Last upload: Never\n",
            "Sync interval: 30 seconds\n"}},
        {nullptr, {"run"}, 1, {"Not paired\n"}, "Not paired; run 'korvo-connector pair' first."},
        {claude, {"diagnose"}, 0, {"- Claude Code: found\n  Limit data ready\n",
                                   "rate_limits available"}},
        {claude, {"support-bundle"}, 0, {"\n\nProviders:\n- Claude Code\n  primary remaining: "}},
        {claude, {"status"}, 0, {"Claude source: Tracked with quota\n"}},
    };
    // clang-format on
    for (const auto& testCase : cases) {
        PrivateHome home;
        if (testCase.fixture) {
            home.copyFixture(testCase.fixture);
        }
        const auto ran = home.run(testCase.arguments);
        const auto name = testCase.arguments.join(' ').toStdString() +
                          (testCase.fixture ? " in a Claude home" : "");
        EXPECT_EQ(ran.exitCode, testCase.exitCode) << name << ran.err;
        std::size_t from = 0;
        for (const auto& part : testCase.out) {
            from = ran.out.find(part, from);
            EXPECT_NE(from, std::string::npos) << name << ": " << part << "\n" << ran.out;
        }
        EXPECT_EQ(ran.out.empty(), testCase.out.empty()) << name << ran.out;
        EXPECT_NE(ran.err.find(testCase.err), std::string::npos) << name << ran.err;
        if (!testCase.absent.empty()) {
            EXPECT_EQ(ran.out.find(testCase.absent), std::string::npos) << name << ran.out;
        }
    }
    PrivateHome home;
    EXPECT_EQ(home.run({"status", "-h"}).out, home.run({"--help"}).out);
    const auto unlink = home.run({"unlink"});
    EXPECT_EQ(unlink.exitCode, 0);
    EXPECT_EQ(unlink.out, "Not paired\n");
    // An invalid URL is never stored; the valid one given before it stays.
    home.run({"--relay", down, "status"});
    home.run({"--relay", " ", "status"});
    const auto status = home.run({"status"}).out;
    EXPECT_NE(status.find("Relay URL: " + down.toStdString() + "\n"), std::string::npos) << status;
}

struct ClaudeRow {
    const char* name;
    const char* fixture;   // or nullptr
    std::string hookInput; // piped through claude-statusline first, unless empty
    double usedPercent;
    std::string remainingText;
    long long resetAt;
};

// The Claude row of `snapshot` from a bridge file: a fixture, or what the status-line hook wrote
// (Claude Code reports 0 to 100; a reader takes values up to 1 as fractions, so 1 % stays 1 %).
TEST(CommandsProgram, SnapshotCarriesTheClaudeRow) {
    const std::vector<ClaudeRow> cases = {
        {"fixture", "cli/claude-home", "", 42,
         "7d 40% remaining · 60% used · resets 2099-03-05T00:00:00Z", 4076049600},
        {"hook", nullptr,
         R"({"rate_limits": {"five_hour": {"used_percentage": 23.5, "resets_at": 4102444800},
            "seven_day": {"used_percentage": 41, "resets_at": 4102444800000}}})",
         23.5, "7d 59% remaining · 41% used · resets 2100-01-01T00:00:00Z", 4102444800},
        {"hook, small percentages", nullptr,
         R"({"rate_limits": {"five_hour": {"used_percentage": 1, "resets_at": 4102444800},
            "seven_day": {"used_percentage": 0.6}}})",
         1, "7d 99% remaining · 1% used", 4102444800},
    };
    for (const auto& testCase : cases) {
        PrivateHome home;
        if (testCase.fixture) {
            home.copyFixture(testCase.fixture);
        } else {
            ASSERT_EQ(home.run({"claude-statusline"}, testCase.hookInput.c_str()).exitCode, 0);
        }
        const auto ran = home.run({"snapshot"});
        ASSERT_EQ(ran.exitCode, 0) << testCase.name << ran.err;
        const auto decoded = decodeSnapshot(ran.out);
        ASSERT_TRUE(decoded.ok()) << testCase.name << ran.out;
        const auto& providers = decoded.value().providers;
        const auto claude = std::find_if(providers.begin(), providers.end(),
                                         [](const auto& row) { return row.id == "claude-code"; });
        ASSERT_NE(claude, providers.end()) << testCase.name << ran.out;
        EXPECT_EQ(claude->status, ProviderStatus::ok) << testCase.name;
        EXPECT_EQ(claude->usage.usedPercent, testCase.usedPercent) << testCase.name;
        EXPECT_EQ(claude->usage.remainingText, testCase.remainingText) << testCase.name;
        ASSERT_TRUE(claude->window && claude->window->resetAt) << testCase.name;
        EXPECT_EQ(*claude->window->resetAt, instantFromUnixSeconds(testCase.resetAt))
            << testCase.name;
    }
}

// A relay whose clock is an hour behind hands out a code that has already expired here.
TEST(CommandsProgram, PairEndsWithExitOneWhenTheCodeExpires) {
    PrivateHome home;
    const QString clock = home.file("relay-clock");
    std::ofstream(clock.toStdString()) << QDateTime::currentSecsSinceEpoch() - 3600 << "\n";
    test::RelayProcess relay(home.file("relay.db"),
                             {"--environment", "test", "--clock-file", clock});
    ASSERT_TRUE(relay.isRunning());
    const auto ran = home.run({"--relay", relay.url().toString(), "pair"});
    EXPECT_EQ(ran.exitCode, 1) << ran.err;
    EXPECT_NE(ran.out.find("Expires 50 minutes ago\n"), std::string::npos) << ran.out;
    EXPECT_NE(ran.err.find("Pairing code expired"), std::string::npos) << ran.err;
    EXPECT_NE(home.run({"status"}).out.find("Pairing: Not paired\n"), std::string::npos);
}

} // namespace
} // namespace korvo

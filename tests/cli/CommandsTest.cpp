#include "RelayProcess.h"
#include "Subprocess.h"
#include "cli/ClaudeStatusLine.h"
#include "model/SnapshotJson.h"

#include <gtest/gtest.h>
#include <regex>

namespace korvo {
namespace {

using test::runConnector;
using test::TempHome;

const std::regex kDiagnosticStatus("^\\d+ detected · \\d+ usage · \\d+ quota\n\n- ");

const ProviderUsage* providerWithId(const UsageSnapshot& snapshot, const std::string& id) {
    for (const auto& provider : snapshot.providers) {
        if (provider.id == id) {
            return &provider;
        }
    }
    return nullptr;
}

TEST(CommandsProgram, EmptyHomeHasNoSnapshotButFullReports) {
    TempHome home;
    auto snapshot = runConnector({"snapshot"}, home.environment());
    EXPECT_EQ(snapshot.exitCode, 1);
    EXPECT_EQ(snapshot.out, "");
    EXPECT_NE(snapshot.err.find("No tool produced a usage row"), std::string::npos) << snapshot.err;

    auto diagnose = runConnector({"diagnose"}, home.environment());
    EXPECT_EQ(diagnose.exitCode, 0);
    EXPECT_TRUE(std::regex_search(diagnose.out, kDiagnosticStatus)) << diagnose.out;
    EXPECT_NE(diagnose.out.find("- Claude Code: not found\n  No local Claude Code source found"),
              std::string::npos)
        << diagnose.out;
    EXPECT_EQ(diagnose.out.find("Relay devices:"), std::string::npos) << diagnose.out;

    auto bundle = runConnector({"support-bundle"}, home.environment());
    EXPECT_EQ(bundle.exitCode, 0);
    for (const char* line :
         {"Korvo Connector Support Bundle\nGenerated: ", "\nPaired: no\n", "\nSync space: none\n",
          "\n\nProviders:\n- no latest snapshot", "\n\nRelay devices:\n- not loaded"}) {
        EXPECT_NE(bundle.out.find(line), std::string::npos) << line << "\n" << bundle.out;
    }
    // The sources were refreshed before printing.
    EXPECT_EQ(bundle.out.find("- not checked"), std::string::npos) << bundle.out;

    auto status = runConnector({"status"}, home.environment());
    EXPECT_EQ(status.exitCode, 0);
    for (const char* line : {"Status: Not paired\n", "Pairing: Not paired\n",
                             "Collect: No real providers; using demo fallback\n",
                             "Last upload: Never\n", "Sync interval: 30 seconds\n"}) {
        EXPECT_NE(status.out.find(line), std::string::npos) << line << "\n" << status.out;
    }

    auto unlink = runConnector({"unlink"}, home.environment());
    EXPECT_EQ(unlink.exitCode, 0);
    EXPECT_EQ(unlink.out, "Not paired\n");

    auto run = runConnector({"run"}, home.environment());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Not paired"), std::string::npos) << run.err;
}

TEST(CommandsProgram, ClaudeHomeGivesARowInEveryReport) {
    TempHome home;
    home.copyFixture("cli/claude-home");

    auto snapshot = runConnector({"snapshot"}, home.environment());
    ASSERT_EQ(snapshot.exitCode, 0) << snapshot.err;
    auto decoded = decodeSnapshot(snapshot.out);
    ASSERT_TRUE(decoded.ok()) << snapshot.out;
    const ProviderUsage* claude = providerWithId(decoded.value(), "claude-code");
    ASSERT_NE(claude, nullptr) << snapshot.out;
    EXPECT_EQ(claude->usage.usedPercent, 42);
    EXPECT_EQ(claude->usage.remainingPercent, 58);
    EXPECT_EQ(claude->usage.remainingText,
              "7d 40% remaining · 60% used · resets 2099-03-05T00:00:00Z");
    // Printed as the upload encodes it.
    auto encoded = encodeSnapshot(decoded.value());
    ASSERT_TRUE(encoded.ok());
    EXPECT_EQ(snapshot.out, encoded.value() + (encoded.value().ends_with('\n') ? "" : "\n"));

    auto diagnose = runConnector({"diagnose"}, home.environment());
    EXPECT_NE(diagnose.out.find("- Claude Code: found\n  Limit data ready\n"), std::string::npos)
        << diagnose.out;
    EXPECT_NE(diagnose.out.find("rate_limits available"), std::string::npos) << diagnose.out;

    auto bundle = runConnector({"support-bundle"}, home.environment());
    EXPECT_NE(bundle.out.find("\n\nProviders:\n- Claude Code\n  primary remaining: "),
              std::string::npos)
        << bundle.out;

    auto status = runConnector({"status"}, home.environment());
    EXPECT_NE(status.out.find("Claude source: Tracked with quota\n"), std::string::npos)
        << status.out;
}

struct BridgeCase {
    std::string input;
    double usedPercent;
    std::string remainingText;
};

// What the status-line hook writes is what the Claude Code adapter reads, small percentages
// included (Claude Code reports 0 to 100; a reader takes values up to 1 as fractions).
TEST(CommandsProgram, StatusLineBridgeFeedsTheClaudeRow) {
    const std::vector<BridgeCase> cases = {
        {R"({"rate_limits": {"five_hour": {"used_percentage": 23.5, "resets_at": 4102444800},
            "seven_day": {"used_percentage": 41, "resets_at": 4102444800000}}})",
         23.5, "7d 59% remaining · 41% used · resets 2100-01-01T00:00:00Z"},
        {R"({"rate_limits": {"five_hour": {"used_percentage": 1, "resets_at": 4102444800},
            "seven_day": {"used_percentage": 0.6}}})",
         1, "7d 99% remaining · 1% used"},
    };
    for (const auto& testCase : cases) {
        TempHome home;
        ASSERT_EQ(runConnector({"claude-statusline"}, home.environment(), testCase.input).exitCode,
                  0);
        auto snapshot = runConnector({"snapshot"}, home.environment());
        ASSERT_EQ(snapshot.exitCode, 0) << snapshot.err;
        auto decoded = decodeSnapshot(snapshot.out);
        ASSERT_TRUE(decoded.ok());
        const ProviderUsage* claude = providerWithId(decoded.value(), "claude-code");
        ASSERT_NE(claude, nullptr);
        EXPECT_EQ(claude->usage.usedPercent, testCase.usedPercent);
        EXPECT_EQ(claude->status, ProviderStatus::ok);
        ASSERT_TRUE(claude->window && claude->window->resetAt);
        EXPECT_EQ(*claude->window->resetAt, instantFromUnixSeconds(4102444800));
        EXPECT_EQ(claude->usage.remainingText, testCase.remainingText);
    }
}

struct RelayRefusal {
    const char* name;
    std::vector<std::string> arguments;
    std::string message;
};

TEST(CommandsProgram, BadRelayURLsAndADownRelayExitTwo) {
    TempHome home;
    const std::string down = test::closedLoopbackURL();
    const std::vector<RelayRefusal> cases = {
        {"blank", {"--relay", "   ", "status"}, "Invalid URL"},
        {"no host", {"--relay", "http://", "status"}, "Invalid URL"},
        {"pair with a blank relay", {"pair", "--relay", " "}, "Invalid URL"},
        {"relay down", {"pair", "--relay", down}, "Unable to create pairing session: "},
    };
    for (const auto& testCase : cases) {
        auto result = runConnector(testCase.arguments, home.environment());
        EXPECT_EQ(result.exitCode, 2) << testCase.name;
        EXPECT_NE(result.err.find(testCase.message), std::string::npos)
            << testCase.name << ": " << result.err;
        EXPECT_EQ(result.out.find("Pairing code"), std::string::npos) << testCase.name;
    }
    // An invalid URL is never stored; the valid one given before it stays.
    runConnector({"--relay", down, "status"}, home.environment());
    runConnector({"--relay", " ", "status"}, home.environment());
    auto status = runConnector({"status"}, home.environment());
    EXPECT_NE(status.out.find("Relay URL: " + down + "\n"), std::string::npos) << status.out;
}

// A relay whose clock is an hour behind hands out a code that has already expired here.
TEST(CommandsProgram, PairEndsWithExitOneWhenTheCodeExpires) {
    TempHome home;
    const auto hourAgo = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count() -
                         3600;
    test::RelayProcess relay(home, hourAgo);
    ASSERT_FALSE(relay.baseURL().empty());
    auto result = runConnector({"--relay", relay.baseURL(), "pair"}, home.environment());
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.out.find("Expires 50 minutes ago\n"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("Pairing code expired"), std::string::npos) << result.err;
    auto status = runConnector({"status"}, home.environment());
    EXPECT_NE(status.out.find("Pairing: Not paired\n"), std::string::npos) << status.out;
}

} // namespace
} // namespace korvo

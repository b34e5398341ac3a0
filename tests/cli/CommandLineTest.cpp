#include "Subprocess.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::runConnector;
using test::TempHome;

struct RefusedArguments {
    std::vector<std::string> arguments;
    std::string message; // part of the text on stderr
};

TEST(CommandLineProgram, RefusesWhatItDoesNotKnowWithExitTwo) {
    const std::vector<RefusedArguments> cases = {
        {{"frobnicate"}, "Unknown command 'frobnicate'."},
        {{"--frobnicate"}, "Unknown option 'frobnicate'."},
        {{"snapshot", "--all"}, "Unknown option 'all'."},
        {{"pair", "--relay"}, "Missing value after '--relay'."},
        {{"snapshot", "diagnose"}, "Unexpected argument 'diagnose' after 'snapshot'."},
        {{"--relay", "http://a", "--relay", "http://b", "status"}, "--relay given more than once."},
        {{"--relay", "http://a"}, "--relay needs a command"},
    };
    TempHome home;
    for (const auto& testCase : cases) {
        auto result = runConnector(testCase.arguments, home.environment());
        EXPECT_EQ(result.exitCode, 2) << testCase.arguments[0];
        EXPECT_EQ(result.out, "") << testCase.arguments[0];
        EXPECT_NE(result.err.find(testCase.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("korvo-connector --help"), std::string::npos) << result.err;
    }
}

TEST(CommandLineProgram, HelpAndVersion) {
    TempHome home;
    auto help = runConnector({"--help"}, home.environment());
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command :
         {"snapshot", "diagnose", "support-bundle", "status", "pair [--relay URL]", "run", "unlink",
          "claude-statusline", "--version"}) {
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    }
    EXPECT_EQ(runConnector({"status", "-h"}, home.environment()).out, help.out);

    auto version = runConnector({"--version"}, home.environment());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.starts_with("Korvo Connector ")) << version.out;
    EXPECT_NE(version.out.find("\nBuild channel: "), std::string::npos) << version.out;
}

} // namespace
} // namespace korvo

#include "cli/ClaudeStatusLine.h"

#include "Subprocess.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace korvo {
namespace {

using namespace std::chrono;
using test::readFile;
using test::runConnector;
using test::TempHome;

const Instant kObserved = instantFromUnixSeconds(1767225600); // 2026-01-01T00:00:00Z

const char* kFullInput = R"({
  "session_id": "SESSION-SECRET",
  "transcript_path": "/home/someone/.claude/projects/x/PATH-SECRET.jsonl",
  "model": {"id": "claude-x", "display_name": "MODEL-SECRET"},
  "cost": {"total_cost_usd": 1.25},
  "rate_limits": {
    "five_hour": {"used_percentage": 23.5, "resets_at": 1767232800, "note": "NOTE-SECRET"},
    "seven_day": {"used_percentage": 41, "resets_at": 1767744000},
    "opus": {"used_percentage": 12}
  }
})";

const char* kFullBridge = R"({
  "observed_at" : "2026-01-01T00:00:00Z",
  "rate_limits" : {
    "five_hour" : {
      "resets_at" : "2026-01-01T02:00:00Z",
      "used_percentage" : 23.5
    },
    "seven_day" : {
      "resets_at" : "2026-01-07T00:00:00Z",
      "used_percentage" : 41
    }
  }
}
)";

struct ParseCase {
    const char* name;
    std::string input;
    std::optional<StatusLineLimits> expected;
};

StatusLineWindow window(double used, std::optional<long long> resetsAt = std::nullopt) {
    StatusLineWindow result{used, std::nullopt};
    if (resetsAt) {
        result.resetsAt = instantFromUnixSeconds(*resetsAt);
    }
    return result;
}

TEST(ClaudeStatusLine, ParsesOnlyUsableRateLimits) {
    const std::vector<ParseCase> cases = {
        {"empty", "", std::nullopt},
        {"invalid json", "{\"rate_limits\": {", std::nullopt},
        {"top level array", "[{\"rate_limits\": {}}]", std::nullopt},
        {"no rate limits", R"({"model": {"id": "x"}})", std::nullopt},
        {"rate limits null", R"({"rate_limits": null})", std::nullopt},
        {"rate limits text", R"({"rate_limits": "90%"})", std::nullopt},
        {"windows of wrong types", R"({"rate_limits": {"five_hour": 42, "seven_day": [1]}})",
         std::nullopt},
        {"used percentage as text", R"({"rate_limits": {"five_hour": {"used_percentage": "42"}}})",
         std::nullopt},
        {"empty windows", R"({"rate_limits": {"five_hour": {}, "seven_day": {}}})", std::nullopt},
        {"five hour only, reset text that is no date is dropped",
         R"({"rate_limits": {"five_hour": {"used_percentage": 42, "resets_at": "soon"}}})",
         StatusLineLimits{window(42), std::nullopt}},
        {"reset as date text with offset and fraction",
         R"({"rate_limits": {"five_hour": {"used_percentage": 42, "resets_at": "2026-01-01T03:00:00.750+01:00"}}})",
         StatusLineLimits{window(42, 1767232800), std::nullopt}},
        {"seven day only",
         R"({"rate_limits": {"seven_day": {"used_percentage": 0.6, "resets_at": 1767744000}}})",
         StatusLineLimits{std::nullopt, window(0.6, 1767744000)}},
        {"milliseconds read as the same moment",
         R"({"rate_limits": {"five_hour": {"used_percentage": 1, "resets_at": 1767232800000}}})",
         StatusLineLimits{window(1, 1767232800), std::nullopt}},
        {"out of range percentages are clamped",
         R"({"rate_limits": {"five_hour": {"used_percentage": 140}, "seven_day": {"used_percentage": -3}}})",
         StatusLineLimits{window(100), window(0)}},
        {"negative reset moment is dropped",
         R"({"rate_limits": {"five_hour": {"used_percentage": 5, "resets_at": -20}}})",
         StatusLineLimits{window(5), std::nullopt}},
        {"nanoseconds read as the same moment",
         R"({"rate_limits": {"five_hour": {"used_percentage": 5, "resets_at": 1767232800123456789}}})",
         StatusLineLimits{window(5, 1767232800), std::nullopt}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(parseStatusLineLimits(testCase.input), testCase.expected) << testCase.name;
    }
}

TEST(ClaudeStatusLine, BridgeKeepsOnlyTheRateLimitFields) {
    auto limits = parseStatusLineLimits(kFullInput);
    ASSERT_TRUE(limits);
    EXPECT_EQ(encodeBridgeFile(*limits, kObserved), kFullBridge);
    EXPECT_EQ(statusLineText(limits), "Korvo · 5h 76% left · 7d 59% left");
    EXPECT_EQ(statusLineText(std::nullopt), "Korvo · no rate limits yet");
}

TEST(ClaudeStatusLine, PercentagesUpToOneAreWrittenAsFractions) {
    const std::string written =
        encodeBridgeFile(StatusLineLimits{window(1), window(0.6)}, kObserved);
    EXPECT_NE(written.find("\"five_hour\" : {\n      \"used_percentage\" : 0.01\n"),
              std::string::npos)
        << written;
    EXPECT_NE(written.find("\"seven_day\" : {\n      \"used_percentage\" : 0.006\n"),
              std::string::npos)
        << written;
}

TEST(ClaudeStatusLine, RemainingPercentRoundsHalvesAwayFromZero) {
    EXPECT_EQ(statusLineText(StatusLineLimits{window(12.5), window(99.5)}),
              "Korvo · 5h 87% left · 7d 0% left");
}

// The same input as a Claude Code status line would pipe it, through the real program.
TEST(ClaudeStatusLineProgram, WritesTheBridgeFileWithPrivateModes) {
    TempHome home;
    auto result = runConnector({"claude-statusline"}, home.environment(), kFullInput);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Korvo · 5h 76% left · 7d 59% left\n");
    EXPECT_EQ(result.err, "");

    const auto folder = home.home() / ".korvo";
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(bridgeFilePath(home.home()).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    const std::string written = readFile(bridgeFilePath(home.home()));
    for (const char* secret : {"SECRET", "session", "transcript", "cost", "opus", "model"}) {
        EXPECT_EQ(written.find(secret), std::string::npos) << secret;
    }
    auto reparsed = parseStatusLineLimits(written);
    EXPECT_EQ(reparsed, parseStatusLineLimits(kFullInput));
    // The observation time is the program's clock, in the same date form as the reset times.
    EXPECT_NE(written.find("\"observed_at\" : \"20"), std::string::npos);
    // Only the bridge file is left in the folder: no temporary file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1);
}

struct RefusedInput {
    const char* name;
    std::string input;
};

TEST(ClaudeStatusLineProgram, BadInputWritesNothingAndExitsZero) {
    std::string huge = R"({"rate_limits": {"five_hour": {"used_percentage": 42}}, "pad": ")";
    huge += std::string(5 * 1024 * 1024, 'x');
    huge += "\"}";
    const std::vector<RefusedInput> cases = {
        {"nothing", ""},
        {"invalid json", "not json at all"},
        {"truncated", std::string(kFullInput).substr(0, 120)},
        {"five mebibytes", huge},
        {"wrong types",
         R"({"rate_limits": {"five_hour": "42", "seven_day": {"used_percentage": true}}})"},
        {"binary", std::string("\0\xff\xfe{\x01", 5)},
    };
    for (const auto& testCase : cases) {
        TempHome home;
        auto result = runConnector({"claude-statusline"}, home.environment(), testCase.input);
        EXPECT_EQ(result.exitCode, 0) << testCase.name;
        EXPECT_EQ(result.out, "Korvo · no rate limits yet\n") << testCase.name;
        EXPECT_FALSE(std::filesystem::exists(home.home() / ".korvo")) << testCase.name;
    }
}

TEST(ClaudeStatusLineProgram, InputOfExactlyTheLimitIsRead) {
    std::string input = R"({"rate_limits": {"five_hour": {"used_percentage": 42}}, "pad": ")";
    input += std::string(kStatusLineInputLimit - input.size() - 2, ' ');
    input += "\"}";
    ASSERT_EQ(input.size(), kStatusLineInputLimit);
    TempHome home;
    auto result = runConnector({"claude-statusline"}, home.environment(), input);
    EXPECT_EQ(result.out, "Korvo · 5h 58% left\n");
    EXPECT_TRUE(std::filesystem::exists(bridgeFilePath(home.home())));

    TempHome other;
    input.insert(input.size() - 2, " ");
    result = runConnector({"claude-statusline"}, other.environment(), input);
    EXPECT_EQ(result.out, "Korvo · no rate limits yet\n");
    EXPECT_FALSE(std::filesystem::exists(bridgeFilePath(other.home())));
}

// A writer that never closes the pipe: the hook gives up instead of hanging the status line.
TEST(ClaudeStatusLineProgram, InputThatNeverEndsIsIgnored) {
    TempHome home;
    const auto started = steady_clock::now();
    test::Subprocess hook({test::binary("korvo-connector"), "claude-statusline"},
                          home.environment(), kFullInput, true);
    auto result = hook.finish(seconds(15));
    const auto waited = steady_clock::now() - started;
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Korvo · no rate limits yet\n");
    EXPECT_FALSE(std::filesystem::exists(home.home() / ".korvo"));
    EXPECT_GE(waited, kStatusLineInputTimeout);
    EXPECT_LT(waited, kStatusLineInputTimeout + seconds(5));
}

TEST(ClaudeStatusLineProgram, UnwritablePlacesLeaveEverythingAsItWas) {
    {
        TempHome home;
        {
            std::ofstream file(home.home() / ".korvo");
            file << "a plain file";
        }
        auto result = runConnector({"claude-statusline"}, home.environment(), kFullInput);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "Korvo · 5h 76% left · 7d 59% left\n");
        EXPECT_EQ(readFile(home.home() / ".korvo"), "a plain file");
    }
    {
        TempHome home;
        std::filesystem::create_directories(bridgeFilePath(home.home()));
        auto result = runConnector({"claude-statusline"}, home.environment(), kFullInput);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(std::filesystem::is_directory(bridgeFilePath(home.home())));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.home() / ".korvo"),
                                std::filesystem::directory_iterator()),
                  1);
    }
    {
        TempHome home;
        auto environment = home.environment();
        environment["HOME"] = (home.root() / "no-such-home").string();
        auto result = runConnector({"claude-statusline"}, environment, kFullInput);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_FALSE(std::filesystem::exists(home.root() / "no-such-home"));
    }
}

TEST(ClaudeStatusLineProgram, ReplacesAnEarlierBridgeFile) {
    TempHome home;
    runConnector({"claude-statusline"}, home.environment(), kFullInput);
    auto result = runConnector({"claude-statusline"}, home.environment(),
                               R"({"rate_limits": {"five_hour": {"used_percentage": 90}}})");
    EXPECT_EQ(result.out, "Korvo · 5h 10% left\n");
    auto limits = parseStatusLineLimits(readFile(bridgeFilePath(home.home())));
    EXPECT_EQ(limits, (StatusLineLimits{window(90), std::nullopt}));
    // Input without rate limits keeps the last known limits.
    runConnector({"claude-statusline"}, home.environment(), R"({"model": {}})");
    EXPECT_EQ(parseStatusLineLimits(readFile(bridgeFilePath(home.home()))), limits);
}

} // namespace
} // namespace korvo

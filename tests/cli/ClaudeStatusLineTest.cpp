#include "cli/ClaudeStatusLine.h"

#include "PrivateHome.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::PrivateHome;
using test::readFile;

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
const char* kFullLine = "Korvo · 5h 76% left · 7d 59% left\n";
const char* kNoLimitsLine = "Korvo · no rate limits yet\n";

// Everything the hook writes for kFullInput; observed_at is the moment of writing.
const std::string kFullBridge = R"({
  "observed_at" : "NOW",
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

StatusLineWindow window(double used, std::optional<long long> resetsAt = std::nullopt) {
    return {used, resetsAt ? std::optional(instantFromUnixSeconds(*resetsAt)) : std::nullopt};
}

long entries(const std::filesystem::path& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

std::string limitInput(const std::string& fiveHour, const std::string& sevenDay = {}) {
    std::string windows = R"("five_hour": )" + fiveHour;
    if (!sevenDay.empty()) {
        windows += R"(, "seven_day": )" + sevenDay;
    }
    return R"({"rate_limits": {)" + windows + "}}";
}

struct ParseCase {
    const char* name;
    std::string input;
    std::optional<StatusLineLimits> expected;
};

TEST(ClaudeStatusLine, ParsesOnlyUsableRateLimits) {
    const std::vector<ParseCase> cases = {
        {"top level array", R"([{"rate_limits": {}}])", std::nullopt},
        {"no rate limits", R"({"model": {"id": "x"}})", std::nullopt},
        {"rate limits null", R"({"rate_limits": null})", std::nullopt},
        {"rate limits text", R"({"rate_limits": "90%"})", std::nullopt},
        {"used percentage as text", limitInput(R"({"used_percentage": "42"})"), std::nullopt},
        {"empty windows", limitInput("{}", "{}"), std::nullopt},
        {"reset text that is no date is dropped",
         limitInput(R"({"used_percentage": 42, "resets_at": "soon"})"),
         StatusLineLimits{window(42), std::nullopt}},
        {"reset as date text with offset and fraction",
         limitInput(R"({"used_percentage": 42, "resets_at": "2026-01-01T03:00:00.750+01:00"})"),
         StatusLineLimits{window(42, 1767232800), std::nullopt}},
        {"seven day only", R"({"rate_limits": {"seven_day": {"used_percentage": 0.6}}})",
         StatusLineLimits{std::nullopt, window(0.6)}},
        {"reset in milliseconds",
         limitInput(R"({"used_percentage": 1, "resets_at": 1767232800000})"),
         StatusLineLimits{window(1, 1767232800), std::nullopt}},
        {"reset in nanoseconds",
         limitInput(R"({"used_percentage": 5, "resets_at": 1767232800123456789})"),
         StatusLineLimits{window(5, 1767232800), std::nullopt}},
        {"negative reset is dropped", limitInput(R"({"used_percentage": 5, "resets_at": -20})"),
         StatusLineLimits{window(5), std::nullopt}},
        {"out of range percentages are clamped",
         limitInput(R"({"used_percentage": 140})", R"({"used_percentage": -3})"),
         StatusLineLimits{window(100), window(0)}},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(parseStatusLineLimits(testCase.input), testCase.expected) << testCase.name;
    }
}

struct HookCase {
    const char* name;
    std::string input;
    std::string line; // printed for Claude Code
    bool writes;
};

// Input as Claude Code pipes it, through the real program: exit 0 whatever comes in.
TEST(ClaudeStatusLineProgram, WritesOnlyUsableLimitsAndAlwaysExitsZero) {
    auto padded = [](std::size_t size) { // 42 % used, padded to `size` bytes
        std::string input = R"({"rate_limits": {"five_hour": {"used_percentage": 42}}, "pad": ")";
        return input + std::string(size - input.size() - 2, ' ') + "\"}";
    };
    const std::vector<HookCase> cases = {
        {"full input", kFullInput, kFullLine, true},
        {"remaining rounds halves away from zero",
         limitInput(R"({"used_percentage": 12.5})", R"({"used_percentage": 99.5})"),
         "Korvo · 5h 87% left · 7d 0% left\n", true},
        {"exactly the input limit", padded(kStatusLineInputLimit), "Korvo · 5h 58% left\n", true},
        {"one byte over the limit", padded(kStatusLineInputLimit + 1), kNoLimitsLine, false},
        {"five mebibytes", padded(5 * 1024 * 1024), kNoLimitsLine, false},
        {"nothing", "", kNoLimitsLine, false},
        {"invalid json", "not json at all", kNoLimitsLine, false},
        {"binary", std::string("\0\xff\xfe{\x01", 5), kNoLimitsLine, false},
        {"wrong types", limitInput(R"("42")", R"({"used_percentage": true})"), kNoLimitsLine,
         false},
    };
    for (const auto& testCase : cases) {
        PrivateHome home;
        const auto ran = home.run({"claude-statusline"}, QByteArray::fromStdString(testCase.input));
        EXPECT_EQ(ran.exitCode, 0) << testCase.name;
        EXPECT_EQ(ran.out, testCase.line) << testCase.name;
        EXPECT_EQ(ran.err, "") << testCase.name;
        const auto folder = home.home() / ".korvo";
        ASSERT_EQ(std::filesystem::exists(folder), testCase.writes) << testCase.name;
        if (!testCase.writes) {
            continue;
        }
        EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
        EXPECT_EQ(std::filesystem::status(bridgeFilePath(home.home())).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_EQ(entries(folder), 1) << testCase.name << ": a temporary file is left";
        const std::string written = readFile(bridgeFilePath(home.home()));
        EXPECT_EQ(parseStatusLineLimits(written), parseStatusLineLimits(testCase.input));
        if (testCase.input == kFullInput) {
            std::smatch at;
            ASSERT_TRUE(std::regex_search(written, at, std::regex("\"observed_at\" : \"(.*)\"")));
            EXPECT_LT(std::abs(QDateTime::fromString(QString::fromStdString(at[1]), Qt::ISODate)
                                   .secsTo(QDateTime::currentDateTimeUtc())),
                      60);
            EXPECT_EQ(at.prefix().str() + "\"observed_at\" : \"NOW\"" + at.suffix().str(),
                      kFullBridge);
        }
    }
}

// A writer that never closes the pipe: the hook gives up instead of hanging the status line.
TEST(ClaudeStatusLineProgram, InputThatNeverEndsIsIgnored) {
    PrivateHome home;
    QElapsedTimer waited;
    waited.start();
    auto hook = home.start({"claude-statusline"}, kFullInput, true);
    const auto ran = test::finish(*hook);
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(ran.out, kNoLimitsLine);
    EXPECT_FALSE(std::filesystem::exists(home.home() / ".korvo"));
    EXPECT_GE(waited.elapsed(), kStatusLineInputTimeout.count());
    EXPECT_LT(waited.elapsed(), kStatusLineInputTimeout.count() + 5000);
}

TEST(ClaudeStatusLineProgram, UnwritablePlacesAreLeftAsTheyWere) {
    PrivateHome fileInTheWay, folderInTheWay, noHome;
    std::ofstream(fileInTheWay.home() / ".korvo") << "a plain file";
    std::filesystem::create_directories(bridgeFilePath(folderInTheWay.home()));
    noHome.env.insert("HOME", noHome.file("gone"));
    for (const PrivateHome* home : {&fileInTheWay, &folderInTheWay, &noHome}) {
        const auto ran = home->run({"claude-statusline"}, kFullInput);
        EXPECT_EQ(ran.exitCode, 0);
        EXPECT_EQ(ran.out, kFullLine);
    }
    EXPECT_EQ(readFile(fileInTheWay.home() / ".korvo"), "a plain file");
    EXPECT_TRUE(std::filesystem::is_directory(bridgeFilePath(folderInTheWay.home())));
    EXPECT_EQ(entries(folderInTheWay.home() / ".korvo"), 1);
    EXPECT_FALSE(std::filesystem::exists(noHome.file("gone").toStdString()));
}

TEST(ClaudeStatusLineProgram, ReplacesAnEarlierBridgeFile) {
    PrivateHome home;
    home.run({"claude-statusline"}, kFullInput);
    EXPECT_EQ(home.run({"claude-statusline"}, limitInput(R"({"used_percentage": 90})").c_str()).out,
              "Korvo · 5h 10% left\n");
    const auto limits = parseStatusLineLimits(readFile(bridgeFilePath(home.home())));
    EXPECT_EQ(limits, (StatusLineLimits{window(90), std::nullopt}));
    // Input without rate limits keeps the last known limits.
    home.run({"claude-statusline"}, R"({"model": {}})");
    EXPECT_EQ(parseStatusLineLimits(readFile(bridgeFilePath(home.home()))), limits);
}

} // namespace
} // namespace korvo

#include "statusline/ClaudeStatusLine.h"

#include "support/PrivateHome.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <fstream>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::PrivateHome;
using test::readFile;
using Limits = StatusLineLimits;

// Everything Claude Code may send; only the two windows' figures may be written.
const char* kFullInput =
    R"({"session_id": "SESSION-SECRET", "model": {"display_name": "MODEL-SECRET"},)"
    R"( "transcript_path": "/home/someone/.claude/projects/x/PATH-SECRET.jsonl",)"
    R"( "cost": {"total_cost_usd": 1.25}, "rate_limits": {"opus": {"used_percentage": 12},)"
    R"( "five_hour": {"used_percentage": 23.5, "resets_at": 1767232800, "note": "NOTE-SECRET"},)"
    R"( "seven_day": {"used_percentage": 41, "resets_at": 1767744000}}})";
const char* kFullLine = "Korvo · 5h 76% left · 7d 59% left\n";
const char* kNoLimitsLine = "Korvo · no rate limits yet\n";

StatusLineWindow window(double used, std::optional<long long> resetsAt = std::nullopt) {
    return {used, resetsAt ? std::optional(instantFromUnixSeconds(*resetsAt)) : std::nullopt};
}

std::string limitInput(const std::string& fiveHour, const std::string& sevenDay = {}) {
    return R"({"rate_limits": {"five_hour": )" + fiveHour +
           (sevenDay.empty() ? "" : R"(, "seven_day": )" + sevenDay) + "}}";
}

// Input as Claude Code pipes it, through the real program, one after another in one home: exit 0
// and a status line whatever comes in; the bridge file holds the last usable limits.
TEST(ClaudeStatusLineProgram, WritesOnlyUsableLimitsAndAlwaysExitsZero) {
    auto padded = [](std::size_t size) { // 42 % used, padded to `size` bytes
        std::string input = R"({"rate_limits": {"five_hour": {"used_percentage": 42}}, "pad": ")";
        return input + std::string(size - input.size() - 2, ' ') + "\"}";
    };
    const std::string left42 = "Korvo · 5h 58% left\n";
    // clang-format off
    const std::tuple<std::string, std::string, std::optional<Limits>> cases[] = {
        {"", kNoLimitsLine, {}},
        {"not json at all", kNoLimitsLine, {}},
        {std::string("\0\xff\xfe{\x01", 5), kNoLimitsLine, {}},
        {R"([{"rate_limits": {}}])", kNoLimitsLine, {}},
        {R"({"rate_limits": "90%"})", kNoLimitsLine, {}},
        {limitInput("{}", "{}"), kNoLimitsLine, {}},
        {limitInput(R"("42")", R"({"used_percentage": true})"), kNoLimitsLine, {}},
        {padded(kStatusLineInputLimit + 1), kNoLimitsLine, {}},
        {padded(5 * 1024 * 1024), kNoLimitsLine, {}},
        {padded(kStatusLineInputLimit), left42, Limits{window(42), {}}},
        {limitInput(R"({"used_percentage": 42, "resets_at": "soon"})"), left42,
         Limits{window(42), {}}},
        {limitInput(R"({"used_percentage": 42, "resets_at": "2026-01-01T03:00:00.750+01:00"})"),
         left42, Limits{window(42, 1767232800), {}}},
        // Readers take values up to 1 as fractions: at most 1 % is written as its fraction.
        {R"({"rate_limits": {"seven_day": {"used_percentage": 0.6}}})", "Korvo · 7d 99% left\n",
         Limits{{}, window(0.006)}},
        {limitInput(R"({"used_percentage": 1, "resets_at": 1767232800000})"),
         "Korvo · 5h 99% left\n", Limits{window(0.01, 1767232800), {}}},
        {limitInput(R"({"used_percentage": 5, "resets_at": 1767232800123456789})"),
         "Korvo · 5h 95% left\n", Limits{window(5, 1767232800), {}}},
        {limitInput(R"({"used_percentage": 5, "resets_at": -20})"), "Korvo · 5h 95% left\n",
         Limits{window(5), {}}},
        // Past the last second an instant holds (2262-04-11T23:47:16Z) in any unit, the reset
        // is absent instead of wrapping to a date in 1694.
        {limitInput(R"({"used_percentage": 42, "resets_at": 9223372036})"), left42,
         Limits{window(42, 9223372036), {}}},
        {limitInput(R"({"used_percentage": 42, "resets_at": 9750003601})"), left42,
         Limits{window(42), {}}},
        {limitInput(R"({"used_percentage": 42, "resets_at": 9750003601000})"), left42,
         Limits{window(42), {}}},
        {limitInput(R"({"used_percentage": 42, "resets_at": 9750003601000000})"), left42,
         Limits{window(42), {}}},
        {limitInput(R"({"used_percentage": 42, "resets_at": 9750003601000000000})"), left42,
         Limits{window(42), {}}},
        {limitInput(R"({"used_percentage": 140})", R"({"used_percentage": -3})"),
         "Korvo · 5h 0% left · 7d 100% left\n", Limits{window(100), window(0)}},
        // Remaining percents round halves away from zero.
        {limitInput(R"({"used_percentage": 12.5})", R"({"used_percentage": 99.5})"),
         "Korvo · 5h 87% left · 7d 0% left\n", Limits{window(12.5), window(99.5)}},
        // Input without limits shows the kept ones, read back from their fractions.
        {limitInput(R"({"used_percentage": 0.5, "resets_at": 4102444800})"),
         "Korvo · 5h 99% left\n", Limits{window(0.005, 4102444800), {}}},
        {R"({"model": {}})", "Korvo · 5h 99% left\n", {}},
        {kFullInput, kFullLine, Limits{window(23.5, 1767232800), window(41, 1767744000)}},
        // Kept windows whose reset times have passed show as reset.
        {R"({"model": {}})", "Korvo · 5h 100% left · 7d 100% left\n", {}},
    };
    // clang-format on
    PrivateHome home;
    const auto folder = home.home() / ".korvo", bridge = bridgeFilePath(home.home());
    std::optional<Limits> last;
    for (const auto& [input, line, limits] : cases) {
        SCOPED_TRACE(input.substr(0, 100));
        const auto ran = home.run({"claude-statusline"}, QByteArray::fromStdString(input));
        EXPECT_EQ(ran.exitCode, 0);
        EXPECT_EQ(ran.out, line);
        EXPECT_EQ(ran.err, "");
        last = limits ? limits : last;
        ASSERT_EQ(std::filesystem::exists(folder), last.has_value());
        if (last) {
            EXPECT_EQ(parseStatusLineLimits(readFile(bridge)), last);
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1)
                << "a temporary file is left";
        }
    }
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(std::filesystem::status(bridge).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Everything written for the full input, spaces aside; observed_at is the moment of writing.
    std::string written = readFile(bridge);
    std::smatch at;
    ASSERT_TRUE(std::regex_search(written, at, std::regex("\"observed_at\" : \"(.*)\"")));
    EXPECT_LT(std::abs(QDateTime::fromString(QString::fromStdString(at[1]), Qt::ISODate)
                           .secsTo(QDateTime::currentDateTimeUtc())),
              60);
    written = at.prefix().str() + "\"observed_at\":\"NOW\"" + at.suffix().str();
    std::erase_if(written, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    EXPECT_EQ(written, R"({"observed_at":"NOW","rate_limits":{"five_hour":{"resets_at":)"
                       R"("2026-01-01T02:00:00Z","used_percentage":23.5},"seven_day":{)"
                       R"("resets_at":"2026-01-07T00:00:00Z","used_percentage":41}}})");
}

// A writer that never closes the pipe: the hook gives up instead of hanging the status line.
TEST(ClaudeStatusLineProgram, InputThatNeverEndsIsIgnored) {
    PrivateHome home;
    QElapsedTimer waited;
    waited.start();
    const auto ran = test::finish(*home.start({"claude-statusline"}, kFullInput, true));
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
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(folderInTheWay.home() / ".korvo"), {}),
        1);
    EXPECT_FALSE(std::filesystem::exists(noHome.file("gone").toStdString()));
}

} // namespace
} // namespace korvo

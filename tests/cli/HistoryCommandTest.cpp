#include "cli/CommandLine.h"
#include "cli/HistoryText.h"
#include "core/UsageHistory.h"
#include "support/PrivateHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;
using test::PrivateHome;
using ::testing::HasSubstr;

// 2026-03-01T09:00:00Z.
constexpr Instant kStart = instantFromUnixSeconds(1772355600);

TEST(HistoryText, TableCsvAndJson) {
    const std::vector<UsageHistoryPoint> points = {
        {"claude-code", "5h", kStart, kStart + 5h, 42.4, 120000, 18000, std::nullopt, 3.421},
        {"codex", "Weekly, team", kStart + 90s, std::nullopt, std::nullopt, 10, std::nullopt,
         std::nullopt, std::nullopt},
    };
    const QTimeZone utc = QTimeZone::utc();
    struct Case {
        HistoryRequest::Format format;
        const char* text;
    };
    const Case cases[] = {
        {HistoryRequest::Format::table,
         "Time              Tool         Window        Used  Resets             Input  Output  "
         "Cached   Cost\n"
         "2026-03-01 09:00  claude-code  5h             42%  2026-03-01 14:00  120000   18000  "
         "     -  $3.42\n"
         "2026-03-01 09:01  codex        Weekly, team     -  -                     10       -  "
         "     -      -\n"},
        {HistoryRequest::Format::csv,
         "at,tool,window,usedPercent,resetAt,inputTokens,outputTokens,cachedInputTokens,costUsd\n"
         "2026-03-01T09:00:00Z,claude-code,5h,42.4,2026-03-01T14:00:00Z,120000,18000,,3.421\n"
         "2026-03-01T09:01:30Z,codex,\"Weekly, team\",,,10,,,\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(historyText(points, c.format, utc).toStdString(), c.text);
    }
    const QJsonArray json =
        QJsonDocument::fromJson(historyText(points, HistoryRequest::Format::json, utc).toUtf8())
            .array();
    ASSERT_EQ(json.size(), 2);
    EXPECT_EQ(json[0].toObject(), (QJsonObject{{"at", "2026-03-01T09:00:00Z"},
                                               {"tool", "claude-code"},
                                               {"window", "5h"},
                                               {"resetAt", "2026-03-01T14:00:00Z"},
                                               {"usedPercent", 42.4},
                                               {"inputTokens", 120000},
                                               {"outputTokens", 18000},
                                               {"costUsd", 3.421}}));
    EXPECT_EQ(json[1].toObject(), (QJsonObject{{"at", "2026-03-01T09:01:30Z"},
                                               {"tool", "codex"},
                                               {"window", "Weekly, team"},
                                               {"inputTokens", 10}}));
}

TEST(HistoryText, Ages) {
    const std::pair<const char*, std::optional<std::chrono::seconds>> cases[] = {
        {"30m", 30min},       {"12h", 12h},          {"7d", 7 * 24h},       {"2w", 14 * 24h},
        {"7", std::nullopt},  {"d", std::nullopt},   {"-1d", std::nullopt}, {"0d", std::nullopt},
        {"7x", std::nullopt}, {"+7d", std::nullopt},
    };
    for (const auto& [text, age] : cases) {
        EXPECT_EQ(parseHistoryAge(QString::fromLatin1(text)), age) << text;
    }
}

std::string hookInput(int used, long long resetsAt) {
    return R"({"rate_limits": {"five_hour": {"used_percentage": )" + std::to_string(used) +
           R"(, "resets_at": )" + std::to_string(resetsAt) + "}}}";
}

// The program records what it collects, `history` prints it, `status` prints the pace made
// from it.
TEST(HistoryCommand, RecordsPrintsAndProjects) {
    PrivateHome home;
    const auto now = std::chrono::system_clock::now();
    const long long nowSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const long long resetAt = nowSeconds + 4 * 3600;

    // An hour of readings at 20 % an hour, left by earlier collections.
    {
        UsageHistory history(home.file("XDG_DATA_HOME").toStdString() +
                             "/korvo-connector/usage-history.sqlite");
        for (int minute = 60; minute > 0; minute -= 6) {
            ProviderUsage row;
            row.id = "claude-code";
            row.window =
                UsageWindow{UsageWindowKind::rolling, "5h", {}, instantFromUnixSeconds(resetAt)};
            row.usage.usedPercent = 40 - minute / 3.0;
            ASSERT_TRUE(history.record({row}, instantFromUnixSeconds(nowSeconds - minute * 60)));
        }
    }
    ASSERT_EQ(home.run({"claude-statusline"}, hookInput(40, resetAt).c_str()).exitCode, 0);
    const auto status = home.run({"status"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    // 60 % left at 20 % an hour: the limit in three hours, an hour before the reset.
    EXPECT_THAT(status.out, testing::ContainsRegex("\nClaude Code \\(5h\\): At this pace: "
                                                   "limit at [0-9]+:[0-9]+, (59 min|1 h|1 h 1 min) "
                                                   "before the reset\n"));

    const auto csv = home.run({"history", "--format", "csv", "--tool", "claude-code"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1 + 10 + 1) << csv.out;
    EXPECT_THAT(csv.out, HasSubstr(",claude-code,5h,40,"));

    const auto json = home.run({"history", "--format", "json", "--since", "31m"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array().size(), 6);

    EXPECT_THAT(home.run({"history", "--tool", "codex"}).out, HasSubstr("No usage recorded since"));
    EXPECT_THAT(home.run({"history"}).out, HasSubstr("claude-code  5h"));

    struct Refused {
        QStringList arguments;
        const char* error;
    };
    const Refused refused[] = {
        {{"status", "--format", "csv"}, "--tool, --since and --format belong to 'history'."},
        {{"history", "--since", "7x"}, "--since 7x: give an age such as 30m, 12h, 7d or 2w."},
        {{"history", "--format", "xml"}, "--format xml: choose table, csv or json."},
        {{"history", "--tool", "a", "--tool", "b"}, "--tool given more than once."},
    };
    for (const Refused& r : refused) {
        const auto ran = home.run(r.arguments);
        EXPECT_EQ(ran.exitCode, 2) << r.error;
        EXPECT_THAT(ran.err, HasSubstr(r.error));
    }
}

} // namespace
} // namespace korvo

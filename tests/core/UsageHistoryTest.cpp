#include "core/UsageHistory.h"

#include "support/TestApplication.h"

#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace korvo {
namespace {

using namespace std::chrono_literals;

// 2026-03-01T09:00:00Z.
constexpr Instant kStart = instantFromUnixSeconds(1772355600);

ProviderUsage rowOf(const std::string& id, std::optional<double> used,
                    std::optional<Instant> resetAt = kStart + 5h,
                    std::optional<double> input = std::nullopt) {
    ProviderUsage row;
    row.id = id;
    row.displayName = id;
    row.window = UsageWindow{UsageWindowKind::rolling, "5h", {}, resetAt};
    row.usage.usedPercent = used;
    row.usage.inputTokens = input;
    return row;
}

std::vector<double> usedOf(const std::vector<UsageHistoryPoint>& points) {
    std::vector<double> used;
    for (const auto& point : points) {
        used.push_back(point.usedPercent.value_or(-1));
    }
    return used;
}

class UsageHistoryTest : public ::testing::Test {
protected:
    std::filesystem::path file() const {
        return std::filesystem::path(dir_.path().toStdString()) / "data" / "history.sqlite";
    }
    QTemporaryDir dir_;
};

// Each case is a series of readings of one tool and the used percentages stored in the end.
TEST_F(UsageHistoryTest, OnePointPerChangeAtMostOnePerMinute) {
    struct Reading {
        std::chrono::seconds at;
        std::optional<double> used;
        std::optional<double> input = std::nullopt;
    };
    struct Case {
        const char* name;
        std::vector<Reading> readings;
        std::vector<double> stored;
    };
    const Case cases[] = {
        {"unchanged readings are stored once", {{0s, 10}, {30s, 10}, {60s, 10}, {90s, 10}}, {10}},
        {"each change is a point", {{0s, 10}, {60s, 11}, {120s, 12}}, {10, 11, 12}},
        {"changes within a minute: the latest stays",
         {{0s, 10}, {20s, 11}, {40s, 12}, {60s, 12}},
         {12}},
        {"a token count alone is a change", {{0s, 10, 100}, {60s, 10, 200}}, {10, 10}},
        {"back to an earlier value is a change", {{0s, 10}, {60s, 11}, {120s, 10}}, {10, 11, 10}},
        {"a row without figures is not stored", {{0s, std::nullopt}}, {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tool = "tool" + std::to_string(n++);
        UsageHistory history(file());
        for (const Reading& reading : c.readings) {
            ASSERT_TRUE(history.record({rowOf(tool, reading.used, kStart + 5h, reading.input)},
                                       kStart + reading.at));
        }
        EXPECT_EQ(usedOf(history.points(tool, kStart)), c.stored);
    }
}

TEST_F(UsageHistoryTest, AResetStartsANewSeries) {
    UsageHistory history(file());
    ASSERT_TRUE(history.record({rowOf("codex", 40)}, kStart));
    ASSERT_TRUE(history.record({rowOf("codex", 80)}, kStart + 1h));
    // A reset time a minute off is the same window; hours off is the next one.
    ASSERT_TRUE(history.record({rowOf("codex", 85, kStart + 5h + 60s)}, kStart + 2h));
    ASSERT_TRUE(history.record({rowOf("codex", 3, kStart + 10h)}, kStart + 5h + 10min));
    ASSERT_TRUE(history.record({rowOf("codex", 5, kStart + 10h)}, kStart + 5h + 20min));
    const std::vector<UsagePoint> current = history.currentWindow(rowOf("codex", 5, kStart + 10h));
    ASSERT_EQ(current.size(), 2u);
    EXPECT_EQ(current[0].usedPercent, 3);
    EXPECT_EQ(current[0].resetAt, kStart + 10h);
    EXPECT_EQ(usedOf(history.points("codex", kStart)), (std::vector<double>{40, 80, 85, 3, 5}));

    // Without reset times, a clear drop is the reset.
    ASSERT_TRUE(history.record({rowOf("gemini", 60, std::nullopt)}, kStart));
    ASSERT_TRUE(history.record({rowOf("gemini", 59.5, std::nullopt)}, kStart + 1min));
    ASSERT_TRUE(history.record({rowOf("gemini", 2, std::nullopt)}, kStart + 2min));
    EXPECT_EQ(history.currentWindow(rowOf("gemini", 2, std::nullopt)).size(), 1u);
}

TEST_F(UsageHistoryTest, ThinsPastADayAndForgetsPastTheRetention) {
    UsageHistory history(file());
    // Two days of a reading each minute, every one a change.
    for (int minute = 0; minute < 2 * 24 * 60; ++minute) {
        ASSERT_TRUE(history.record({rowOf("claude-code", 10, std::nullopt, minute)},
                                   kStart + std::chrono::minutes(minute)));
    }
    const Instant now = kStart + 48h;
    history.compact(now);
    const auto points = history.points(std::nullopt, kStart);
    std::size_t older = 0;
    std::size_t recent = 0;
    for (const auto& point : points) {
        (point.at < now - 24h ? older : recent) += 1;
    }
    // The last day keeps every minute; the day before one point per quarter hour.
    EXPECT_EQ(recent, 24u * 60);
    EXPECT_EQ(older, 24u * 4);

    history.compact(now + 35 * 24h);
    EXPECT_TRUE(history.points(std::nullopt, kStart).empty());
}

TEST_F(UsageHistoryTest, PrivateFileUnderTheSizeCap) {
    UsageHistory::Limits limits;
    limits.maxBytes = 128 * 1024;
    limits.fullDetail = std::chrono::hours(24 * 30); // nothing thinned
    UsageHistory history(file(), limits);
    // Far more than fits: a token count that changes every minute for four days.
    for (int minute = 0; minute < 4 * 24 * 60; minute += 1) {
        ASSERT_TRUE(history.record({rowOf("codex", 10, std::nullopt, minute)},
                                   kStart + std::chrono::minutes(minute)))
            << minute;
    }
    EXPECT_LE(std::filesystem::file_size(file()), std::uintmax_t(limits.maxBytes));
    const auto points = history.points("codex", kStart);
    ASSERT_FALSE(points.empty());
    EXPECT_EQ(points.back().inputTokens, 4 * 24 * 60 - 1);
    // Room was made from the oldest end.
    EXPECT_GT(points.front().at, kStart + 1h);

    struct stat info {};
    for (const char* suffix : {"", "-wal", "-shm"}) {
        SCOPED_TRACE(suffix);
        ASSERT_EQ(::stat((file().string() + suffix).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

TEST_F(UsageHistoryTest, ACorruptFileIsReplacedAndRecordingGoesOn) {
    std::filesystem::create_directories(file().parent_path());
    const std::string contents[] = {
        "this is not a database",
        std::string("SQLite format 3\0", 16) + std::string(8192, '\x5a'),
    };
    for (const std::string& garbage : contents) {
        std::ofstream(file(), std::ios::binary | std::ios::trunc) << garbage;
        std::vector<QString> warnings;
        static std::vector<QString>* sink = nullptr;
        sink = &warnings;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& m) {
                if (type == QtWarningMsg) {
                    sink->push_back(m);
                }
            });
        UsageHistory history(file());
        EXPECT_TRUE(history.record({rowOf("codex", 12)}, kStart));
        qInstallMessageHandler(previous);
        EXPECT_EQ(usedOf(history.points("codex", kStart)), std::vector<double>{12});
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_TRUE(warnings[0].contains(u"replaced"_s)) << warnings[0];
    }
}

// The second writer of the test below: records the same readings as the first.
void recordSharedReadings(const std::filesystem::path& file) {
    UsageHistory history(file);
    for (int i = 0; i < 2000; ++i) {
        const Instant at = kStart + std::chrono::seconds(30 * i);
        ASSERT_TRUE(history.record({rowOf("claude-code", i / 4), rowOf("codex", i / 8)}, at));
    }
}

TEST_F(UsageHistoryTest, WriterProcess) {
    const char* file = std::getenv("KORVO_HISTORY_WRITER");
    if (!file) {
        GTEST_SKIP() << "run by TwoProcessesWriteAtOnce";
    }
    recordSharedReadings(file);
}

TEST_F(UsageHistoryTest, TwoProcessesWriteAtOnce) {
    QProcess other;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"KORVO_HISTORY_WRITER"_s, QString::fromStdString(file().string()));
    other.setProcessEnvironment(env);
    other.start(u"/proc/self/exe"_s, {u"--gtest_filter=UsageHistoryTest.WriterProcess"_s});
    ASSERT_TRUE(other.waitForStarted());
    recordSharedReadings(file());
    ASSERT_TRUE(other.waitForFinished(60000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardOutput().toStdString();

    UsageHistory history(file());
    // One point per change: 500 values of one tool, 250 of the other, none twice.
    const auto claude = history.points("claude-code", kStart);
    const auto codex = history.points("codex", kStart);
    EXPECT_EQ(claude.size(), 500u);
    EXPECT_EQ(codex.size(), 250u);
    for (std::size_t i = 1; i < claude.size(); ++i) {
        EXPECT_LT(claude[i - 1].usedPercent, claude[i].usedPercent);
    }
}

} // namespace
} // namespace korvo

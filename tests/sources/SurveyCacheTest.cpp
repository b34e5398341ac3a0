#include "sources/io/SurveyCache.h"

#include "AdapterCases.h"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo {
namespace {

using namespace korvo::test;

const std::set<std::string, std::less<>> kJsonl{"jsonl"};

void append(const std::filesystem::path& file) {
    std::ofstream(file, std::ios::app) << "{}\n";
}

// A watched survey answers what a whole walk answers after every kind of change, including
// writes to old files in old folders (a resumed session), times that disagree with their folders,
// equal times across folders, and changes the watch reports only as an overflow.
TEST(SurveyCache, AnswersAsAWholeWalkAfterEveryChange) {
    TestHome home;
    for (int day = 1; day <= 6; ++day) {
        for (int n = 0; n < 4; ++n) {
            TestHome::touch(home.write("p/2025/12/0" + std::to_string(day) + "/r" +
                                           std::to_string(n) + ".jsonl",
                                       ""),
                            1'764'547'200 + day * 86'400 + n * 60);
        }
    }
    for (int n = 0; n < 25; ++n) { // more files in one folder than a survey keeps
        TestHome::touch(home.write("p/projects/big/s" + std::to_string(n) + ".jsonl", ""),
                        1'765'000'000 + (n * 7919) % 25 * 10);
    }
    home.build({"file p/projects/big/notes.txt", "file p2/2026/01/01/other.jsonl", "link q=p"});
    SurveyCache wide;   // keeps 20 a folder
    SurveyCache narrow; // keeps 3
    const auto compare = [&](const std::string& step) {
        const auto root = home / "q";
        for (auto [cache, countLimit, recentLimit] :
             std::vector<std::tuple<SurveyCache*, std::size_t, std::size_t>>{
                 {&wide, 500, 20}, {&wide, 500, 0}, {&wide, 7, 5}, {&narrow, 2, 3}}) {
            const FileSurvey whole = surveyFiles(root, kJsonl, countLimit, recentLimit);
            const FileSurvey watched = cache->survey(root, kJsonl, countLimit, recentLimit);
            EXPECT_EQ(watched.count, whole.count) << step << " limit " << recentLimit;
            EXPECT_EQ(watched.recent, whole.recent) << step << " limit " << recentLimit;
        }
    };
    EXPECT_EQ(wide.survey(home / "q", kJsonl, 500, 20).count, 49u);
    EXPECT_FALSE(wide.watching()) << "a single survey sets up no watch";
    compare("the first surveys");
    compare("the second surveys");
    ASSERT_TRUE(wide.watching());
    ASSERT_TRUE(narrow.watching());

    const std::vector<std::pair<std::string, std::function<void()>>> steps = {
        {"an old session resumed", [&] { append(home / "p/2025/12/01/r0.jsonl"); }},
        {"the newest file set into the past",
         [&] { TestHome::touch(home / "p/2025/12/01/r0.jsonl", 1); }},
        {"a file added to a watched folder", [&] { home.write("p/2025/12/03/added.jsonl", "{}"); }},
        {"a new day folder", [&] { home.write("p/2026/01/02/today.jsonl", "{}"); }},
        {"equal times in several folders",
         [&] {
             for (const char* file : {"p/2025/12/05/r1.jsonl", "p/projects/big/s3.jsonl",
                                      "p/2025/12/02/r2.jsonl", "p/2026/01/02/today.jsonl"}) {
                 TestHome::touch(home / file, 1'800'000'000);
             }
         }},
        {"a file renamed in its folder and moved to another",
         [&] {
             std::filesystem::rename(home / "p/2025/12/05/r1.jsonl",
                                     home / "p/2025/12/05/renamed.jsonl");
             std::filesystem::rename(home / "p/projects/big/s3.jsonl",
                                     home / "p/2025/12/06/moved.jsonl");
         }},
        {"the newest file removed",
         [&] { std::filesystem::remove(home / "p/2025/12/02/r2.jsonl"); }},
        {"a folder removed", [&] { std::filesystem::remove_all(home / "p/2025/12/04"); }},
        {"a folder replaced by a link",
         [&] {
             std::filesystem::remove_all(home / "p/2025/12/03");
             std::filesystem::create_directory_symlink(home / "p2", home / "p/2025/12/03");
         }},
        {"the watch queue overflowing before a change",
         [&] {
             std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
             long events = 16'384;
             limit >> events;
             for (long n = 0; n <= events; ++n) { // alternate files so events do not merge
                 TestHome::touch(
                     home / (n % 2 ? "p/projects/big/s1.jsonl" : "p/projects/big/s2.jsonl"),
                     1'700'000'000 + n);
             }
             append(home / "p/2025/12/06/r3.jsonl");
         }},
        {"the root pointed at another tree",
         [&] {
             std::filesystem::remove(home / "q");
             std::filesystem::create_directory_symlink(home / "p2", home / "q");
         }},
    };
    for (const auto& [step, change] : steps) {
        change();
        compare(step);
        EXPECT_TRUE(wide.watching()) << step;
    }
}

// A write through a memory mapping changes a file's time without any event: the tree is walked
// whole again once kWholeWalkInterval has passed. Surveys that far apart set up no watch.
TEST(SurveyCache, WalksWholeAgainAfterItsInterval) {
    TestHome home;
    TestHome::touch(home.write("p/a/old.jsonl", "{}\n"), 1'700'000'000);
    TestHome::touch(home.write("p/b/new.jsonl", "{}\n"), 1'700'000'100);
    Instant now = Instant{} + std::chrono::hours(1);
    SurveyCache cache([&] { return now; });
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(cache.survey(home / "p", kJsonl, 9, 1).recent.front().filename(), "new.jsonl");
    }
    ASSERT_TRUE(cache.watching());
    const int fd = ::open((home / "p/a/old.jsonl").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    void* mapped = ::mmap(nullptr, 3, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    static_cast<char*>(mapped)[0] = '[';
    ::msync(mapped, 3, MS_SYNC);
    ::munmap(mapped, 3);
    ::close(fd);
    if (surveyFiles(home / "p", kJsonl, 9, 1).recent.front().filename() != "old.jsonl") {
        GTEST_SKIP() << "this file system does not date writes through a mapping";
    }
    cache.survey(home / "p", kJsonl, 9, 1); // may still answer from before the write
    now += SurveyCache::kWholeWalkInterval;
    EXPECT_EQ(cache.survey(home / "p", kJsonl, 9, 1).recent.front().filename(), "old.jsonl");
    EXPECT_FALSE(cache.watching()) << "surveys that far apart need no watch";
    cache.survey(home / "p", kJsonl, 9, 1);
    EXPECT_TRUE(cache.watching());
}

// Files a selection leaves out by name are neither counted nor listed, by a whole walk or by a
// watched survey, however recently they were written.
TEST(SurveyCache, LeavesOutExcludedNames) {
    TestHome home;
    home.build({"file p/a/s.jsonl", "touch p/a/s.jsonl=1767600000", "file p/a/sub/journal.jsonl",
                "touch p/a/sub/journal.jsonl=1767609000", "file p/a/sub/agent-1.jsonl",
                "touch p/a/sub/agent-1.jsonl=1767601000"});
    const FileSelection selection{FileSelection::Names{"jsonl"},
                                  FileSelection::Names{"journal.jsonl"}};
    const std::vector<std::filesystem::path> expected{home / "p/a/sub/agent-1.jsonl",
                                                      home / "p/a/s.jsonl"};
    SurveyCache cache;
    for (int call = 0; call < 3; ++call) {
        const FileSurvey whole = surveyFiles(home / "p", selection, 500, 20);
        const FileSurvey watched = cache.survey(home / "p", selection, 500, 20);
        EXPECT_EQ(whole.count, 2u) << call;
        EXPECT_EQ(whole.recent, expected) << call;
        EXPECT_EQ(watched.count, 2u) << call;
        EXPECT_EQ(watched.recent, expected) << call;
        append(home / "p/a/sub/journal.jsonl");
        TestHome::touch(home / "p/a/sub/journal.jsonl", 1767609000 + call);
    }
    EXPECT_TRUE(cache.watching());
}

} // namespace
} // namespace korvo

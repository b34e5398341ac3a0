#include "sources/io/FileReaders.h"

#include "AdapterCases.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <vector>

namespace korvo {
namespace {

using namespace korvo::test;

const std::set<std::string, std::less<>> kJsonl{"jsonl"};

// Every kind of path a reader may meet; open() refuses a socket for every user, root included.
TEST(Readers, SizeLimitsAndFileKinds) {
    TestHome home;
    const std::string exact(kSmallFileLimit, 'x');
    const auto socketPath = home / "socket.json";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.native().size(), sizeof address.sun_path);
    std::copy(socketPath.native().begin(), socketPath.native().end(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::mkfifo((home / "fifo.json").c_str(), 0600), 0);
    std::filesystem::create_symlink(home.write("target.json", "{}"), home / "link.json");
    const auto locked = home.write("locked.json", "{}");
    ::chmod(locked.c_str(), 0);
    const std::vector<std::tuple<const char*, std::filesystem::path, std::optional<std::size_t>>>
        cases = {
            {"empty file", home.write("empty.json", ""), 0},
            {"exactly the limit", home.write("exact.json", exact), kSmallFileLimit},
            {"one byte over", home.write("over.json", exact + "x"), std::nullopt},
            {"directory", home.mkdir("dir.json"), std::nullopt},
            {"missing", home / "missing.json", std::nullopt},
            {"link to a file", home / "link.json", 2},
            {"fifo, never waited on", home / "fifo.json", std::nullopt},
            {"socket", socketPath, std::nullopt},
            {"mode 000", locked, modesAreIgnored() ? std::optional<std::size_t>(2) : std::nullopt},
        };
    for (const auto& [name, path, size] : cases) {
        const auto bytes = readSmallFile(path);
        EXPECT_EQ(bytes ? std::optional(bytes->size()) : std::nullopt, size) << name;
        EXPECT_GE(bytes ? bytes->capacity() - bytes->size() : kParsePadding, kParsePadding) << name;
    }
    EXPECT_TRUE(readTailLines(socketPath, 10).empty());
    EXPECT_EQ(surveyFiles(home.path(), {"json"}, 10, 0).count, 5u); // regular files only
    ::close(fd);
}

// The window is the last 512 KiB: a line starting exactly there is kept, one starting a byte
// earlier is not, and nothing before the window is read.
TEST(ReadTailLines, LastNonEmptyLinesOfTheWindowInFileOrder) {
    TestHome home;
    const std::string before(3'000'000, 'b');
    const std::string first(kTailWindowBytes - 6, 'w');
    const auto atStart = home.write("start.jsonl", before + "\n" + first + "\nlast\n");
    const auto early = home.write("early.jsonl", before + "\n" + first + "w\nlast\n");
    const auto log = home.write("log.jsonl", "a\n\nb\nc\n\n");
    // "é" is two bytes; a run of them puts the window's first byte inside a character.
    std::string cut;
    while (cut.size() < kTailWindowBytes + 1001) {
        cut += "\xC3\xA9";
    }
    const std::vector<
        std::tuple<const char*, std::size_t, std::vector<std::string>, std::filesystem::path>>
        cases = {
            {"none wanted", 0, {}, log},
            {"the last two", 2, {"b", "c"}, log},
            {"all", 3, {"a", "b", "c"}, log},
            {"fewer than wanted", 50, {"a", "b", "c"}, log},
            {"a character cut by the window", 9, {"x"}, home.write("cut.jsonl", cut + "\nx\n")},
            {"invalid UTF-8", 9, {}, home.write("bad.jsonl", "{\"a\":1}\n{\"b\":\"\xFF\xFE\"}\n")},
            {"one line longer than the window", 9, {}, home.write("long.jsonl", before + "\n")},
            {"empty file", 9, {}, home.write("empty.jsonl", "")},
            {"directory", 9, {}, home.mkdir("dir.jsonl")},
            {"missing", 9, {}, home / "missing.jsonl"},
            {"a line starting where the window starts", 9, {first, "last"}, atStart},
            {"a line starting a byte earlier", 9, {"last"}, early},
        };
    for (const auto& [name, maxLines, expected, path] : cases) {
        const auto tail = readTailLines(path, maxLines);
        EXPECT_EQ(std::vector<std::string>(tail.begin(), tail.end()), expected) << name;
    }
    EXPECT_LE(readTailLines(atStart, 9).byteCount(), kTailWindowBytes + 1);
    const auto padded = readTailLines(home.write("pad.jsonl", "{\"a\":1}"), 5); // no last break
    ASSERT_EQ(padded.size(), 1u);
    const char* end = padded.lines().back().data() + padded.lines().back().size();
    EXPECT_EQ(std::string(end, kParsePadding), std::string(kParsePadding, '\0'));
}

// Regular files only, hidden ones and upper-case extensions included; a loop is never followed;
// a root that is a link is walked; equal times keep the order in which the walk meets the files.
TEST(CountAndRecentFiles, WalkTheTreeWithinTheirLimits) {
    TestHome home;
    TestHome::touch(home.write("p/2026/01/old.jsonl", ""), 1'700'000'000);
    TestHome::touch(home.write("p/.hidden/new.jsonl", ""), 1'700'000'300);
    TestHome::touch(home.write("p/mid.JSONL", ""), 1'700'000'100);
    TestHome::touch(home.write("p/deep/er/d.jsonl", ""), 1'699'000'000);
    TestHome::touch(home.write("p/notes.txt", ""), 1'700'000'900);
    home.build({"file p/.jsonl", "dir p/folder.jsonl", "link p/link.jsonl=p/mid.JSONL",
                "link p/deep/loop=p", "link q=p"});
    std::string deep = "z";
    for (int level = 0; level < 66; ++level) { // files below 64 levels are not reached
        TestHome::touch(home.write(deep + "/" + std::to_string(level) + ".jsonl", ""), 1);
        deep += "/z";
    }
    for (const auto& [root, limit, expected] : std::vector<std::tuple<const char*, int, int>>{
             {"p", 500, 4}, {"p", 3, 3}, {"p", 1, 1}, {"p", 0, 1}, {"q", 9, 4}, {"z", 500, 65}}) {
        EXPECT_EQ(surveyFiles(home / root, kJsonl, limit, 0).count, std::size_t(expected))
            << root << limit;
    }
    std::vector<std::string> names;
    for (const auto& file : surveyFiles(home / "q", kJsonl, 1, 20).recent) {
        names.push_back(file.lexically_relative(home.path()).string());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"q/.hidden/new.jsonl", "q/mid.JSONL",
                                               "q/2026/01/old.jsonl", "q/deep/er/d.jsonl"}));
    const auto all = surveyFiles(home / "z", kJsonl, 1, 500).recent;
    for (std::size_t level = 0; level < all.size(); ++level) { // files first, then subfolders
        EXPECT_EQ(all[level].filename(), std::to_string(level) + ".jsonl");
    }
    EXPECT_EQ(all.size(), 65u);
    EXPECT_EQ(surveyFiles(home / "z", kJsonl, 1, 3).recent,
              std::vector(all.begin(), all.begin() + 3));
    for (const auto& notAFolder : {home / "missing", home / "p/mid.JSONL"}) {
        EXPECT_EQ(surveyFiles(notAFolder, kJsonl, 500, 0).count, 0u);
        EXPECT_TRUE(surveyFiles(notAFolder, kJsonl, 1, 20).recent.empty());
    }
}

TEST(FindExecutable, OnlyExecutableRegularFilesCount) {
    TestHome home;
    home.build({"exe b/tool", "file a/tool=not executable", "dir c/tool"});
    const auto tool = home / "b/tool";
    const std::vector<std::filesystem::path> searchPaths = {home / "c", home / "a", home / "b"};
    const std::vector<std::pair<std::string, std::optional<std::filesystem::path>>> cases = {
        {"tool", tool},
        {"absent", std::nullopt},
        {"", std::nullopt},
        {tool.string(), tool},
        {(home / "a/tool").string(), std::nullopt},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(findExecutable(name, searchPaths), expected) << name;
    }
}

TEST(DisplayPath, AbbreviatesTheHomeOnlyAtComponentBoundaries) {
    const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
        {"/home/ann/.codex/sessions", "/home/ann", "~/.codex/sessions"},
        {"/home/ann/.codex/sessions", "/home/ann/", "~/.codex/sessions"},
        {"/home/ann", "/home/ann", "~"},
        {"/home/anna/x", "/home/ann", "/home/anna/x"},
        {"/opt/x", "/home/ann", "/opt/x"},
        {"/opt/x", "/", "/opt/x"},
    };
    for (const auto& [path, home, expected] : cases) {
        EXPECT_EQ(displayPath(path, home), expected) << path << " in " << home;
    }
}

} // namespace
} // namespace korvo

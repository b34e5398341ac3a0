#include "sources/FileReaders.h"

#include "TestHome.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <vector>

namespace korvo {
namespace {

using namespace korvo::testing;

const std::set<std::string, std::less<>> kJsonl{"jsonl"};

// Every kind of path a reader may meet; open() refuses a socket for every user, root included.
TEST(Readers, SizeLimitsAndFileKinds) {
    ScratchHome home;
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
    struct Case {
        const char* name;
        std::filesystem::path path;
        std::optional<std::size_t> expectedSize;
    };
    const std::vector<Case> cases = {
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
    for (const auto& c : cases) {
        const auto bytes = readSmallFile(c.path);
        ASSERT_EQ(bytes.has_value(), c.expectedSize.has_value()) << c.name;
        if (bytes) {
            EXPECT_EQ(bytes->size(), *c.expectedSize) << c.name;
            EXPECT_GE(bytes->capacity() - bytes->size(), kParsePadding) << c.name;
        }
    }
    EXPECT_TRUE(readTailLines(socketPath, 10).empty());
    EXPECT_EQ(countFiles(home.path(), {"json"}, 10), 5u); // regular files only
    ::close(fd);
}

std::vector<std::string> linesOf(const TailLines& tail) {
    return {tail.begin(), tail.end()};
}

TEST(ReadTailLines, KeepsTheLastNonEmptyLinesInFileOrder) {
    ScratchHome home;
    const auto file = home.write("log.jsonl", "a\n\nb\nc\n\n");
    struct Case {
        std::size_t maxLines;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {0, {}},
        {2, {"b", "c"}},
        {3, {"a", "b", "c"}},
        {50, {"a", "b", "c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(linesOf(readTailLines(file, c.maxLines)), c.expected) << c.maxLines;
    }
}

// Lines of exactly 100 bytes: "line NNNNNNNN" padded with dots, then a line break.
std::string numberedLines(std::size_t count) {
    std::string text;
    text.reserve(count * 100);
    for (std::size_t i = 0; i < count; ++i) {
        std::string line = "line " + std::to_string(i);
        line.resize(99, '.');
        text += line;
        text += '\n';
    }
    return text;
}

TEST(ReadTailLines, ReadsOnlyTheWindowAtTheEndOfALargeFile) {
    ScratchHome home;
    // 20,000 lines = 2,000,000 bytes; the window starts 524,288 bytes before the end, inside
    // line 14757 (byte 1,475,712), so the first whole line in it is line 14758.
    const auto file = home.write("big.jsonl", numberedLines(20'000));
    const auto tail = readTailLines(file, 100'000);
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.lines().front().substr(0, 11), "line 14758.");
    EXPECT_EQ(tail.lines().back().substr(0, 11), "line 19999.");
    EXPECT_EQ(tail.size(), 20'000u - 14'758u);
    EXPECT_LE(tail.byteCount(), kTailWindowBytes + 1);
}

TEST(ReadTailLines, WindowStartingAtALineStartKeepsThatLine) {
    ScratchHome home;
    // 1 prefix line of 100 bytes, then exactly 524,288 bytes of lines: the window starts on a
    // line start.
    std::string text = numberedLines(1);
    std::string rest;
    while (rest.size() + 100 <= kTailWindowBytes) {
        rest += numberedLines(1);
    }
    const std::size_t lastLength = kTailWindowBytes - rest.size();
    rest += std::string(lastLength - 1, 'z') + "\n";
    const auto file = home.write("aligned.jsonl", text + rest);
    const auto tail = readTailLines(file, 100'000);
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.lines().front().substr(0, 7), "line 0.");
    EXPECT_EQ(tail.size(), (rest.size() - lastLength) / 100 + 1);
}

TEST(ReadTailLines, ACharacterCutByTheWindowDoesNotDropTheTail) {
    ScratchHome home;
    // "é" is two bytes; a run of them puts the window's first byte inside a character.
    std::string text;
    while (text.size() < kTailWindowBytes + 1001) {
        text += "\xC3\xA9";
    }
    text += "\n{\"ok\":1}\n";
    const auto file = home.write("cut.jsonl", text);
    EXPECT_EQ(linesOf(readTailLines(file, 10)), std::vector<std::string>{"{\"ok\":1}"});
}

TEST(ReadTailLines, BadInputGivesNoLines) {
    ScratchHome home;
    struct Case {
        const char* name;
        std::filesystem::path path;
    };
    const std::vector<Case> cases = {
        {"invalid UTF-8", home.write("bad.jsonl", "{\"a\":1}\n{\"b\":\"\xFF\xFE\"}\n")},
        {"one line longer than the window",
         home.write("long.jsonl", std::string(kTailWindowBytes + 10, 'x') + "\n")},
        {"empty file", home.write("empty.jsonl", "")},
        {"directory", home.mkdir("dir.jsonl")},
        {"missing", home / "missing.jsonl"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(readTailLines(c.path, 500).empty()) << c.name;
    }
}

TEST(ReadTailLines, EveryLineIsFollowedByParsePadding) {
    ScratchHome home;
    const auto file = home.write("pad.jsonl", "{\"a\":1}");
    const auto tail = readTailLines(file, 5);
    ASSERT_EQ(tail.size(), 1u);
    const char* end = tail.lines().back().data() + tail.lines().back().size();
    for (std::size_t i = 0; i < kParsePadding; ++i) {
        EXPECT_EQ(end[i], '\0');
    }
}

TEST(CountFiles, CountsMatchingRegularFilesRecursively) {
    ScratchHome home;
    home.write("p/a.jsonl", "");
    home.write("p/B.JSONL", "");
    home.write("p/.hidden/c.jsonl", "");
    home.write("p/deep/er/d.jsonl", "");
    home.write("p/notes.txt", "");
    home.write("p/.jsonl", "");
    home.mkdir("p/folder.jsonl");
    std::filesystem::create_symlink(home / "p/a.jsonl", home / "p/link.jsonl");
    // A loop: following it would never end.
    std::filesystem::create_directory_symlink(home / "p", home / "p/deep/loop");
    struct Case {
        std::size_t limit;
        std::size_t expected;
    };
    for (const auto& c : std::vector<Case>{{500, 4}, {3, 3}, {1, 1}, {0, 1}}) {
        EXPECT_EQ(countFiles(home / "p", kJsonl, c.limit), c.expected) << c.limit;
    }
    EXPECT_EQ(countFiles(home / "missing", kJsonl, 500), 0u);
    EXPECT_EQ(countFiles(home / "p/a.jsonl", kJsonl, 500), 0u);
}

TEST(RecentFiles, NewestFirstWithinTheLimit) {
    ScratchHome home;
    ScratchHome::touch(home.write("s/2026/01/old.jsonl", ""), 1'700'000'000);
    ScratchHome::touch(home.write("s/2026/02/new.jsonl", ""), 1'700'000'300);
    ScratchHome::touch(home.write("s/mid.JSONL", ""), 1'700'000'100);
    ScratchHome::touch(home.write("s/ignored.json", ""), 1'700'000'900);
    std::filesystem::create_directory_symlink(home / "s", home / "s/2026/loop");
    const auto all = recentFiles(home / "s", kJsonl, 20);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].filename(), "new.jsonl");
    EXPECT_EQ(all[1].filename(), "mid.JSONL");
    EXPECT_EQ(all[2].filename(), "old.jsonl");
    const auto two = recentFiles(home / "s", kJsonl, 2);
    EXPECT_EQ(two, std::vector<std::filesystem::path>(all.begin(), all.begin() + 2));
    EXPECT_TRUE(recentFiles(home / "s/mid.JSONL", kJsonl, 20).empty());
    EXPECT_TRUE(recentFiles(home / "missing", kJsonl, 20).empty());
}

TEST(FindExecutable, OnlyExecutableRegularFilesCount) {
    ScratchHome home;
    const auto tool = home.write("b/tool", "#!/bin/sh\n");
    ::chmod(tool.c_str(), 0755);
    home.write("a/tool", "not executable");
    home.mkdir("c/tool");
    ::chmod((home / "c/tool").c_str(), 0755);
    const std::vector<std::filesystem::path> searchPaths = {home / "c", home / "a", home / "b"};
    struct Case {
        std::string name;
        std::optional<std::filesystem::path> expected;
    };
    const std::vector<Case> cases = {
        {"tool", tool},
        {"absent", std::nullopt},
        {"", std::nullopt},
        {tool.string(), tool},
        {(home / "a/tool").string(), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findExecutable(c.name, searchPaths), c.expected) << c.name;
    }
}

TEST(DisplayPath, AbbreviatesTheHomeOnlyAtComponentBoundaries) {
    struct Case {
        const char* path;
        const char* home;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"/home/ann/.codex/sessions", "/home/ann", "~/.codex/sessions"},
        {"/home/ann/.codex/sessions", "/home/ann/", "~/.codex/sessions"},
        {"/home/ann", "/home/ann", "~"},
        {"/home/anna/x", "/home/ann", "/home/anna/x"},
        {"/opt/x", "/home/ann", "/opt/x"},
        {"/opt/x", "/", "/opt/x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(displayPath(c.path, c.home), c.expected) << c.path << " in " << c.home;
    }
}

} // namespace
} // namespace korvo

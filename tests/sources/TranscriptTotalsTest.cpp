#include "sources/adapters/TranscriptTotals.h"

#include "AdapterCases.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace korvo {
namespace {

using namespace korvo::test;

// One assistant line of message `id`, as Claude Code writes it, at 08:MM:00.
std::string line(const std::string& id, int input, int output, int minute = 0) {
    return R"({"type":"assistant","timestamp":"2026-01-05T08:)" +
           std::string(minute < 10 ? "0" : "") + std::to_string(minute) +
           R"(:00Z","message":{"id":")" + id + R"(","role":"assistant","usage":{"input_tokens":)" +
           std::to_string(input) + R"(,"cache_read_input_tokens":0,"output_tokens":)" +
           std::to_string(output) + "}}}\n";
}

void append(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::app) << text;
}

// Overwrites bytes in place: same file, same size.
void overwrite(const std::filesystem::path& file, std::size_t at, const std::string& text) {
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(at));
    out << text;
}

// One transcript changed between reads of the same object: appended lines add, a message seen
// again replaces its earlier figures, a line still being written waits, and a file replaced,
// shrunk or rewritten where it was read starts over. Bytes already read are not read again.
TEST(TranscriptTotals, ReadsWhatWasAppendedAndStartsOverOnReplacement) {
    TestHome home;
    const auto file = home / "t.jsonl";
    // A line cut inside a character while it is written, "€" here, waits like any other.
    const std::string partial = "{\"n\":\"\u20AC\"," + line("C", 40, 4, 3).substr(1);
    const std::size_t cut = partial.find("\u20AC") + 1;
    using Step = std::function<void()>;
    const std::vector<std::pair<Step, std::string>> steps{
        {[&] { home.write("t.jsonl", line("A", 10, 1, 1)); },
         "in=10 out=1 at=2026-01-05T08:01:00Z"},
        {[&] { append(file, line("A", 10, 5, 1) + line("B", 20, 2, 2)); },
         "in=30 out=7 at=2026-01-05T08:02:00Z"},
        {[&] { append(file, partial.substr(0, cut)); }, "in=30 out=7 at=2026-01-05T08:02:00Z"},
        {[&] { append(file, partial.substr(cut)); }, "in=70 out=11 at=2026-01-05T08:03:00Z"},
        // The first line changed where the check does not look: it was read already.
        {[&] { overwrite(file, line("A", 10, 1, 1).find("10"), "90"); },
         "in=70 out=11 at=2026-01-05T08:03:00Z"},
        {[&] {
             std::filesystem::remove(file);
             home.write("t.jsonl", line("D", 1, 1, 4));
         },
         "in=1 out=1 at=2026-01-05T08:04:00Z"},
        // Rewritten in place, the same length: the bytes before the read point differ.
        {[&] { home.write("t.jsonl", line("E", 2, 2, 5)); }, "in=2 out=2 at=2026-01-05T08:05:00Z"},
        {[&] { std::filesystem::resize_file(file, 0); }, "none"},
        {[&] { home.write("t.jsonl", line("F", 3, 3, 6)); }, "in=3 out=3 at=2026-01-05T08:06:00Z"},
        // An error answer's synthetic message adds nothing, nor does its time count.
        {[&] {
             append(
                 file,
                 R"({"type":"assistant","timestamp":"2026-01-05T08:07:00Z","isApiErrorMessage":true,)"
                 R"("message":{"id":"x","model":"<synthetic>","usage":{"input_tokens":0,)"
                 R"("output_tokens":0}}})"
                 "\n");
         },
         "in=3 out=3 at=2026-01-05T08:06:00Z"},
        {[&] { append(file, "{\"x\":\"\xC3\x28\"}\n" + line("G", 1, 1, 8)); }, "none"},
    };
    TranscriptTotals totals;
    int step = 0;
    for (const auto& [change, expected] : steps) {
        change();
        EXPECT_EQ(candidateText(totals.read(file)), expected) << "step " << step++;
    }
}

// Lines of exactly 200 bytes: a read limited to 2,000 bytes counts the whole lines that start
// within the file's last 2,000 bytes, on the first read and after growing by more than that.
TEST(TranscriptTotals, LongFilesAreSummedOverTheirLastPart) {
    const auto lines = [](int count, int first) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            std::string one = line("m" + std::to_string(first + i), 1, 0);
            one.insert(one.size() - 2,
                       R"(,"pad":")" + std::string(200 - one.size() - 9, 'p') + "\"");
            text += one;
        }
        return text;
    };
    ASSERT_EQ(lines(1, 0).size(), 200u);
    TestHome home;
    const auto file = home.write("t.jsonl", lines(30, 0));
    const std::vector<std::pair<std::uintmax_t, std::vector<std::pair<int, double>>>> cases{
        {2000, {{0, 10}, {5, 15}, {11, 10}}}, // appended lines, then more than the limit
        {2100, {{0, 10}, {5, 15}, {11, 10}}}, // a cut first line is left out
        {10000, {{0, 30}, {5, 35}, {11, 46}}},
    };
    for (const auto& [limit, reads] : cases) {
        home.write("t.jsonl", lines(30, 0));
        TranscriptTotals totals(limit);
        int next = 30;
        for (const auto& [added, input] : reads) {
            append(file, lines(added, next));
            next += added;
            EXPECT_EQ(totals.read(file)->inputTokens, input) << limit << " after " << added;
        }
    }
    // Lines across the reader's chunks, and one longer than a chunk, each count once.
    std::string longLine = line("long", 5, 0);
    longLine.insert(longLine.size() - 2, R"(,"pad":")" + std::string(300'000, 'p') + "\"");
    home.write("t.jsonl", longLine + lines(2000, 100));
    EXPECT_EQ(TranscriptTotals().read(file)->inputTokens, 2005);

    // By default a transcript is read over its last 32 MiB: a message 40 MiB back (behind a
    // sparse gap) no longer counts.
    home.write("t.jsonl", line("old", 1000, 0));
    std::filesystem::resize_file(file, 40ull * 1024 * 1024);
    append(file, "\n" + line("new", 7, 0));
    EXPECT_EQ(TranscriptTotals().read(file)->inputTokens, 7);
}

// Transcripts without API messages fall back to the generic extraction; files that cannot be
// read give nothing.
TEST(TranscriptTotals, OtherFiles) {
    const std::vector<std::tuple<const char*, std::vector<std::string>, std::string>> cases{
        {"generic lines",
         {R"(file t.jsonl={"timestamp":"2026-01-05T08:40:00Z","total_input_tokens":7})"
          "\n"
          R"({"timestamp":"2026-01-05T08:30:00Z","total_input_tokens":5})"},
         "in=7 at=2026-01-05T08:40:00Z"},
        {"usage without an id counts per line",
         {R"(file t.jsonl={"message":{"usage":{"input_tokens":2}}})"
          "\n"
          R"({"message":{"usage":{"input_tokens":3}}})"
          "\n"},
         "in=5 out=0"},
        {"a folder", {"dir t.jsonl"}, "none"},
        {"a fifo", {"fifo t.jsonl"}, "none"},
        {"missing", {}, "none"},
    };
    for (const auto& [name, steps, expected] : cases) {
        TestHome home;
        home.build(steps);
        TranscriptTotals totals;
        EXPECT_EQ(candidateText(totals.read(home / "t.jsonl")), expected) << name;
    }
}

} // namespace
} // namespace korvo

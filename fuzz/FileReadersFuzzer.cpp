// The bounded readers under every adapter, over a file holding the input: a small file comes back
// whole or not at all, and a tail gives at most the lines asked for, each a whole line of the
// file, and nothing for invalid UTF-8 when the reader checks it.

#include "FuzzHome.h"
#include "FuzzSupport.h"
#include "sources/io/FileReaders.h"

#include <simdjson.h>

using namespace korvo;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    static test::FuzzHome home;
    const std::string_view input = test::text(data, size);
    const auto file = home.writeOnly("log.jsonl", input);

    const std::uintmax_t limit = size == 0 ? 0 : data[0] * 16u;
    const auto small = readSmallFile(file, limit);
    test::expect(small ? *small == input : size > limit, "a small file is read whole or not");

    const std::size_t maxLines = size < 2 ? 1 : data[1] % 40 + 1;
    const bool valid = simdjson::validate_utf8(input.data(), input.size());
    for (const auto check : {Utf8Check::wholeWindow, Utf8Check::leaveToParser}) {
        const TailLines tail = readTailLines(file, maxLines, check);
        test::expect(tail.size() <= maxLines, "no more lines than asked for");
        test::expect(valid || check == Utf8Check::leaveToParser || tail.empty(),
                     "invalid UTF-8 gives no lines");
        std::size_t from = 0;
        for (const std::string_view line : tail) {
            test::expect(!line.empty() && line.find('\n') == std::string_view::npos,
                         "a line is neither empty nor holds a line break");
            const std::size_t at = input.find(line, from);
            test::expect(at != std::string_view::npos, "lines come from the file, in order");
            from = at + line.size();
        }
    }
    return 0;
}

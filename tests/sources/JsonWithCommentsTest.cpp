#include "sources/io/JsonWithComments.h"

#include <gtest/gtest.h>
#include <simdjson.h>

namespace korvo {
namespace {

// Gemini's settings.json is JSON with comments and trailing commas: after stripping, simdjson
// must read it, and string contents that look like comments or commas must survive.
TEST(JsonWithCommentsTest, StripsCommentsAndTrailingCommasOutsideStrings) {
    const struct {
        const char* input;
        const char* key;
        const char* value;
    } rows[] = {
        {R"({"a": /* block, } */ "x",
           /* before the brace */ })",
         "a", "x"},
        {R"({"url": "http://h/*not a comment*/", "b": [1, 2, ],})", "url",
         "http://h/*not a comment*/"},
        {R"({"s": "a,}", "e": "quote \" // still string"})", "e", "quote \" // still string"},
        {R"({"a": "x" /* unterminated)", "a", "x"},
    };
    for (const auto& row : rows) {
        const std::string stripped = withoutCommentsAndTrailingCommas(row.input);
        simdjson::dom::parser parser;
        simdjson::padded_string padded(stripped);
        simdjson::dom::element document;
        if (std::string_view(row.input).find("unterminated") != std::string_view::npos) {
            // An unterminated comment blanks the rest: the text stays invalid, never misread.
            EXPECT_NE(parser.parse(padded).get(document), simdjson::SUCCESS) << row.input;
            continue;
        }
        ASSERT_EQ(parser.parse(padded).get(document), simdjson::SUCCESS) << stripped;
        std::string_view value;
        ASSERT_EQ(document[row.key].get(value), simdjson::SUCCESS) << stripped;
        EXPECT_EQ(value, row.value) << row.input;
    }
}

} // namespace
} // namespace korvo

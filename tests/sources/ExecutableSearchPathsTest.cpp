#include "sources/ExecutableSearchPaths.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

struct SearchPathCase {
    const char* name;
    std::optional<std::string> path; // the PATH variable; nothing = unset
    std::vector<std::string> expected;
};

class DefaultExecutableSearchPaths : public testing::TestWithParam<SearchPathCase> {};

TEST_P(DefaultExecutableSearchPaths, PathThenFixedDirectoriesWithoutDuplicates) {
    std::map<std::string, std::string, std::less<>> variables{{"HOME", "/home/x"}};
    if (GetParam().path) {
        variables.emplace("PATH", *GetParam().path);
    }
    std::vector<std::string> actual;
    for (const auto& p : defaultExecutableSearchPaths(fixedEnvironment(variables))) {
        actual.push_back(p.string());
    }
    EXPECT_EQ(actual, GetParam().expected);
}

const std::vector<std::string> fixed{"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin",
                                     "/opt/local/bin"};

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultExecutableSearchPaths,
    testing::Values(
        SearchPathCase{"unset", std::nullopt, fixed}, SearchPathCase{"empty", "", fixed},
        SearchPathCase{"onlySeparators", ":::", fixed},
        SearchPathCase{
            "emptyPieceAndDotDot",
            "/usr/bin::/usr/bin/../bin:/opt/homebrew/bin",
            {"/usr/bin", "/opt/homebrew/bin", "/usr/local/bin", "/bin", "/opt/local/bin"}},
        SearchPathCase{"userDirectoriesFirst",
                       "/home/x/.local/bin:/snap/bin",
                       {"/home/x/.local/bin", "/snap/bin", "/opt/homebrew/bin", "/usr/local/bin",
                        "/usr/bin", "/bin", "/opt/local/bin"}},
        // The list's own spelling is kept; later spellings of the same directory are dropped.
        SearchPathCase{
            "ownSpellingKept",
            "/usr/./local/bin/:/bin//:/usr/local/bin",
            {"/usr/./local/bin/", "/bin//", "/opt/homebrew/bin", "/usr/bin", "/opt/local/bin"}},
        SearchPathCase{
            "relativePieceKept",
            "bin:./bin:/usr/bin",
            {"bin", "/usr/bin", "/opt/homebrew/bin", "/usr/local/bin", "/bin", "/opt/local/bin"}},
        // ".." at the root stays at the root, as in path resolution.
        SearchPathCase{"dotDotAboveRoot",
                       "/../usr/bin:/a/b/../../bin",
                       {"/../usr/bin", "/a/b/../../bin", "/opt/homebrew/bin", "/usr/local/bin",
                        "/opt/local/bin"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace korvo

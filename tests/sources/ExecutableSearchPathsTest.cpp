#include "sources/ExecutableSearchPaths.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(DefaultExecutableSearchPaths, PathThenFixedDirectoriesWithoutDuplicates) {
    const std::vector<std::string> fixed{"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin",
                                         "/opt/local/bin"};
    struct Case {
        std::optional<std::string> path; // the PATH variable; nothing = unset
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, fixed},
        {"", fixed},
        {":::", fixed},
        {"/usr/bin::/usr/bin/../bin:/opt/homebrew/bin",
         {"/usr/bin", "/opt/homebrew/bin", "/usr/local/bin", "/bin", "/opt/local/bin"}},
        {"/home/x/.local/bin:/snap/bin",
         {"/home/x/.local/bin", "/snap/bin", "/opt/homebrew/bin", "/usr/local/bin", "/usr/bin",
          "/bin", "/opt/local/bin"}},
        // The list's own spelling is kept; later spellings of the same directory are dropped.
        {"/usr/./local/bin/:/bin//:/usr/local/bin",
         {"/usr/./local/bin/", "/bin//", "/opt/homebrew/bin", "/usr/bin", "/opt/local/bin"}},
        {"bin:./bin:/usr/bin",
         {"bin", "/usr/bin", "/opt/homebrew/bin", "/usr/local/bin", "/bin", "/opt/local/bin"}},
        // ".." at the root stays at the root, as in path resolution.
        {"/../usr/bin:/a/b/../../bin",
         {"/../usr/bin", "/a/b/../../bin", "/opt/homebrew/bin", "/usr/local/bin",
          "/opt/local/bin"}},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string, std::less<>> variables{{"HOME", "/home/x"}};
        if (c.path) {
            variables.emplace("PATH", *c.path);
        }
        std::vector<std::string> actual;
        for (const auto& p : defaultExecutableSearchPaths(fixedEnvironment(variables))) {
            actual.push_back(p.string());
        }
        EXPECT_EQ(actual, c.expected) << c.path.value_or("(unset)");
    }
}

} // namespace
} // namespace korvo

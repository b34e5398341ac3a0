#include "sources/io/ExecutableSearchPaths.h"

#include <set>
#include <string>

namespace korvo {
namespace {

// "/usr/bin/../bin/" and "/usr/bin" compare equal; symbolic links are not followed.
std::string comparisonForm(const std::filesystem::path& path) {
    std::string text = path.lexically_normal().generic_string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

} // namespace

std::vector<std::filesystem::path> defaultExecutableSearchPaths(const Environment& environment) {
    std::vector<std::filesystem::path> candidates;
    const std::string pathVariable = environment("PATH").value_or("");
    std::size_t start = 0;
    while (start <= pathVariable.size()) {
        const std::size_t end = std::min(pathVariable.find(':', start), pathVariable.size());
        if (end > start) {
            candidates.emplace_back(pathVariable.substr(start, end - start));
        }
        start = end + 1;
    }
    for (const auto directory : fixedExecutableDirectories) {
        candidates.emplace_back(directory);
    }

    std::vector<std::filesystem::path> result;
    std::set<std::string> seen;
    for (auto& candidate : candidates) {
        if (seen.insert(comparisonForm(candidate)).second) {
            result.push_back(std::move(candidate));
        }
    }
    return result;
}

} // namespace korvo

#include "sources/io/FolderListing.h"

#include <algorithm>
#include <array>

namespace korvo {

namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool hasWantedExtension(std::string_view name, const std::set<std::string, std::less<>>& wanted) {
    const std::size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return false;
    }
    const std::string_view extension = name.substr(dot + 1);
    std::array<char, 16> lower;
    if (extension.size() > lower.size()) {
        std::string longer(extension);
        std::transform(longer.begin(), longer.end(), longer.begin(), asciiLower);
        return wanted.find(longer) != wanted.end();
    }
    std::transform(extension.begin(), extension.end(), lower.begin(), asciiLower);
    return wanted.find(std::string_view(lower.data(), extension.size())) != wanted.end();
}

bool FileSelection::takes(std::string_view name) const {
    return hasWantedExtension(name, extensions) &&
           (excludedNames.empty() || excludedNames.find(name) == excludedNames.end());
}

FileTime modificationTime(int dirFd, const char* name, const struct stat* known) {
    struct stat own {};
    if (known == nullptr && ::fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) == 0) {
        known = &own;
    }
    if (known == nullptr) {
        return {};
    }
    return {static_cast<long long>(known->st_mtim.tv_sec), known->st_mtim.tv_nsec};
}

} // namespace korvo

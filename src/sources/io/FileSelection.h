#pragma once

#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>

namespace korvo {

/// Which regular files of a folder tree a walk takes: those whose lower-cased extension, without
/// the dot, is in `extensions`, except the ones named exactly as an entry of `excludedNames`
/// (files a tool keeps beside its logs that hold no usage, such as a lifecycle journal).
struct FileSelection {
    using Names = std::set<std::string, std::less<>>;

    Names extensions;
    Names excludedNames;

    // A set of extensions, or a list of them, converts: every file with one of them is taken.
    FileSelection(Names wanted, Names excluded = {}) // NOLINT(google-explicit-constructor)
        : extensions(std::move(wanted)), excludedNames(std::move(excluded)) {}
    FileSelection(std::initializer_list<std::string_view> wanted) // NOLINT
        : extensions(wanted.begin(), wanted.end()) {}

    bool operator==(const FileSelection&) const = default;

    /// True when a file named `name` is taken.
    bool takes(std::string_view name) const;
};

} // namespace korvo

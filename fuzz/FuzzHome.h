#pragma once

// A private home folder for the fuzz targets, filled from the input. The input is a list of
// entries, each starting on a line of its own:
//   "@@ PATH"          a file at PATH, holding the lines up to the next entry
//   "@@/ PATH"         a folder
//   "@@> PATH=TARGET"  a symbolic link to the home-relative TARGET
//   "@@= NAME=PATH"    the environment variable NAME set to the home-relative PATH
// PATH is relative to the home; "..", empty and absolute parts are dropped, so nothing is written
// outside it. Bytes before the first entry are ignored.

#include "support/TestHome.h"

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace korvo::test {

class FuzzHome {
public:
    const std::filesystem::path& path() const { return home_; }
    // The environment variables the last fill set.
    const std::map<std::string, std::string, std::less<>>& environment() const {
        return environment_;
    }

    // Empties the home and fills it from `input`.
    void fill(std::string_view input);
    // Empties the home and writes one file.
    std::filesystem::path writeOnly(std::string_view relative, std::string_view contents);

private:
    void clear();
    std::filesystem::path inside(std::string_view relative) const;

    test::TestHome folder_;
    std::filesystem::path home_ = folder_ / "home";
    std::map<std::string, std::string, std::less<>> environment_;
};

} // namespace korvo::test

#pragma once

#include "model/Clock.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::test {

// The moment the fixture homes are read at: shortly after their tools wrote their files.
inline constexpr Instant kFixtureNow = instantFromUnixSeconds(1767603600); // 2026-01-05T09:00:00Z

// The folder of a named fixture home under tests/fixtures.
std::filesystem::path fixtureHome(const std::string& name);

// A fresh temporary folder for one test (or one fuzz run, or one benchmark), removed with
// everything in it when it goes, entries whose mode is 000 included. Files are written relative
// to it; the folders above them are created.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path operator/(std::string_view relative) const { return root_ / relative; }
    // The path of `relative` as text: what a program is given on its command line.
    std::string filePath(std::string_view relative) const { return (root_ / relative).string(); }

    // Writes `content` to `relative`, creating the folders above it.
    std::filesystem::path write(std::string_view relative, std::string_view content) const;
    std::filesystem::path mkdir(std::string_view relative) const;

    // Fills the home from steps: "fixture NAME", "dir PATH", "exe PATH", "fifo PATH",
    // "mode000 PATH" (of an existing entry), "link PATH=TARGET" (a symbolic link to a
    // home-relative target), "touch PATH=SECONDS" (the modification time of an existing entry,
    // in seconds since 1970) or "file PATH", the last optionally followed by "=CONTENT". A step
    // that cannot be carried out throws std::runtime_error naming it.
    void build(const std::vector<std::string>& steps) const;

    // Sets the modification time of `file` to `secondsSince1970`.
    static void touch(const std::filesystem::path& file, long long secondsSince1970);

private:
    std::filesystem::path root_;
};

} // namespace korvo::test

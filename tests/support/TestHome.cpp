#include "TestHome.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::test {

std::filesystem::path fixtureHome(const std::string& name) {
    return std::filesystem::path(KORVO_FIXTURES_DIR) / name;
}

TestHome::TestHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvo-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    root_ = pattern;
}

TestHome::~TestHome() {
    std::error_code ignored;
    // Make everything removable again, modes of 000 included.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_symlink(ignored)) {
            ::chmod(it->path().c_str(), 0700);
        }
        if (ignored) {
            break;
        }
    }
    std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path TestHome::write(std::string_view relative, std::string_view content) const {
    const auto file = root_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return file;
}

std::filesystem::path TestHome::mkdir(std::string_view relative) const {
    const auto dir = root_ / relative;
    std::filesystem::create_directories(dir);
    return dir;
}

void TestHome::build(const std::vector<std::string>& steps) const {
    for (const auto& step : steps) {
        const auto space = step.find(' ');
        const std::string verb = step.substr(0, space);
        const std::string rest = step.substr(space + 1);
        if (verb == "fixture") { // hidden entries included
            std::filesystem::copy(fixtureHome(rest), root_,
                                  std::filesystem::copy_options::recursive |
                                      std::filesystem::copy_options::overwrite_existing);
        } else if (verb == "dir") {
            mkdir(rest);
        } else if (verb == "exe") {
            ::chmod(write(rest, "#!/bin/sh\nexit 0\n").c_str(), 0755);
        } else if (verb == "fifo") {
            mkdir(std::filesystem::path(rest).parent_path().string());
            if (::mkfifo((root_ / rest).c_str(), 0600) != 0) {
                throw std::runtime_error("home step failed: " + step);
            }
        } else if (verb == "mode000") {
            ::chmod((root_ / rest).c_str(), 0);
        } else if (verb == "touch") {
            const auto equals = rest.find('=');
            touch(root_ / rest.substr(0, equals), std::stoll(rest.substr(equals + 1)));
        } else if (verb == "link") {
            const auto equals = rest.find('=');
            std::filesystem::create_symlink(root_ / rest.substr(equals + 1),
                                            root_ / rest.substr(0, equals));
        } else if (verb == "file") {
            const auto equals = rest.find('=');
            write(rest.substr(0, equals),
                  equals == std::string::npos ? "" : rest.substr(equals + 1));
        } else {
            throw std::runtime_error("unknown home step: " + step);
        }
    }
}

void TestHome::touch(const std::filesystem::path& file, long long secondsSince1970) {
    std::filesystem::last_write_time(
        file, std::filesystem::file_time_type::clock::from_sys(
                  std::chrono::sys_seconds{std::chrono::seconds{secondsSince1970}}));
}

} // namespace korvo::test

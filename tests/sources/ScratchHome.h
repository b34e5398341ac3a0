#pragma once

// A temporary home directory for one test, removed with everything in it afterwards.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace korvo::testing {

class ScratchHome {
public:
    ScratchHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "korvo-home-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root_ = pattern;
    }
    ~ScratchHome() {
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
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path operator/(std::string_view relative) const { return root_ / relative; }

    /// Writes `content` to home-relative `relative`, creating the folders above it.
    std::filesystem::path write(std::string_view relative, std::string_view content) const {
        const auto file = root_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return file;
    }

    std::filesystem::path mkdir(std::string_view relative) const {
        const auto dir = root_ / relative;
        std::filesystem::create_directories(dir);
        return dir;
    }

    /// Sets the modification time of `file` to `secondsSince1970`.
    static void touch(const std::filesystem::path& file, long long secondsSince1970) {
        std::filesystem::last_write_time(
            file, std::filesystem::file_time_type::clock::from_sys(
                      std::chrono::sys_seconds{std::chrono::seconds{secondsSince1970}}));
    }

private:
    std::filesystem::path root_;
};

/// True when the process can read files whatever their mode (running as root).
inline bool modesAreIgnored() {
    return ::geteuid() == 0;
}

} // namespace korvo::testing

#include "launcher/ProgramHandOver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <unistd.h>

namespace korvo {

namespace {

std::filesystem::path ownExecutable() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::optional<std::filesystem::path> companionProgram(const std::filesystem::path& launcher,
                                                      std::string_view name) {
    const std::filesystem::path directory = launcher.parent_path();
    for (const std::filesystem::path& candidate :
         {directory / name, directory.parent_path() / "libexec" / "korvo-connector" / name}) {
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

int handOverTo(std::string_view name, char** argv) {
    // A program handed over to may hand over again (the command line without a command starts
    // the desktop program); the first launcher stays the one recorded.
    const char* recorded = std::getenv(kLauncherPathVariable);
    const std::filesystem::path launcher =
        recorded != nullptr && *recorded == '/' ? std::filesystem::path(recorded) : ownExecutable();
    const auto program = companionProgram(launcher, name);
    if (!program) {
        const std::string text(name);
        std::fprintf(stderr, "korvo-connector: %s is not installed next to %s.\n", text.c_str(),
                     launcher.c_str());
        return 1;
    }
    ::setenv(kLauncherPathVariable, launcher.c_str(), 1);
    ::execv(program->c_str(), argv);
    std::fprintf(stderr, "korvo-connector: cannot start %s: %s\n", program->c_str(),
                 std::strerror(errno));
    return 1;
}

} // namespace korvo

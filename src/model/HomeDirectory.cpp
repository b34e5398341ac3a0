#include "model/HomeDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace korvo {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
        return entry->pw_dir;
    }
    return {};
}

} // namespace korvo

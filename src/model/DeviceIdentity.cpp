#include "model/DeviceIdentity.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/utsname.h>
#include <unistd.h>

namespace korvo {

namespace {

// machine-info is a handful of short lines.
constexpr std::size_t kMaxMachineInfoBytes = 16 * 1024;

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimAscii(std::string_view text) {
    while (!text.empty() && isAsciiSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isAsciiSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The UTF-8 forms of the white space a name is trimmed of besides ASCII's: no-break, ogham,
// the typographic spaces, the line and paragraph separators, the narrow no-break, the medium
// mathematical and the ideographic space, and the next-line control.
constexpr std::array<std::string_view, 19> kWideSpaces = {
    "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003",
    "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A",
    "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};

std::string_view trimUnicode(std::string_view text) {
    for (bool trimmed = true; trimmed;) {
        const std::string_view inner = trimAscii(text);
        trimmed = inner.size() != text.size();
        text = inner;
        for (const std::string_view space : kWideSpaces) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                trimmed = true;
            }
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                trimmed = true;
            }
        }
    }
    return text;
}

// Undoes the shell-style quoting of an environment-file value: single quotes keep everything,
// double quotes honour backslash escapes, unquoted text honours backslash escapes.
std::string unquote(std::string_view raw) {
    std::string out;
    char quote = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '\\' && i + 1 < raw.size()) {
            out += raw[++i];
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string randomHex(int count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::random_device source; // the kernel's random source on Linux and macOS
    std::string hex;
    hex.reserve(static_cast<std::size_t>(std::max(count, 0)));
    while (static_cast<int>(hex.size()) < count) {
        unsigned bits = source();
        for (int i = 0; i < 8 && static_cast<int>(hex.size()) < count; ++i, bits >>= 4) {
            hex += kDigits[bits & 0xF];
        }
    }
    return hex;
}

std::string localSnapshotId() {
    return "local_" + randomHex(16);
}

bool isUsableDeviceId(std::string_view id) {
    if (id.empty() || id.size() > 128) {
        return false;
    }
    for (const char c : id) {
        const bool usable = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
        if (!usable) {
            return false;
        }
    }
    return true;
}

std::string prettyHostName(std::string_view machineInfo) {
    constexpr std::string_view kKey = "PRETTY_HOSTNAME=";
    std::string name;
    while (!machineInfo.empty()) {
        const std::size_t end = machineInfo.find('\n');
        const std::string_view line = trimAscii(machineInfo.substr(0, end));
        machineInfo.remove_prefix(end == std::string_view::npos ? machineInfo.size() : end + 1);
        if (line.starts_with(kKey)) {
            // The last assignment wins, as when the file is sourced.
            name = trimUnicode(unquote(line.substr(kKey.size())));
        }
    }
    return name;
}

std::string systemHostName(const std::filesystem::path& machineInfoPath) {
    if (const int fd = ::open(machineInfoPath.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        std::string text(kMaxMachineInfoBytes, '\0');
        std::size_t size = 0;
        while (size < text.size()) {
            const ssize_t got = ::read(fd, text.data() + size, text.size() - size);
            if (got <= 0) {
                break;
            }
            size += static_cast<std::size_t>(got);
        }
        ::close(fd);
        text.resize(size);
        if (std::string pretty = prettyHostName(text); !pretty.empty()) {
            return pretty;
        }
    }
    utsname system{};
    return ::uname(&system) == 0 ? std::string(system.nodename) : std::string();
}

UsageSnapshot assembleSnapshot(std::string snapshotId, std::string syncSpaceId,
                               SnapshotDevice device, std::vector<ProviderUsage> rows,
                               Instant now) {
    UsageSnapshot snapshot;
    snapshot.schemaVersion = UsageSnapshot::currentSchemaVersion;
    snapshot.snapshotId = std::move(snapshotId);
    snapshot.syncSpaceId = std::move(syncSpaceId);
    snapshot.updatedAt = now;
    snapshot.device = std::move(device);
    snapshot.providers = std::move(rows);
    return snapshot;
}

} // namespace korvo

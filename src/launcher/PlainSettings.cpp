#include "launcher/PlainSettings.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace korvo {

namespace {

// The connector's settings are a few short lines; a larger file is left to QSettings.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

bool isPlainCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

bool isPlain(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isPlainCharacter);
}

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::string> readBounded(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(kMaxSettingsBytes + 1, '\0');
    std::size_t size = 0;
    bool failed = false;
    while (size < text.size()) {
        const ssize_t got = ::read(fd, text.data() + size, text.size() - size);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            failed = true;
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (failed || size > kMaxSettingsBytes) {
        return std::nullopt;
    }
    text.resize(size);
    return text;
}

} // namespace

std::optional<std::map<std::string, std::string, std::less<>>>
readPlainSettings(const std::filesystem::path& file, const std::vector<std::string_view>& keys) {
    const std::optional<std::string> text = readBounded(file);
    if (!text) {
        return std::nullopt;
    }
    std::map<std::string, std::string, std::less<>> values;
    // Keys before any section header belong to the default section, as do those under
    // [General].
    bool inDefaultSection = true;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = trimmed(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.starts_with('[')) {
            inDefaultSection = line == "[General]";
            // Another spelling of the default section's name is QSettings' to judge.
            if (!inDefaultSection && line.size() == 9 &&
                std::equal(line.begin(), line.end(), "[general]",
                           [](char a, char b) { return (a | 0x20) == b; })) {
                return std::nullopt;
            }
            continue;
        }
        if (!inDefaultSection || line.empty() || line.starts_with(';')) {
            continue;
        }
        // A line that goes on on the next one could hide a key there: QSettings must read it.
        if (line.ends_with('\\')) {
            return std::nullopt;
        }
        const std::size_t equals = line.find('=');
        const std::string_view key = trimmed(line.substr(0, equals));
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            continue;
        }
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
        if (key != line.substr(0, equals) || !isPlain(value) ||
            !values.emplace(std::string(key), std::string(value)).second) {
            return std::nullopt;
        }
    }
    return values;
}

} // namespace korvo

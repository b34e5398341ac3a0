#include "RelayLog.h"

#include <atomic>
#include <cstdio>
#include <random>

namespace korvo::relayserver {
namespace {

std::atomic<int> gLevel{static_cast<int>(LogLevel::warning)};

const char* levelName(LogLevel level) {
    switch (level) {
    case LogLevel::error:
        return "error";
    case LogLevel::warning:
        return "warning";
    case LogLevel::info:
        return "info";
    case LogLevel::debug:
        return "debug";
    }
    return "info";
}

void appendValue(std::string& line, std::string_view value) {
    const bool plain = !value.empty() && value.find_first_of(" \"=\\") == std::string_view::npos;
    if (plain) {
        for (const char c : value) {
            line += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
        return;
    }
    line += '"';
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            line += '\\';
            line += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            line += ' '; // one event, one line
        } else {
            line += c;
        }
    }
    line += '"';
}

} // namespace

std::optional<LogLevel> parseLogLevel(std::string_view name) {
    if (name == "error") {
        return LogLevel::error;
    }
    if (name == "warning" || name == "warn") {
        return LogLevel::warning;
    }
    if (name == "info") {
        return LogLevel::info;
    }
    if (name == "debug") {
        return LogLevel::debug;
    }
    return std::nullopt;
}

void setLogLevel(LogLevel level) {
    gLevel.store(static_cast<int>(level));
}

bool logs(LogLevel level) {
    return static_cast<int>(level) <= gLevel.load(std::memory_order_relaxed);
}

void logLine(LogLevel level, std::initializer_list<LogField> fields) {
    if (!logs(level)) {
        return;
    }
    std::string line = "<" + std::to_string(static_cast<int>(level)) + ">level=" + levelName(level);
    for (const auto& [key, value] : fields) {
        line += ' ';
        line += key;
        line += '=';
        appendValue(line, value);
    }
    line += '\n';
    // One write per line, so lines of several threads do not interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string newRequestId() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return text;
}

} // namespace korvo::relayserver

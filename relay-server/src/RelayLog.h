#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace korvo::relayserver {

// The relay's log: one line per event on stderr, "key=value" fields (values with spaces or
// quotes quoted), led by the syslog priority in angle brackets ("<3>" error, "<4>" warning,
// "<6>" info, "<7>" debug) that the systemd journal reads as the line's level and strips.
// Fields never hold a token, secret, pairing code or body: callers pass only routes (patterns,
// not paths), statuses, durations, request ids and the relay's own error texts.
enum class LogLevel { error = 3, warning = 4, info = 6, debug = 7 };

// "error", "warning" (or "warn"), "info", "debug".
std::optional<LogLevel> parseLogLevel(std::string_view name);
// Lines less severe than `level` are dropped; the default is warning.
void setLogLevel(LogLevel level);
bool logs(LogLevel level);

using LogField = std::pair<std::string_view, std::string_view>;
void logLine(LogLevel level, std::initializer_list<LogField> fields);

// A new request id: 16 hex digits, random.
std::string newRequestId();

} // namespace korvo::relayserver

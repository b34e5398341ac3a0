#pragma once

// Parsing of the korvo-connector command line: one optional subcommand, the global --relay URL,
// --help and --version.

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace korvo {

// The options of `history`.
struct HistoryRequest {
    enum class Format { table, csv, json };
    std::optional<QString> toolId;                           // --tool ID
    std::chrono::seconds since = std::chrono::hours(24 * 7); // --since 7d
    Format format = Format::table;                           // --format
};

struct CommandLineRequest {
    enum class Action { help, version, command };
    Action action = Action::help;
    QString command;              // the subcommand; empty means none was given
    std::optional<QString> relay; // --relay URL, as typed
    HistoryRequest history;
};

// "30m", "12h", "7d", "2w": a positive whole count and one unit; nothing for anything else.
std::optional<std::chrono::seconds> parseHistoryAge(const QString& text);

struct CommandLineResult {
    std::optional<CommandLineRequest> request;
    QString error; // set when request is absent: why the arguments were refused
};

// The names of the subcommands, in the order the help lists them.
const QStringList& commandNames();

// Parses the arguments (the program name first, as QCoreApplication::arguments gives them).
CommandLineResult parseCommandLine(const QStringList& arguments);

// The text of --help.
QString helpText();

} // namespace korvo

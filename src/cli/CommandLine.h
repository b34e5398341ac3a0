#pragma once

// Parsing of the korvo-connector command line: one optional subcommand, the global --relay URL,
// --help and --version.

#include <QString>
#include <QStringList>
#include <optional>

namespace korvo {

struct CommandLineRequest {
    enum class Action { help, version, command };
    Action action = Action::help;
    QString command;              // the subcommand; empty means none was given
    std::optional<QString> relay; // --relay URL, as typed
};

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

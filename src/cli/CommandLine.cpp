#include "cli/CommandLine.h"

#include <QCommandLineParser>

namespace korvo {
namespace {

struct CommandInfo {
    const char* name;
    const char* usage;
    const char* summary;
};

const CommandInfo kCommands[] = {
    {"snapshot", "snapshot",
     "Collect now and print the local snapshot JSON; exit 1 when no tool produced a row."},
    {"diagnose", "diagnose", "Refresh the sources; print the status line and the source blocks."},
    {"support-bundle", "support-bundle",
     "Refresh sources and local limits; print the support bundle."},
    {"status", "status", "Print one line per status field."},
    {"pair", "pair [--relay URL]",
     "Create a pairing code, show it with its QR code and wait until the phone pairs."},
    {"run", "run", "Stay in the foreground and sync every 30 seconds while paired."},
    {"unlink", "unlink", "Unlink this machine from its sync space."},
    {"claude-statusline", "claude-statusline",
     "Claude Code status-line hook: keep the rate limits read from stdin for the connector."},
};

} // namespace

const QStringList& commandNames() {
    static const QStringList names = [] {
        QStringList list;
        for (const auto& command : kCommands) {
            list << QString::fromLatin1(command.name);
        }
        return list;
    }();
    return names;
}

QString helpText() {
    QString text = QStringLiteral("Usage: korvo-connector [--relay URL] [command]\n"
                                  "\n"
                                  "Without a command, the desktop application starts.\n"
                                  "\n"
                                  "Commands:\n");
    for (const auto& command : kCommands) {
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(QString::fromLatin1(command.usage), QString::fromUtf8(command.summary));
    }
    text += QStringLiteral("\n"
                           "Options:\n"
                           "  --relay URL   Save this relay base URL and use it for the command.\n"
                           "  -h, --help    Show this help.\n"
                           "  --version     Show the version, build and build channel.\n");
    return text;
}

CommandLineResult parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption relay(QStringLiteral("relay"), QString(), QStringLiteral("URL"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(relay);
    parser.addOption(help);
    parser.addOption(version);
    if (!parser.parse(arguments)) {
        return {std::nullopt, parser.errorText()};
    }
    CommandLineRequest request;
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty()) {
        request.command = positional.first();
        if (!commandNames().contains(request.command)) {
            return {std::nullopt, QStringLiteral("Unknown command '%1'.").arg(request.command)};
        }
        if (positional.size() > 1) {
            return {std::nullopt, QStringLiteral("Unexpected argument '%1' after '%2'.")
                                      .arg(positional.at(1), request.command)};
        }
    }
    if (parser.isSet(relay)) {
        const QStringList values = parser.values(relay);
        if (values.size() > 1) {
            return {std::nullopt, QStringLiteral("--relay given more than once.")};
        }
        request.relay = values.first();
    }
    if (parser.isSet(help)) {
        request.action = CommandLineRequest::Action::help;
    } else if (parser.isSet(version)) {
        request.action = CommandLineRequest::Action::version;
    } else if (request.command.isEmpty() && request.relay) {
        return {std::nullopt,
                QStringLiteral("--relay needs a command; the window has its own relay setting.")};
    } else {
        request.action = CommandLineRequest::Action::command;
    }
    return {request, QString()};
}

} // namespace korvo

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
    {"history", "history [--tool ID] [--since 7d] [--format table|csv|json]",
     "Print the local usage history: one point per change of a tool's window."},
    {"unlink", "unlink", "Unlink this machine from its sync space."},
    {"claude-statusline", "claude-statusline",
     "Claude Code status-line hook: keep the rate limits read from stdin for the connector."},
};

// The option given once, or an error text.
std::optional<QString> singleValue(const QCommandLineParser& parser,
                                   const QCommandLineOption& option, QString& error) {
    const QStringList values = parser.values(option);
    if (values.isEmpty()) {
        return std::nullopt;
    }
    if (values.size() > 1) {
        error = QStringLiteral("--%1 given more than once.").arg(option.names().constFirst());
        return std::nullopt;
    }
    return values.first();
}

} // namespace

std::optional<std::chrono::seconds> parseHistoryAge(const QString& text) {
    if (text.size() < 2 || text.size() > 8) {
        return std::nullopt;
    }
    bool ok = false;
    const long long count = text.left(text.size() - 1).toLongLong(&ok);
    if (!ok || count <= 0 || !text.at(0).isDigit()) {
        return std::nullopt;
    }
    switch (text.back().unicode()) {
    case 'm':
        return std::chrono::minutes(count);
    case 'h':
        return std::chrono::hours(count);
    case 'd':
        return std::chrono::hours(24 * count);
    case 'w':
        return std::chrono::hours(24 * 7 * count);
    default:
        return std::nullopt;
    }
}

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
    const QCommandLineOption tool(QStringLiteral("tool"), QString(), QStringLiteral("ID"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("AGE"));
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
    parser.addOption(relay);
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(tool);
    parser.addOption(since);
    parser.addOption(format);
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
    const bool historyOptions = parser.isSet(tool) || parser.isSet(since) || parser.isSet(format);
    if (historyOptions && request.command != QLatin1String("history")) {
        return {std::nullopt, QStringLiteral("--tool, --since and --format belong to 'history'.")};
    }
    QString error;
    if (const auto value = singleValue(parser, tool, error); value && !value->isEmpty()) {
        request.history.toolId = *value;
    }
    if (const auto value = singleValue(parser, since, error)) {
        const auto age = parseHistoryAge(*value);
        if (!age) {
            return {
                std::nullopt,
                QStringLiteral("--since %1: give an age such as 30m, 12h, 7d or 2w.").arg(*value)};
        }
        request.history.since = *age;
    }
    if (const auto value = singleValue(parser, format, error)) {
        if (*value == QLatin1String("table")) {
            request.history.format = HistoryRequest::Format::table;
        } else if (*value == QLatin1String("csv")) {
            request.history.format = HistoryRequest::Format::csv;
        } else if (*value == QLatin1String("json")) {
            request.history.format = HistoryRequest::Format::json;
        } else {
            return {std::nullopt,
                    QStringLiteral("--format %1: choose table, csv or json.").arg(*value)};
        }
    }
    if (!error.isEmpty()) {
        return {std::nullopt, error};
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

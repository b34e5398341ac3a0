// korvo-connector: the headless command line and the Claude Code status-line hook.

#include "cli/ClaudeStatusLine.h"
#include "cli/CommandLine.h"
#include "model/DisplayText.h"
#include "model/UsageSnapshot.h"
#include "platform/BuildInfo.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <pwd.h>
#include <string_view>
#include <unistd.h>

namespace {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
        return entry->pw_dir;
    }
    return {};
}

void printError(const QString& text) {
    std::fputs(qPrintable(QStringLiteral("korvo-connector: %1\n").arg(text)), stderr);
}

} // namespace

int main(int argc, char** argv) {
    // The status-line hook runs on every refresh of Claude Code's status line: it starts no Qt,
    // and it exits 0 whatever its input, so Claude Code's status line never breaks.
    if (argc == 2 && std::string_view(argv[1]) == "claude-statusline") {
        std::signal(SIGPIPE, SIG_IGN);
        korvo::runClaudeStatusLine(STDIN_FILENO, std::cout, homeDirectory(), korvo::systemClock());
        return 0;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvo-connector"));
    const auto parsed = korvo::parseCommandLine(QCoreApplication::arguments());
    if (!parsed.request) {
        printError(parsed.error);
        std::fputs("Run 'korvo-connector --help' for the commands.\n", stderr);
        return 2;
    }
    const auto& request = *parsed.request;
    switch (request.action) {
    case korvo::CommandLineRequest::Action::help:
        std::fputs(qPrintable(korvo::helpText()), stdout);
        return 0;
    case korvo::CommandLineRequest::Action::version: {
        const auto info = korvo::BuildInfo::current();
        const auto channel =
            info.channel ? std::optional<std::string>(info.channel->toStdString()) : std::nullopt;
        std::printf("Korvo Connector %s (%s)\nBuild channel: %s\n",
                    qPrintable(info.version.value_or(QStringLiteral("unknown"))),
                    qPrintable(info.build.value_or(QStringLiteral("unknown"))),
                    korvo::buildChannelLabel(korvo::KorvoBuildChannel::fromConfiguredValue(channel))
                        .c_str());
        return 0;
    }
    case korvo::CommandLineRequest::Action::command:
        break;
    }
    if (request.command == QLatin1String("claude-statusline")) {
        std::signal(SIGPIPE, SIG_IGN);
        korvo::runClaudeStatusLine(STDIN_FILENO, std::cout, homeDirectory(), korvo::systemClock());
        return 0;
    }
    printError(QStringLiteral("'%1' is not available in this build yet.").arg(request.command));
    return 1;
}

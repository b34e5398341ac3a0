// korvo-connector-cli: the headless commands, started by korvo-connector.

#include "cli/CliLog.h"
#include "cli/CommandLine.h"
#include "cli/CommandRunner.h"
#include "cli/TerminationSignals.h"
#include "core/ConnectorModel.h"
#include "core/LastSyncRecord.h"
#include "core/ManifestLocation.h"
#include "launcher/ProgramHandOver.h"
#include "launcher/VersionText.h"
#include "model/DisplayText.h"
#include "model/HomeDirectory.h"
#include "model/UsageSnapshot.h"
#include "platform/PlatformServices.h"
#include "platform/PowerEvents.h"
#include "platform/UserDefaults.h"
#include "statusline/ClaudeStatusLine.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string_view>
#include <unistd.h>

namespace {

void printError(const QString& text) {
    std::fputs(qPrintable(QStringLiteral("korvo-connector: %1\n").arg(text)), stderr);
}

// Colours only for a terminal that shows them.
korvo::TerminalColors terminalColors() {
    const char* term = std::getenv("TERM");
    const bool dumb = term == nullptr || std::string_view(term) == "dumb";
    return ::isatty(STDOUT_FILENO) && !dumb && std::getenv("NO_COLOR") == nullptr
               ? korvo::TerminalColors::ansi
               : korvo::TerminalColors::none;
}

QCoro::Task<> runAndQuit(korvo::CommandRunner& runner, korvo::CommandLineRequest request) {
    // The command's name only: its arguments may hold a relay URL with a password.
    const QString command = request.command;
    qCDebug(korvo::lcCli).noquote() << command << "started";
    const int code = co_await runner.run(std::move(request));
    qCDebug(korvo::lcCli).noquote() << command << "ended with exit code" << code;
    QCoreApplication::exit(code);
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const auto parsed = korvo::parseCommandLine(arguments);
    if (!parsed.request) {
        printError(parsed.error);
        std::fputs("Run 'korvo-connector --help' for the commands.\n", stderr);
        return 2;
    }
    const korvo::CommandLineRequest& request = *parsed.request;
    switch (request.action) {
    case korvo::CommandLineRequest::Action::help:
        std::fputs(qPrintable(korvo::helpText()), stdout);
        return 0;
    case korvo::CommandLineRequest::Action::version:
        std::fputs(korvo::versionText().c_str(), stdout);
        return 0;
    case korvo::CommandLineRequest::Action::command:
        break;
    }
    if (request.command.isEmpty()) {
        return korvo::handOverTo("korvo-connector-desktop", argv);
    }
    if (request.command == QLatin1String("claude-statusline")) {
        std::signal(SIGPIPE, SIG_IGN);
        korvo::runClaudeStatusLine(STDIN_FILENO, std::cout, korvo::homeDirectory(),
                                   korvo::systemClock());
        return 0;
    }

    const bool runsUntilStopped = request.command == QLatin1String("run");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvo-connector"));

    std::unique_ptr<korvo::TerminationSignals> termination;
    std::unique_ptr<korvo::PowerEvents> powerEvents;
    if (runsUntilStopped) {
        termination = std::make_unique<korvo::TerminationSignals>();
        powerEvents = korvo::PlatformServices::powerEvents();
    }
    QNetworkAccessManager network;
    korvo::ConnectorModelOptions options;
    options.home = korvo::homeDirectory();
    options.network = &network;
    options.powerEvents = powerEvents.get();
    const std::shared_ptr<korvo::UserDefaults> settings = korvo::PlatformServices::userDefaults();
    options.userDefaults = settings;
    options.manifestURL =
        korvo::manifestURL(options.manifestURL, options.environment, settings.get());
    // No command shows whether an update is out, so `run` fetches no manifest at start or wake.
    options.checksForUpdates = false;
    const std::filesystem::path lastSync = korvo::lastSyncRecordPath(options.home);
    korvo::ConnectorModel model(std::move(options));
    // Every command that uploads or checks the relay leaves it for `status` in another process.
    korvo::LastSyncRecorder recorder(model, lastSync, korvo::systemClock());

    const korvo::Clock clock = korvo::systemClock();
    korvo::CommandRunner runner(model, clock, {stdout, stderr, terminalColors()}, termination.get(),
                                lastSync);
    std::optional<QCoro::Task<>> task;
    QTimer::singleShot(0, &app, [&] { task.emplace(runAndQuit(runner, request)); });
    return QCoreApplication::exec();
}

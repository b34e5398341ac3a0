#pragma once

// The subcommands of korvo-connector, each a sequence of ConnectorModel operations. Exit codes
// follow the operations' outcomes; what is printed are the model's own texts.

#include "cli/CommandLine.h"
#include "cli/TerminalQr.h"
#include "model/Clock.h"

#include <QString>
#include <cstdio>
#include <filesystem>
#include <qcoro/qcorotask.h>

namespace korvo {

class ConnectorModel;
class TerminationSignals;

struct CommandOutput {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    TerminalColors colors = TerminalColors::none;
};

// Exit codes: 0 done; 1 the command ran but its goal was not reached (no usage rows, pairing code
// expired, unlink refused by the relay); 2 refused input or the relay could not be reached.
class CommandRunner {
public:
    // `lastSyncRecord`: the file where runs record their last upload and relay check, which
    // `status` shows when this process has none of its own; empty: none.
    CommandRunner(ConnectorModel& model, Clock clock, CommandOutput output,
                  TerminationSignals* termination, std::filesystem::path lastSyncRecord = {});

    // Saves and applies --relay first when given, leaves a relay the URL moved away from, then
    // runs the command.
    QCoro::Task<int> run(CommandLineRequest request);

private:
    QCoro::Task<int> snapshot();
    QCoro::Task<int> diagnose();
    QCoro::Task<int> supportBundle();
    QCoro::Task<int> status();
    QCoro::Task<int> pair();
    QCoro::Task<int> runUntilStopped();
    QCoro::Task<int> unlink();

    // The local state a command starts from: the pairing (settings and keychain), the login
    // item, the sources and the local limits. Nothing is sent to the relay.
    QCoro::Task<> refreshLocalState();

    void print(const QString& text);
    void printError(const QString& text);

    ConnectorModel& model_;
    Clock clock_;
    CommandOutput output_;
    TerminationSignals* termination_;
    std::filesystem::path lastSyncRecord_;
};

} // namespace korvo

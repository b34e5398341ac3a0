#include "cli/CommandRunner.h"

#include "cli/HistoryText.h"
#include "cli/StatusLines.h"
#include "cli/TerminationSignals.h"
#include "core/ConnectorModel.h"
#include "core/ConnectorStatusText.h"
#include "core/LastSyncRecord.h"
#include "core/QuotaAlertMonitor.h"
#include "model/TimeText.h"
#include "relayclient/WebViewAddress.h"

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorosignal.h>

namespace korvo {

CommandRunner::CommandRunner(ConnectorModel& model, Clock clock, CommandOutput output,
                             TerminationSignals* termination, std::filesystem::path lastSyncRecord)
    : model_(model), clock_(std::move(clock)), output_(output), termination_(termination),
      lastSyncRecord_(std::move(lastSyncRecord)) {}

void CommandRunner::print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), output_.out);
    std::fflush(output_.out);
}

void CommandRunner::printError(const QString& text) {
    const QByteArray bytes =
        (QStringLiteral("korvo-connector: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), output_.err);
    std::fflush(output_.err);
}

QCoro::Task<> CommandRunner::refreshLocalState() {
    co_await model_.loadPairingState();
    model_.refreshLaunchAtLoginStatus();
    co_await model_.refreshSourceDiagnostics();
    co_await model_.refreshLocalLimits();
}

QCoro::Task<int> CommandRunner::run(CommandLineRequest request) {
    if (request.relay) {
        model_.setRelayBaseURLString(*request.relay);
        if (!model_.saveRelaySettings()) {
            printError(QStringLiteral("--relay %1: %2")
                           .arg(*request.relay, relayHealthText(model_.relaySettings().state())));
            co_return 2;
        }
    }
    // Moving away from the relay of the pairing (with --relay, or in the settings file) ends the
    // pairing before any command runs, so that none sends the token to the new address; the
    // old relay hears of it first.
    model_.followRelayChange();
    co_await model_.relayChangeFinished();
    if (model_.connection().status() == ConnectionStatus::relayChanged) {
        printError(connectionStatusText(model_.connection().status()));
    }
    const QString& command = request.command;
    // The commands that talk to the relay say first when that goes unencrypted; `status` shows
    // it among its lines.
    const bool sends = command == QLatin1String("pair") || command == QLatin1String("run") ||
                       command == QLatin1String("unlink");
    if (const std::optional<QString> warning =
            relayTransportWarningText(model_.relaySettings().state());
        sends && warning) {
        printError(*warning);
    }
    if (command == QLatin1String("snapshot")) {
        co_return co_await snapshot();
    }
    if (command == QLatin1String("diagnose")) {
        co_return co_await diagnose();
    }
    if (command == QLatin1String("support-bundle")) {
        co_return co_await supportBundle();
    }
    if (command == QLatin1String("status")) {
        co_return co_await status();
    }
    if (command == QLatin1String("pair")) {
        co_return co_await pair();
    }
    if (command == QLatin1String("run")) {
        co_return co_await runUntilStopped();
    }
    if (command == QLatin1String("unlink")) {
        co_return co_await unlink();
    }
    if (command == QLatin1String("history")) {
        co_return co_await history(request.history);
    }
    printError(QStringLiteral("Unknown command '%1'.").arg(command));
    co_return 2;
}

QCoro::Task<int> CommandRunner::snapshot() {
    co_await model_.loadPairingState();
    co_await model_.refreshLocalLimits();
    const CollectState& collect = model_.collector().collect();
    std::optional<QString> json =
        collect.localSnapshot ? model_.latestSnapshotJSON() : std::nullopt;
    // Without a row from any tool an upload sends the demo fallback, and so it is printed, with
    // a word on stderr that it is not this machine's usage.
    const bool demo = !json && collect.phase == CollectState::Phase::demoFallback;
    if (demo) {
        json = co_await model_.demoSnapshotJSON();
    }
    if (!json) {
        printError(QStringLiteral("No tool produced a usage row (%1). Run 'korvo-connector "
                                  "diagnose' to see what was found.")
                       .arg(collectStatusText(collect)));
        if (collect.parserError) {
            printError(parserErrorText(collect.parserError));
        }
        co_return 1;
    }
    if (demo) {
        printError(QStringLiteral("No tool produced a usage row, so this is the demo fallback an "
                                  "upload would send. Run 'korvo-connector diagnose' to see what "
                                  "was found."));
        if (collect.parserError) {
            printError(parserErrorText(collect.parserError));
        }
    }
    print(json->endsWith(QLatin1Char('\n')) ? *json : *json + QLatin1Char('\n'));
    co_return 0;
}

QCoro::Task<int> CommandRunner::diagnose() {
    co_await model_.refreshSourceDiagnostics();
    const SourceDiagnosticsState& sources = model_.collector().diagnostics();
    print(sourceDiagnosticStatusText(sources) + QStringLiteral("\n\n") +
          SupportBundle::sourcesText(sources) + QLatin1Char('\n'));
    co_return 0;
}

QCoro::Task<int> CommandRunner::supportBundle() {
    co_await refreshLocalState();
    print(model_.supportBundleText() + QLatin1Char('\n'));
    co_return 0;
}

QCoro::Task<int> CommandRunner::status() {
    co_await refreshLocalState();
    const std::optional<LastSyncRecord> recorded =
        lastSyncRecord_.empty() ? std::nullopt : readLastSyncRecord(lastSyncRecord_);
    print(statusText(statusLines(model_, clock_(), recorded)));
    co_return 0;
}

QCoro::Task<int> CommandRunner::pair() {
    const PairingCodeOutcome created = co_await model_.createPairingCode();
    if (!created.session) {
        printError(created.error ? errorText(*created.error)
                                 : QStringLiteral("Unable to create pairing session."));
        co_return 2;
    }
    const PairingSessionResponse& session = *created.session;
    print(QStringLiteral("Pairing code: %1\nExpires %2\n")
              .arg(QString::fromStdString(session.pairingCode),
                   QString::fromStdString(relativeTimePhrase(session.expiresAt, clock_()))));
    if (const auto address = co_await webViewAddress(model_.relayClient().baseURL())) {
        print(QStringLiteral("Or open %1 on any phone and enter the code.\n")
                  .arg(address->toString(QUrl::FullyEncoded)));
    }
    print(QStringLiteral("\n"));
    print(QString::fromStdString(renderTerminalQr(session.qrPayload, output_.colors)));
    print(QStringLiteral("\nOpen Korvo on iPhone, choose Link Korvo Connector, then scan the QR "
                         "code or enter the 6-digit code.\nWaiting for iPhone…\n"));

    // Each new error while waiting, such as a relay that does not answer a status check.
    std::optional<ConnectorError> lastError = model_.connection().error();
    const auto connection =
        QObject::connect(&model_, &ConnectorModel::connectionChanged, [this, &lastError] {
            const std::optional<ConnectorError>& error = model_.connection().error();
            if (error && error != lastError) {
                printError(errorText(*error));
            }
            lastError = error;
        });
    const PairingOutcome outcome = co_await model_.pairingFinished();
    QObject::disconnect(connection);
    if (outcome != PairingOutcome::paired) {
        // A failed pairing's reason was printed as its error.
        printError(connectionStatusText(outcome == PairingOutcome::failed
                                            ? ConnectionStatus::pairingFailed
                                            : ConnectionStatus::codeExpired));
        co_return 1;
    }
    print(QStringLiteral("%1\nLast upload: %2\n")
              .arg(connectionStatusText(model_.connection().status()),
                   uploadStatusText(model_.uploader().state())));
    // Checked once now, so that `status` can tell how the relay answered.
    co_await model_.checkRelayHealth();
    co_return 0;
}

QCoro::Task<int> CommandRunner::runUntilStopped() {
    // Quota alerts as log lines, the same events the desktop app shows as notifications; a log
    // line disturbs no one, so they are always written.
    QuotaAlertMonitor alerts(model_, clock_, nullptr, [this](const QuotaAlert& alert) {
        print(QString::fromStdString(formatInternetDateTime(clock_())) + QLatin1Char(' ') +
              alert.logLine() + QLatin1Char('\n'));
    });
    co_await model_.start();
    print(connectionStatusText(model_.connection().status()) + QLatin1Char('\n'));
    // A stored pairing whose token the keychain cannot give yet (locked, or its service not yet
    // started at boot) keeps running: each cycle asks again.
    if (!model_.hasSyncSpace()) {
        printError(QStringLiteral("Not paired; run 'korvo-connector pair' first."));
        co_return 1;
    }
    // Progress for the terminal or the journal: each finished upload and each new error.
    UploadState lastUpload = model_.uploader().state();
    std::optional<ConnectorError> lastError = model_.connection().error();
    const auto uploads = QObject::connect(&model_, &ConnectorModel::uploadChanged, [&] {
        const UploadState& upload = model_.uploader().state();
        if (upload.phase == lastUpload.phase && upload.detail == lastUpload.detail) {
            return;
        }
        lastUpload = upload;
        if (upload.phase != UploadState::Phase::uploading) {
            print(QString::fromStdString(formatInternetDateTime(clock_())) +
                  QStringLiteral(" Last upload: ") + uploadStatusText(upload) + QLatin1Char('\n'));
        }
    });
    const auto errors = QObject::connect(&model_, &ConnectorModel::connectionChanged, [&] {
        if (model_.connection().error() != lastError) {
            lastError = model_.connection().error();
            if (lastError) {
                printError(errorText(*lastError));
            }
        }
    });
    if (termination_ != nullptr && termination_->isListening()) {
        co_await qCoro(termination_, &TerminationSignals::received);
    } else {
        // Without the signal pipe the signals keep their default action and end the process.
        co_await qCoro(&model_, &QObject::destroyed);
    }
    QObject::disconnect(errors);
    QObject::disconnect(uploads);
    model_.stopAutoSync();
    print(QStringLiteral("Stopped\n"));
    co_return 0;
}

QCoro::Task<int> CommandRunner::history(HistoryRequest request) {
    const Instant since = clock_() - request.since;
    // The read is started outside the co_await expression: the tool id it takes must not be
    // a temporary of that expression.
    std::string toolId = request.toolId ? request.toolId->toStdString() : std::string();
    auto reading = model_.historyPoints(std::move(toolId), since);
    const std::vector<UsageHistoryPoint> points = co_await reading;
    if (points.empty() && request.format == HistoryRequest::Format::table) {
        print(QStringLiteral("No usage recorded since %1.\n")
                  .arg(QString::fromStdString(formatInternetDateTime(since))));
        co_return 0;
    }
    print(historyText(points, request.format));
    co_return 0;
}

QCoro::Task<int> CommandRunner::unlink() {
    co_await model_.loadPairingState();
    const UnlinkOutcome outcome = co_await model_.unlinkDevice();
    if (outcome == UnlinkOutcome::failed) {
        printError(errorText(model_.connection().error().value_or(
            ConnectorError{ConnectorError::Kind::unlinkFailed, {}})));
        co_return 1;
    }
    print(connectionStatusText(model_.connection().status()) + QLatin1Char('\n'));
    co_return 0;
}

} // namespace korvo

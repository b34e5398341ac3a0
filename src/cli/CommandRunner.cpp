#include "cli/CommandRunner.h"

#include "cli/StatusLines.h"
#include "cli/TerminationSignals.h"
#include "core/ConnectorModel.h"
#include "model/TimeText.h"

#include <QTimer>
#include <qcoro/qcorotimer.h>

namespace korvo {
namespace {

constexpr std::chrono::milliseconds kWaitPollInterval{50};
const QString kExpired = QStringLiteral("Pairing code expired");
const QString kUnlinkFailed = QStringLiteral("Unable to unlink this Mac from Relay.");

bool uploadFinished(const ConnectorModel& model) {
    return model.lastUploadStatus().startsWith(QLatin1String("Uploaded ")) ||
           model.lastUploadStatus() == QLatin1String("Failed");
}

} // namespace

CommandRunner::CommandRunner(ConnectorModel& model, Clock clock, CommandOutput output,
                             TerminationSignals* termination)
    : model_(model), clock_(std::move(clock)), output_(output), termination_(termination) {}

QString CommandRunner::sourceBlocks(const QString& supportBundle) {
    const QString start = QStringLiteral("\n\nSources:\n");
    const QString end = QStringLiteral("\n\nRelay devices:\n");
    const auto from = supportBundle.indexOf(start);
    if (from < 0) {
        return {};
    }
    const auto begin = from + start.size();
    const auto to = supportBundle.indexOf(end, begin);
    return supportBundle.mid(begin, to < 0 ? -1 : to - begin);
}

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

QCoro::Task<> CommandRunner::waitUntil(std::function<bool()> done) {
    // A short poll rather than awaiting the model's change signal: an awaited signal that fires
    // twice before the first delivery would resume a finished wait.
    while (!done()) {
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(kWaitPollInterval);
        co_await timer;
    }
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
        model_.saveRelaySettings();
        if (model_.relayHealthStatus() == QLatin1String("Invalid URL")) {
            printError(
                QStringLiteral("--relay %1: %2").arg(*request.relay, model_.relayHealthStatus()));
            co_return 2;
        }
    }
    const QString& command = request.command;
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
    printError(QStringLiteral("Unknown command '%1'.").arg(command));
    co_return 2;
}

QCoro::Task<int> CommandRunner::snapshot() {
    co_await model_.loadPairingState();
    co_await model_.refreshLocalLimits();
    const std::optional<QString> json =
        model_.localLimitSnapshot() ? model_.latestSnapshotJSON() : std::nullopt;
    if (!json) {
        printError(QStringLiteral("No tool produced a usage row (%1). Run 'korvo-connector "
                                  "diagnose' to see what was found.")
                       .arg(model_.lastCollectStatus()));
        if (model_.lastParserError() != QLatin1String("None")) {
            printError(model_.lastParserError());
        }
        co_return 1;
    }
    print(json->endsWith(QLatin1Char('\n')) ? *json : *json + QLatin1Char('\n'));
    co_return 0;
}

QCoro::Task<int> CommandRunner::diagnose() {
    co_await model_.refreshSourceDiagnostics();
    print(model_.sourceDiagnosticStatus() + QStringLiteral("\n\n") +
          sourceBlocks(model_.supportBundleText()) + QLatin1Char('\n'));
    co_return 0;
}

QCoro::Task<int> CommandRunner::supportBundle() {
    co_await refreshLocalState();
    print(model_.supportBundleText() + QLatin1Char('\n'));
    co_return 0;
}

QCoro::Task<int> CommandRunner::status() {
    co_await refreshLocalState();
    print(statusText(statusLines(model_, clock_())));
    co_return 0;
}

QCoro::Task<int> CommandRunner::pair() {
    co_await model_.createPairingCode();
    const auto& session = model_.pairingSession();
    if (!session) {
        printError(
            model_.errorMessage().value_or(QStringLiteral("Unable to create pairing session.")));
        co_return 2;
    }
    print(QStringLiteral("Pairing code: %1\nExpires %2\n\n")
              .arg(QString::fromStdString(session->pairingCode),
                   QString::fromStdString(relativeTimePhrase(session->expiresAt, clock_()))));
    print(QString::fromStdString(renderTerminalQr(session->qrPayload, output_.colors)));
    print(QStringLiteral("\nOpen Korvo on iPhone, choose Link Korvo Connector, then scan the QR "
                         "code or enter the 6-digit code.\nWaiting for iPhone…\n"));

    std::optional<QString> lastError;
    bool paired = false;
    co_await waitUntil([&] {
        if (model_.errorMessage() && model_.errorMessage() != lastError) {
            printError(*model_.errorMessage());
        }
        lastError = model_.errorMessage();
        if (!paired && model_.syncSpaceId() && !model_.isPollingForPairing() &&
            model_.statusMessage() != kExpired) {
            paired = model_.isPaired();
        }
        return (!model_.isPollingForPairing() && model_.statusMessage() == kExpired) ||
               (paired && uploadFinished(model_) &&
                model_.deviceListStatus() != QLatin1String("Not loaded"));
    });
    if (!paired) {
        printError(kExpired);
        co_return 1;
    }
    print(QStringLiteral("%1\nLast upload: %2\n")
              .arg(model_.statusMessage(), model_.lastUploadStatus()));
    co_return 0;
}

QCoro::Task<int> CommandRunner::runUntilStopped() {
    co_await model_.start();
    print(model_.statusMessage() + QLatin1Char('\n'));
    if (!model_.isPaired()) {
        printError(QStringLiteral("Not paired; run 'korvo-connector pair' first."));
        co_return 1;
    }
    // Progress for the terminal or the journal: each finished upload and each new error.
    QString lastUpload = model_.lastUploadStatus();
    std::optional<QString> lastError = model_.errorMessage();
    auto connection = QObject::connect(&model_, &ConnectorModel::stateChanged, [&] {
        if (model_.lastUploadStatus() != lastUpload) {
            lastUpload = model_.lastUploadStatus();
            if (lastUpload != QLatin1String("Uploading")) {
                print(QString::fromStdString(formatInternetDateTime(clock_())) +
                      QStringLiteral(" Last upload: ") + lastUpload + QLatin1Char('\n'));
            }
        }
        if (model_.errorMessage() != lastError) {
            lastError = model_.errorMessage();
            if (lastError) {
                printError(*lastError);
            }
        }
    });
    bool stopRequested = false;
    QMetaObject::Connection stop;
    if (termination_ != nullptr) {
        stop = QObject::connect(termination_, &TerminationSignals::received, &model_,
                                [&stopRequested] { stopRequested = true; });
    }
    // Without the descriptor the signals keep their default action and end the process.
    co_await waitUntil([&stopRequested] { return stopRequested; });
    QObject::disconnect(stop);
    QObject::disconnect(connection);
    model_.stopAutoSync();
    print(QStringLiteral("Stopped\n"));
    co_return 0;
}

QCoro::Task<int> CommandRunner::unlink() {
    co_await model_.loadPairingState();
    co_await model_.unlinkDevice();
    if (model_.errorMessage() == kUnlinkFailed) {
        printError(*model_.errorMessage());
        co_return 1;
    }
    print(model_.statusMessage() + QLatin1Char('\n'));
    co_return 0;
}

} // namespace korvo

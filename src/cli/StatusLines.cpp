#include "cli/StatusLines.h"

#include "core/ConnectorModel.h"
#include "core/ConnectorStatusText.h"
#include "core/DesktopWording.h"
#include "core/ProviderPace.h"
#include "model/DisplayText.h"
#include "model/TimeText.h"

#include <QStringList>
#include <string>
#include <vector>

namespace korvo {
namespace {

// Every date here is of something that has happened: it never reads as a future, also when it
// was stamped a moment after `now` was read.
QString relativeOrNever(const std::optional<Instant>& date, Instant now) {
    if (!date) {
        return QStringLiteral("Never");
    }
    if (*date > now - std::chrono::seconds(60)) {
        return QStringLiteral("less than 1 minute ago");
    }
    return QString::fromStdString(relativeTimePhrase(*date, now));
}

// "70% remaining (5h), resets in 1 h 40 min · Weekly 90% remaining, resets Mon 09:00", or the
// usage of a tool that reports no share ("123,456 tokens used this session").
QString limitText(const ProviderUsage& provider, Instant now) {
    const UsageFigure figure = usageFigure(provider);
    std::string text = figure.figure;
    if (!figure.caption.empty()) {
        text += " " + figure.caption;
    }
    if (figure.isRemaining && limitGaugeValue(provider)) {
        if (provider.window && provider.window->label && !provider.window->label->empty()) {
            text += " (" + *provider.window->label + ")";
        }
        if (provider.window && provider.window->resetAt) {
            text += ", resets " + resetText(provider, now);
        }
        if (const auto second = secondWindow(provider)) {
            text += " \u00B7 " + secondWindowName(*second) + " " +
                    wholePercentText(second->remainingPercent) + " remaining";
            if (second->resetAt) {
                text += ", resets " +
                        resetPhrase(*second->resetAt, now, localUtcOffset(*second->resetAt));
            }
        }
    }
    return QString::fromStdString(text);
}

QString trackingStatusOf(const ConnectorModel& model, std::string_view id) {
    for (const auto& diagnostic : model.collector().diagnostics().diagnostics) {
        if (diagnostic.id == id) {
            return QString::fromStdString(diagnostic.trackingStatus);
        }
    }
    return QStringLiteral("Not checked");
}

QString detectedCliNames(const ConnectorModel& model) {
    QStringList names;
    for (const auto& diagnostic : model.collector().diagnostics().diagnostics) {
        if (diagnostic.isAvailable && diagnostic.id != "mock" && diagnostic.id != "claude-code" &&
            diagnostic.id != "codex") {
            names << QString::fromStdString(diagnostic.displayName);
        }
    }
    return names.isEmpty() ? QStringLiteral("None") : names.join(QStringLiteral(", "));
}

} // namespace

std::vector<StatusLine> statusLines(const ConnectorModel& model, Instant now,
                                    const std::optional<LastSyncRecord>& recorded) {
    const RelayState& relay = model.relaySettings().state();
    const CollectState& collect = model.collector().collect();
    const UploadState& upload = model.uploader().state();
    const AutoSyncState& autoSync = model.autoSync().state();
    const UpdateState& updates = model.updateChecker().state();
    const QString relayURL = RelayAddress::printable(relay.baseURLString);
    const QString pairing = model.pairing().state().isCreatingCode ? QStringLiteral("Pairing")
                            : model.isPaired()                     ? QStringLiteral("Paired")
                                                                   : QStringLiteral("Not paired");
    std::vector<StatusLine> lines = {
        {QStringLiteral("Status"), connectionStatusText(model.connection().status())},
        {QStringLiteral("Relay URL"), relayURL},
        {QStringLiteral("Relay"), relayHealthText(relay)},
        {QStringLiteral("Relay env"), relayEnvironmentText(relay)},
        {QStringLiteral("Pairing"), pairing},
        {QStringLiteral("Claude source"), trackingStatusOf(model, "claude-code")},
        {QStringLiteral("Codex source"), trackingStatusOf(model, "codex")},
        {QStringLiteral("Sources / CLIs"),
         sourceDiagnosticStatusText(model.collector().diagnostics())},
        {QStringLiteral("Detected CLIs"), detectedCliNames(model)},
        {QStringLiteral("Collect"), collectStatusText(collect)},
        {QStringLiteral("Last collect"), relativeOrNever(collect.lastSuccessfulCollectAt, now)},
        {QStringLiteral("Parser error"), parserErrorText(collect.parserError)},
        {QStringLiteral("Last upload"), uploadStatusText(upload)},
        {QStringLiteral("Upload time"), relativeOrNever(upload.lastUploadAt, now)},
        {QStringLiteral("Upload error"), uploadErrorText(upload)},
        {QStringLiteral("Auto sync"), autoSyncStatusText(autoSync.status)},
        {QStringLiteral("Mac power"), powerStatusText(autoSync)},
        {QStringLiteral("Last sleep"), relativeOrNever(autoSync.lastSleepAt, now)},
        {QStringLiteral("Last wake"), relativeOrNever(autoSync.lastWakeAt, now)},
        {QStringLiteral("Sync interval"), QStringLiteral("30 seconds")},
        {QStringLiteral("Open at Login"), loginItemStatusText(model.launchAtLogin().state())},
        {QStringLiteral("Updates"), updateStatusText(updates)},
        {QStringLiteral("Update check"), relativeOrNever(updates.lastCheckAt, now)},
        {QStringLiteral("Devices"), deviceListStatusText(relay)},
        {QStringLiteral("Device error"), deviceListErrorText(relay)},
    };
    if (recorded && recorded->relayURL == relayURL) {
        const auto set = [&lines](const char* label, const QString& value) {
            for (StatusLine& line : lines) {
                if (line.label == QLatin1String(label)) {
                    line.value = value;
                }
            }
        };
        if (relay.health == RelayState::Health::notChecked && recorded->relayCheckAt) {
            set("Relay", recorded->relay + QStringLiteral(", checked ") +
                             relativeOrNever(recorded->relayCheckAt, now));
        }
        if (upload.phase == UploadState::Phase::never && model.hasSyncSpace() &&
            recorded->uploadAt) {
            set("Last upload", recorded->upload);
            set("Upload time", relativeOrNever(recorded->uploadAt, now));
            set("Upload error", recorded->uploadError);
        }
    }
    if (const std::optional<QString> warning = relayTransportWarningText(relay)) {
        lines.insert(lines.begin() + 2, {QStringLiteral("Relay warning"), *warning});
    }
    // The figures on display, one line per tool, first and second window alike, then the pace
    // of each tool's window: "Claude Code (5h): At this pace: ...".
    if (const auto& snapshot = model.displaySnapshot()) {
        for (const ProviderUsage& provider : snapshot->providers) {
            lines.push_back(
                {QString::fromStdString(provider.displayName), limitText(provider, now)});
        }
        const std::vector<ProviderPace> paces = providerPaces(*snapshot, collect.history, now);
        for (std::size_t i = 0; i < paces.size(); ++i) {
            // A tool that reports no percentage has no window to run out of.
            if (!snapshot->providers[i].usage.usedPercent &&
                !snapshot->providers[i].usage.remainingPercent) {
                continue;
            }
            lines.push_back({QStringLiteral("%1 (%2)").arg(
                                 paces[i].displayName,
                                 QString::fromStdString(primaryWindowText(snapshot->providers[i]))),
                             paces[i].text});
        }
    }
    if (const std::optional<QString> error = errorText(model.connection().error())) {
        lines.push_back({QStringLiteral("Error"), *error});
    }
    return lines;
}

QString statusText(const std::vector<StatusLine>& lines) {
    QString text;
    for (const auto& line : lines) {
        // Worded for this desktop, as the window words the same fields ("Computer power").
        text += desktopWording(line.label) + QStringLiteral(": ") + desktopWording(line.value) +
                QLatin1Char('\n');
    }
    return text;
}

} // namespace korvo

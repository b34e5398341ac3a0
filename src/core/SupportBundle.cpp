#include "core/SupportBundle.h"

#include "core/ConnectorModelText.h"
#include "model/DisplayText.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>

namespace korvo {

namespace {

// The locale's date without the weekday and with the abbreviated month ("MMM d, yyyy" in
// English), built from its long date format.
QString abbreviatedDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("^dddd[,\\s]*|[,\\s]*dddd"));
    format.remove(weekday);
    format.replace(QLatin1String("MMMM"), QLatin1String("MMM"));
    return format.trimmed();
}

// The locale's time with seconds and without the time zone ("h:mm:ss AP" in English).
QString standardTimeFormat(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
    format.remove(zone);
    return format.trimmed();
}

QString joined(const std::vector<std::string>& parts, const QString& separator) {
    QStringList list;
    list.reserve(qsizetype(parts.size()));
    for (const std::string& part : parts) {
        list.append(qText(part));
    }
    return list.join(separator);
}

} // namespace

SupportBundle::SupportBundle(Settings settings) : settings_(std::move(settings)) {}

QString SupportBundle::dateText(const std::optional<Instant>& date) const {
    if (!date) {
        return QStringLiteral("never");
    }
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(date->time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds, QTimeZone::utc())
                                .toTimeZone(settings_.timeZone);
    const QLocale& locale = settings_.locale;
    const QString separator =
        locale.language() == QLocale::English ? QStringLiteral(" at ") : QStringLiteral(", ");
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + separator +
           locale.toString(local.time(), standardTimeFormat(locale));
}

QString SupportBundle::text(const State& state) const {
    const BuildInfo& build = settings_.buildInfo;
    const std::optional<std::string> channel =
        build.channel ? std::optional<std::string>(stdText(*build.channel)) : std::nullopt;
    const KorvoBuildChannel buildChannel = KorvoBuildChannel::fromConfiguredValue(channel);
    const std::optional<UsageSnapshot>& snapshot = state.snapshot;

    QString text;
    text +=
        QStringLiteral("Korvo Connector Support Bundle\nGenerated: ") + dateText(settings_.clock());
    text += QStringLiteral("\nApp surface: macOS Connector\nApp version: ") +
            build.version.value_or(QStringLiteral("unknown")) + QStringLiteral(" (") +
            build.build.value_or(QStringLiteral("unknown")) + QStringLiteral(")\nBuild channel: ") +
            qText(buildChannelLabel(buildChannel));
    text += QStringLiteral(
                "\nSafety: sanitized Connector state only; no provider API keys, cookies, OAuth "
                "tokens, session keys, auth files, raw provider logs, or raw prompts.\nTester "
                "note: Describe what looked wrong, then paste this bundle and the iPhone support "
                "bundle if available.\n\nStatus: ") +
            state.status;
    text += QStringLiteral("\nRelay URL: ") + state.relayURL;
    text += QStringLiteral("\nRelay health: ") + state.relayHealth;
    text += QStringLiteral("\nRelay env: ") + state.relayEnvironment;
    text += QStringLiteral("\nPaired: ") +
            (state.paired ? QStringLiteral("yes") : QStringLiteral("no"));
    text += QStringLiteral("\nSync space: ") + state.syncSpaceId.value_or(QStringLiteral("none"));
    text += QStringLiteral("\nConnector device: ") + state.connectorDeviceId;
    text += QStringLiteral("\nAuto sync: ") + state.autoSync;
    text += QStringLiteral("\nSync interval: 30 seconds");
    text += QStringLiteral("\nMac power: ") + state.power;
    text += QStringLiteral("\nLast sleep: ") + dateText(state.lastSleepAt);
    text += QStringLiteral("\nLast wake: ") + dateText(state.lastWakeAt);
    text += QStringLiteral("\nOpen at Login: ") + state.launchAtLogin;
    text += QStringLiteral("\nUpdate status: ") + state.updateStatus;
    text += QStringLiteral("\nLast update check: ") + dateText(state.lastUpdateCheckAt);
    text += QStringLiteral("\nLast collect: ") + dateText(state.lastCollectAt);
    text += QStringLiteral("\nCollect status: ") + state.collectStatus;
    text += QStringLiteral("\nParser error: ") + state.parserError;
    text += QStringLiteral("\nLast upload: ") + state.lastUpload;
    text += QStringLiteral("\nLast upload at: ") + dateText(state.lastUploadAt);
    text += QStringLiteral("\nLast upload error: ") + state.lastUploadError;
    text += QStringLiteral("\nDevices: ") + state.deviceListStatus;
    text += QStringLiteral("\nDevice list error: ") + state.deviceListError;

    text += QStringLiteral("\n\nLatest snapshot:\n") +
            (snapshot ? qText(snapshot->snapshotId) : QStringLiteral("none")) + u'\n' +
            dateText(snapshot ? std::optional<Instant>(snapshot->updatedAt) : std::nullopt);

    QStringList providerBlocks;
    if (snapshot) {
        for (const ProviderUsage& row : snapshot->providers) {
            const std::optional<Instant> resetAt =
                row.window ? row.window->resetAt : std::optional<Instant>();
            QString block = QStringLiteral("- ") + qText(row.displayName);
            block += QStringLiteral("\n  primary remaining: ") + qText(primaryRemainingText(row));
            block += QStringLiteral("\n  primary used: ") + qText(primaryUsedText(row));
            block += QStringLiteral("\n  primary window: ") + qText(primaryWindowText(row));
            block += QStringLiteral("\n  reset: ") +
                     (resetAt ? dateText(resetAt) : QStringLiteral("unavailable"));
            block += QStringLiteral("\n  additional limits: ") +
                     qText(row.usage.remainingText).value_or(QStringLiteral("none"));
            block += QStringLiteral("\n  source: ") + qText(sourceLabel(row.source));
            block += QStringLiteral("\n  confidence: ") + qText(confidenceLabel(row.confidence));
            block += QStringLiteral("\n  status: ") + qText(std::string(rawValue(row.status)));
            block += QStringLiteral("\n  observed: ") + dateText(row.observedAt);
            providerBlocks.append(block);
        }
    }
    text += QStringLiteral("\n\nProviders:\n") +
            (snapshot ? providerBlocks.join(u'\n') : QStringLiteral("- no latest snapshot"));

    text += QStringLiteral("\n\nSources:\n") + sourcesText(state.sources);

    QStringList deviceLines;
    for (const RelayDevice& device : state.devices) {
        deviceLines.append(QStringLiteral("- ") + qText(device.name) + QStringLiteral(" (") +
                           qText(device.kind) + QStringLiteral("): ") + qText(device.id) +
                           QStringLiteral(", lastSeenAt: ") +
                           qText(device.lastSeenAt).value_or(QStringLiteral("never")));
    }
    const QString devices = deviceLines.join(u'\n');
    text += QStringLiteral("\n\nRelay devices:\n") +
            (devices.isEmpty() ? QStringLiteral("- not loaded") : devices);
    return text;
}

QString SupportBundle::sourcesText(const SourceDiagnosticsState& sources) {
    QStringList blocks;
    for (const AdapterDiagnostic& diagnostic : sources.diagnostics) {
        QString block =
            QStringLiteral("- ") + qText(diagnostic.displayName) + QStringLiteral(": ") +
            (diagnostic.isAvailable ? QStringLiteral("found") : QStringLiteral("not found"));
        block += QStringLiteral("\n  ") + qText(diagnostic.summary);
        block += QStringLiteral("\n  capabilities: ") +
                 joined(diagnostic.detailLines(), QStringLiteral("; "));
        block +=
            QStringLiteral("\n  paths: ") + joined(diagnostic.checkedPaths, QStringLiteral("; "));
        block +=
            QStringLiteral("\n  warnings: ") + joined(diagnostic.warnings, QStringLiteral("; "));
        blocks.append(block);
    }
    return blocks.isEmpty() ? QStringLiteral("- not checked") : blocks.join(u'\n');
}

} // namespace korvo

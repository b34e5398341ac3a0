#pragma once

#include "core/ConnectorState.h"
#include "model/Clock.h"
#include "platform/BuildInfo.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>
#include <vector>

namespace korvo {

// The support bundle: the sanitized state of every concern as text, which a person pastes when
// asking for help. Dates are written for one locale and time zone.
class SupportBundle {
public:
    // The values the bundle prints, in its order; whoever owns the concerns fills it.
    struct State {
        QString status;
        QString relayURL; // without user info
        QString relayHealth;
        QString relayEnvironment;
        bool paired = false;
        std::optional<QString> syncSpaceId;
        QString connectorDeviceId;
        QString autoSync;
        QString power;
        std::optional<Instant> lastSleepAt;
        std::optional<Instant> lastWakeAt;
        QString launchAtLogin;
        QString updateStatus;
        std::optional<Instant> lastUpdateCheckAt;
        std::optional<Instant> lastCollectAt;
        QString collectStatus;
        QString parserError;
        QString lastUpload;
        std::optional<Instant> lastUploadAt;
        QString lastUploadError;
        QString deviceListStatus;
        QString deviceListError;
        std::optional<UsageSnapshot> snapshot; // the one on display
        SourceDiagnosticsState sources;
        std::vector<RelayDevice> devices;
    };

    struct Settings {
        BuildInfo buildInfo;
        Clock clock;
        QLocale locale;
        QTimeZone timeZone;
    };

    explicit SupportBundle(Settings settings);

    QString text(const State& state) const;
    // A date as the bundle writes it ("Mar 1, 2026 at 9:14:05 AM"), "never" when absent.
    QString dateText(const std::optional<Instant>& date) const;
    // The sources section: one block per source diagnostic.
    static QString sourcesText(const SourceDiagnosticsState& sources);

private:
    Settings settings_;
};

} // namespace korvo

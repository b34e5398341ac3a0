#pragma once

#include "core/ConnectorState.h"
#include "model/Clock.h"
#include "platform/BuildInfo.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>

namespace korvo {

class ConnectorModel;

// The support bundle: the sanitized state of every concern as text, which a person pastes when
// asking for help. Dates are written for one locale and time zone.
class SupportBundle {
public:
    struct Settings {
        BuildInfo buildInfo;
        Clock clock;
        QLocale locale;
        QTimeZone timeZone;
    };

    explicit SupportBundle(Settings settings);

    QString text(const ConnectorModel& model) const;
    // A date as the bundle writes it ("Mar 1, 2026 at 9:14:05 AM"), "never" when absent.
    QString dateText(const std::optional<Instant>& date) const;
    // The sources section: one block per source diagnostic.
    static QString sourcesText(const SourceDiagnosticsState& sources);

private:
    Settings settings_;
};

} // namespace korvo

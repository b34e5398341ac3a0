#include "app/ViewText.h"

#include "model/DisplayText.h"
#include "model/TimeText.h"

#include <algorithm>
#include <cmath>

namespace korvo {

Tint statusTint(ProviderStatus status) {
    switch (status) {
    case ProviderStatus::ok:
        return Tint::green;
    case ProviderStatus::warning:
        return Tint::orange;
    case ProviderStatus::critical:
    case ProviderStatus::limited:
        return Tint::red;
    case ProviderStatus::offline:
    case ProviderStatus::stale:
    case ProviderStatus::unknown:
        break;
    }
    return Tint::secondary;
}

std::string pairingStateText(bool isPairing, bool isPaired) {
    if (isPairing) {
        return "Pairing";
    }
    return isPaired ? "Paired" : "Not paired";
}

std::string detectedCliText(const std::vector<AdapterDiagnostic>& diagnostics) {
    std::string text;
    for (const AdapterDiagnostic& diagnostic : diagnostics) {
        if (!diagnostic.isAvailable || diagnostic.id == "mock" || diagnostic.id == "claude-code" ||
            diagnostic.id == "codex") {
            continue;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += diagnostic.displayName;
    }
    return text.empty() ? "None" : text;
}

std::string trackingStatusOf(const std::vector<AdapterDiagnostic>& diagnostics,
                             std::string_view id) {
    const auto found = std::find_if(diagnostics.begin(), diagnostics.end(),
                                    [id](const AdapterDiagnostic& d) { return d.id == id; });
    return found == diagnostics.end() ? "Not checked" : found->trackingStatus;
}

std::string relativePastPhrase(Instant date, Instant now) {
    // The window renders past dates again once a minute, not every second (a paired connector
    // uploads every 30 s, so some date is always under a minute old): a count of seconds would
    // stand still, so the first minute reads as one phrase. A date stamped a moment after the
    // clock was read counts as past.
    if (date > now - std::chrono::seconds(60)) {
        return "less than 1 minute ago";
    }
    return relativeTimePhrase(date, now);
}

std::string relativeOrNever(const std::optional<Instant>& date, Instant now) {
    return date ? relativePastPhrase(*date, now) : "Never";
}

std::optional<std::chrono::milliseconds> relativeTimeRefreshDelay(const std::vector<Instant>& dates,
                                                                  Instant now) {
    using std::chrono::milliseconds;
    if (dates.empty()) {
        return std::nullopt;
    }
    // Only a future date (a reset, a pairing code's expiry) counts down in seconds.
    const bool near = std::any_of(dates.begin(), dates.end(), [now](Instant date) {
        return date > now && date - now < std::chrono::seconds(60);
    });
    return near ? milliseconds(1000) : milliseconds(60000);
}

bool syncIsFailing(bool isPaired, UploadState::Phase upload) {
    return isPaired && upload == UploadState::Phase::failed;
}

QString shownStatusText(const QString& statusMessage, bool isPaired, UploadState::Phase upload) {
    return syncIsFailing(isPaired, upload) ? QStringLiteral("Sync failing; retrying")
                                           : desktopWording(statusMessage);
}

std::string snapshotSummaryText(const ProviderUsage& provider) {
    std::string text;
    const auto append = [&text](const std::optional<double>& value, std::string_view suffix) {
        if (const auto present = finiteValue(value)) {
            if (!text.empty()) {
                text += " · ";
            }
            text +=
                suffix.starts_with("%") ? wholeNumberText(*present) : groupedNumberText(*present);
            text += suffix;
        }
    };
    append(provider.usage.remainingPercent, "% remaining");
    append(provider.usage.usedPercent, "% used");
    append(provider.usage.inputTokens, " input");
    append(provider.usage.outputTokens, " output");
    append(provider.usage.cachedInputTokens, " cached");
    return text.empty() ? "Usage unknown" : text;
}

std::string limitsCaptionText(bool notUploaded, const std::optional<Instant>& lastUpload,
                              Instant now) {
    if (!notUploaded) {
        return "Latest local read";
    }
    std::string text = "Latest local read \u00B7 not uploaded yet";
    if (lastUpload) {
        text += " (the phone shows the upload of " + relativePastPhrase(*lastUpload, now) + ")";
    }
    return text;
}

std::string menuProviderText(const ProviderUsage& provider) {
    const UsageFigure figure = usageFigure(provider);
    std::string text = provider.displayName + "  " + figure.figure;
    if (!figure.isRemaining && figure.caption == "used this session") {
        text += " used";
    }
    if (const auto second = secondWindow(provider); second && limitGaugeValue(provider)) {
        text += " \u00B7 " + secondWindowName(*second) + " " +
                wholePercentText(second->remainingPercent);
    }
    return text;
}

TrayGlance trayGlance(const std::optional<UsageSnapshot>& snapshot, bool hasSyncSpace,
                      bool syncFailing) {
    TrayGlance glance;
    bool limited = false;
    if (snapshot) {
        for (const ProviderUsage& provider : snapshot->providers) {
            const auto lowest = lowestRemaining(provider);
            if (!lowest) {
                limited = limited || provider.status == ProviderStatus::limited;
                continue;
            }
            const ProviderStatus status =
                lowest->windowName.empty() && provider.status != ProviderStatus::unknown
                    ? provider.status
                    : statusForRemaining(lowest->percent);
            limited = limited || status == ProviderStatus::limited;
            if (!glance.lowest || lowest->percent < *glance.lowest) {
                glance.lowest = lowest->percent;
                glance.lowestStatus = status;
                glance.toolText =
                    provider.displayName + " " + wholePercentText(lowest->percent) + " remaining";
                if (!lowest->windowName.empty()) {
                    glance.toolText += " (" + lowest->windowName + ")";
                }
            }
        }
    }
    if (limited) {
        glance.mark = TrayGlance::Mark::limited;
    } else if (syncFailing) {
        glance.mark = TrayGlance::Mark::failing;
    } else if (!hasSyncSpace) {
        glance.mark = TrayGlance::Mark::notPaired;
    }
    return glance;
}

QString trayToolTip(const TrayGlance& glance, const QString& status) {
    QString tip = QStringLiteral("Korvo Connector: ");
    if (!glance.toolText.empty()) {
        tip += QString::fromStdString(glance.toolText) + QStringLiteral(" \u00B7 ");
    }
    return tip + status;
}

SymbolChoice connectedSourceSymbol(const AdapterDiagnostic& diagnostic) {
    if (diagnostic.limitDataFound) {
        return {"gauge.with.dots.needle.67percent", Tint::green};
    }
    if (diagnostic.isAvailable) {
        return {"checkmark.circle.fill", Tint::blue};
    }
    return {"circle", Tint::secondary};
}

SymbolChoice diagnosticSourceSymbol(const AdapterDiagnostic& diagnostic) {
    if (diagnostic.limitDataFound) {
        return {"checkmark.circle.fill", Tint::green};
    }
    if (diagnostic.isAvailable) {
        return {"exclamationmark.circle", Tint::orange};
    }
    return {"circle", Tint::secondary};
}

} // namespace korvo

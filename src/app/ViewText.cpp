#include "app/ViewText.h"

#include "model/TimeText.h"

#include <algorithm>
#include <cmath>

namespace korvo {

namespace {

std::optional<double> finite(const std::optional<double>& value) {
    if (value && std::isfinite(*value)) {
        return value;
    }
    return std::nullopt;
}

} // namespace

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

std::string relativeOrNever(const std::optional<Instant>& date, Instant now) {
    return date ? relativeTimePhrase(*date, now) : "Never";
}

std::string snapshotSummaryText(const ProviderUsage& provider) {
    std::string text;
    const auto append = [&text](const std::optional<double>& value, std::string_view suffix) {
        if (const auto present = finite(value)) {
            if (!text.empty()) {
                text += " · ";
            }
            text += wholeNumberText(*present);
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

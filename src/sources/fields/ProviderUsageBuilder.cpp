#include "sources/fields/ProviderUsageBuilder.h"

#include <algorithm>
#include <cmath>

namespace korvo {

double normalizedPercent(double value) {
    const double percent = value <= 1 ? value * 100 : value;
    return std::clamp(percent, 0.0, 100.0);
}

std::string percentRemainingText(std::string_view label, double used) {
    return percentRemainingTextForPercent(label, normalizedPercent(used));
}

std::string percentRemainingTextForPercent(std::string_view label, double usedPercent) {
    const long long usedWhole = std::llround(std::clamp(usedPercent, 0.0, 100.0));
    const long long remainingWhole = 100 - usedWhole;
    std::string text(label);
    text += ' ';
    text += std::to_string(remainingWhole);
    text += "% remaining · ";
    text += std::to_string(usedWhole);
    text += "% used";
    return text;
}

ProviderUsage makeProviderUsage(std::string id, std::string displayName, SourceType source,
                                Confidence confidence, const SanitizedUsageCandidate& candidate,
                                Instant now) {
    std::optional<double> used;
    std::optional<double> remaining;
    if (candidate.usedPercent) {
        used = normalizedPercent(*candidate.usedPercent);
    }
    if (candidate.remainingPercent) {
        remaining = normalizedPercent(*candidate.remainingPercent);
    }
    std::optional<Instant> resetAt = candidate.resetAt;
    std::optional<std::string> remainingText = candidate.remainingText;
    std::optional<ProviderStatus> status;

    const std::optional<double> knownRemaining =
        remaining ? remaining
                  : (used ? std::optional<double>(std::max(0.0, 100 - *used)) : std::nullopt);
    if (resetAt && *resetAt < now && knownRemaining && *knownRemaining <= 0.5) {
        // The sample shows an exhausted window whose reset time has passed.
        used.reset();
        remaining.reset();
        resetAt.reset();
        status = ProviderStatus::unknown;
        remainingText = remainingText ? std::string(kWindowResetText) + " · " + *remainingText
                                      : std::string(kWindowResetText);
    } else {
        if (used && !remaining) {
            remaining = std::max(0.0, 100 - *used);
        } else if (remaining && !used) {
            used = std::max(0.0, 100 - *remaining);
        }
        if (candidate.status) {
            status = candidate.status;
        } else if (remaining && *remaining <= 0) {
            status = ProviderStatus::limited;
        } else if (used) {
            status = *used >= 95   ? ProviderStatus::critical
                     : *used >= 80 ? ProviderStatus::warning
                                   : ProviderStatus::ok;
        } else {
            status = ProviderStatus::unknown;
        }
    }

    ProviderUsage row;
    row.id = std::move(id);
    row.displayName = std::move(displayName);
    row.source = source;
    row.confidence = confidence;
    row.status = *status;
    UsageWindow window;
    window.kind = UsageWindowKind::unknown;
    window.label = candidate.windowLabel;
    window.resetAt = resetAt;
    row.window = window;
    row.usage.usedPercent = used;
    row.usage.remainingPercent = remaining;
    row.usage.inputTokens = candidate.inputTokens;
    row.usage.outputTokens = candidate.outputTokens;
    row.usage.cachedInputTokens = candidate.cachedInputTokens;
    row.usage.costUsd = candidate.costUsd;
    row.usage.remainingText = remainingText;
    row.observedAt = candidate.observedAt.value_or(now);
    return row;
}

ProviderUsage makePlaceholderUsage(std::string id, std::string displayName,
                                   std::string remainingText, Instant now) {
    ProviderUsage row;
    row.id = std::move(id);
    row.displayName = std::move(displayName);
    row.source = SourceType::localCli;
    row.confidence = Confidence::inferred;
    row.status = ProviderStatus::unknown;
    UsageWindow window;
    window.kind = UsageWindowKind::unknown;
    row.window = window;
    row.usage.remainingText = std::move(remainingText);
    row.observedAt = now;
    return row;
}

} // namespace korvo

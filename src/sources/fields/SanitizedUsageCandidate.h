#pragma once

// The small fixed set of fields that an adapter keeps from whatever a tool's files hold. Nothing
// else read from disk ever reaches a provider row.

#include "model/Instant.h"
#include "model/UsageSnapshot.h"

#include <optional>
#include <string>

namespace korvo {

struct SanitizedUsageCandidate {
    std::optional<double> usedPercent;      // as found: 0 to 1 or 0 to 100
    std::optional<double> remainingPercent; // as found
    std::optional<double> inputTokens;
    std::optional<double> outputTokens;
    std::optional<double> cachedInputTokens;
    std::optional<double> costUsd;
    std::optional<std::string> remainingText;
    std::optional<Instant> resetAt;
    std::optional<std::string> windowLabel;
    std::optional<ProviderStatus> status;
    std::optional<Instant> observedAt;

    bool operator==(const SanitizedUsageCandidate&) const = default;

    /// Anything worth a row: a window label or an observation time alone is not.
    bool hasUsefulData() const;
    /// Quota information: a percentage, a reset time, or a text that speaks of "remaining".
    bool hasLimitData() const;
    /// A token count or a cost.
    bool hasTokenData() const;
};

/// The candidate to keep when scanning samples: the new one replaces the kept one only when it is
/// dated and the kept one is undated or strictly older.
SanitizedUsageCandidate preferNewer(const std::optional<SanitizedUsageCandidate>& kept,
                                    const SanitizedUsageCandidate& candidate);

/// Each field from the first candidate, in order, that has it; absent when none is present or the
/// result is not useful.
std::optional<SanitizedUsageCandidate>
mergeCandidates(std::initializer_list<std::optional<SanitizedUsageCandidate>> candidates);

} // namespace korvo

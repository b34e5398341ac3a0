#include "sources/AccumulateCandidate.h"

#include <string>

namespace korvo {
namespace {

template <typename T>
std::optional<T> firstPresent(const std::optional<T>& a, const std::optional<T>& b) {
    return a ? a : b;
}

std::optional<double> sum(const std::optional<double>& a, const std::optional<double>& b) {
    if (a && b) {
        return *a + *b;
    }
    return a ? a : b;
}

std::optional<std::string> joined(const std::optional<std::string>& a,
                                  const std::optional<std::string>& b) {
    if (a && b) {
        return *a == *b ? *a : *a + " · " + *b;
    }
    return a ? a : b;
}

std::optional<Instant> later(const std::optional<Instant>& a, const std::optional<Instant>& b) {
    if (a && b) {
        return *b > *a ? b : a;
    }
    return a ? a : b;
}

} // namespace

SanitizedUsageCandidate accumulateCandidate(const std::optional<SanitizedUsageCandidate>& running,
                                            const SanitizedUsageCandidate& added) {
    if (!running) {
        return added;
    }
    const SanitizedUsageCandidate& r = *running;
    SanitizedUsageCandidate result;
    result.usedPercent = firstPresent(r.usedPercent, added.usedPercent);
    result.remainingPercent = firstPresent(r.remainingPercent, added.remainingPercent);
    result.inputTokens = sum(r.inputTokens, added.inputTokens);
    result.outputTokens = sum(r.outputTokens, added.outputTokens);
    result.cachedInputTokens = sum(r.cachedInputTokens, added.cachedInputTokens);
    result.costUsd = sum(r.costUsd, added.costUsd);
    result.remainingText = joined(r.remainingText, added.remainingText);
    result.resetAt = firstPresent(r.resetAt, added.resetAt);
    result.windowLabel = firstPresent(r.windowLabel, added.windowLabel);
    result.status = firstPresent(r.status, added.status);
    result.observedAt = later(r.observedAt, added.observedAt);
    return result;
}

} // namespace korvo

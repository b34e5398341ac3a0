#include "sources/AccumulateCandidate.h"

#include <string>

namespace korvo {
namespace {

template <typename T> void keepFirst(std::optional<T>& running, const std::optional<T>& added) {
    if (!running) {
        running = added;
    }
}

void add(std::optional<double>& running, const std::optional<double>& added) {
    if (running && added) {
        *running += *added;
    } else if (added) {
        running = added;
    }
}

void join(std::optional<std::string>& running, const std::optional<std::string>& added) {
    if (running && added) {
        if (*running != *added) {
            *running += " · ";
            *running += *added;
        }
    } else if (added) {
        running = added;
    }
}

void keepLater(std::optional<Instant>& running, const std::optional<Instant>& added) {
    if (added && (!running || *added > *running)) {
        running = added;
    }
}

} // namespace

void accumulateInto(SanitizedUsageCandidate& running, const SanitizedUsageCandidate& added) {
    keepFirst(running.usedPercent, added.usedPercent);
    keepFirst(running.remainingPercent, added.remainingPercent);
    add(running.inputTokens, added.inputTokens);
    add(running.outputTokens, added.outputTokens);
    add(running.cachedInputTokens, added.cachedInputTokens);
    add(running.costUsd, added.costUsd);
    join(running.remainingText, added.remainingText);
    keepFirst(running.resetAt, added.resetAt);
    keepFirst(running.windowLabel, added.windowLabel);
    keepFirst(running.status, added.status);
    keepLater(running.observedAt, added.observedAt);
}

SanitizedUsageCandidate accumulateCandidate(const std::optional<SanitizedUsageCandidate>& running,
                                            const SanitizedUsageCandidate& added) {
    if (!running) {
        return added;
    }
    SanitizedUsageCandidate result = *running;
    accumulateInto(result, added);
    return result;
}

} // namespace korvo

#include "sources/fields/SanitizedUsageCandidate.h"

#include <cctype>
#include <string_view>

namespace korvo {

namespace {

bool containsIgnoringCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        std::size_t j = 0;
        while (j < word.size() && std::tolower(static_cast<unsigned char>(text[i + j])) ==
                                      std::tolower(static_cast<unsigned char>(word[j]))) {
            ++j;
        }
        if (j == word.size()) {
            return true;
        }
    }
    return false;
}

template <typename T> void takeIfAbsent(std::optional<T>& target, const std::optional<T>& source) {
    if (!target && source) {
        target = source;
    }
}

} // namespace

bool SanitizedUsageCandidate::hasUsefulData() const {
    return usedPercent || remainingPercent || inputTokens || outputTokens || cachedInputTokens ||
           costUsd || remainingText || resetAt || status;
}

bool SanitizedUsageCandidate::hasLimitData() const {
    if (usedPercent || remainingPercent || resetAt) {
        return true;
    }
    return remainingText && containsIgnoringCase(*remainingText, "remaining");
}

bool SanitizedUsageCandidate::hasTokenData() const {
    return inputTokens || outputTokens || cachedInputTokens || costUsd;
}

SanitizedUsageCandidate preferNewer(const std::optional<SanitizedUsageCandidate>& kept,
                                    const SanitizedUsageCandidate& candidate) {
    if (!kept) {
        return candidate;
    }
    if (!candidate.observedAt) {
        return *kept;
    }
    if (!kept->observedAt || *candidate.observedAt > *kept->observedAt) {
        return candidate;
    }
    return *kept;
}

std::optional<SanitizedUsageCandidate>
mergeCandidates(std::initializer_list<std::optional<SanitizedUsageCandidate>> candidates) {
    SanitizedUsageCandidate merged;
    bool anyPresent = false;
    for (const auto& candidate : candidates) {
        if (!candidate) {
            continue;
        }
        anyPresent = true;
        takeIfAbsent(merged.usedPercent, candidate->usedPercent);
        takeIfAbsent(merged.remainingPercent, candidate->remainingPercent);
        takeIfAbsent(merged.inputTokens, candidate->inputTokens);
        takeIfAbsent(merged.outputTokens, candidate->outputTokens);
        takeIfAbsent(merged.cachedInputTokens, candidate->cachedInputTokens);
        takeIfAbsent(merged.costUsd, candidate->costUsd);
        takeIfAbsent(merged.remainingText, candidate->remainingText);
        takeIfAbsent(merged.resetAt, candidate->resetAt);
        takeIfAbsent(merged.windowLabel, candidate->windowLabel);
        takeIfAbsent(merged.status, candidate->status);
        takeIfAbsent(merged.observedAt, candidate->observedAt);
    }
    if (!anyPresent || !merged.hasUsefulData()) {
        return std::nullopt;
    }
    return merged;
}

} // namespace korvo

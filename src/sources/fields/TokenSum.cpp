#include "sources/fields/TokenSum.h"

namespace korvo {

void addTokens(SanitizedUsageCandidate& sum, const SanitizedUsageCandidate& part) {
    const auto add = [](std::optional<double>& into, const std::optional<double>& value) {
        if (value) {
            into = into.value_or(0) + *value;
        }
    };
    add(sum.inputTokens, part.inputTokens);
    add(sum.outputTokens, part.outputTokens);
    add(sum.cachedInputTokens, part.cachedInputTokens);
    add(sum.costUsd, part.costUsd);
    if (part.observedAt && (!sum.observedAt || *part.observedAt > *sum.observedAt)) {
        sum.observedAt = part.observedAt;
    }
}

} // namespace korvo

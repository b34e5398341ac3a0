#pragma once

#include "sources/SanitizedUsageCandidate.h"

#include <optional>

namespace korvo {

// Adds one candidate into a running total: token counts and cost are summed, texts that
// differ are joined with " · ", the first percentage, reset time, window label and status
// are kept, and the later observation time wins (a present time beats an absent one).
SanitizedUsageCandidate accumulateCandidate(const std::optional<SanitizedUsageCandidate>& running,
                                            const SanitizedUsageCandidate& added);

// The same, adding into `running` in place.
void accumulateInto(SanitizedUsageCandidate& running, const SanitizedUsageCandidate& added);

} // namespace korvo

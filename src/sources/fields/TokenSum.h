#pragma once

// Adding up the token figures of several parts of one piece of work: a conversation and its
// subagents, or the segments of a resumed session.

#include "sources/fields/SanitizedUsageCandidate.h"

namespace korvo {

/// Adds the token counts and the cost of `part` to `sum` (a field present in either is present
/// after), and keeps the later of the two observation times. Other fields of `sum` stay.
void addTokens(SanitizedUsageCandidate& sum, const SanitizedUsageCandidate& part);

} // namespace korvo

#pragma once

// Turns a sanitized candidate into the provider row that is uploaded.

#include "model/Instant.h"
#include "model/UsageSnapshot.h"
#include "sources/fields/SanitizedUsageCandidate.h"

#include <string>
#include <string_view>

namespace korvo {

/// Text of a remaining line that "Primary quota window reset" rows start with.
inline constexpr std::string_view kWindowResetText =
    "Primary quota window reset; waiting for the next local quota sample";

/// A share given as 0 to 1 or 0 to 100 as a percentage in 0...100 (exactly 1 means 100 %).
double normalizedPercent(double value);

/// "<label> <r>% remaining · <u>% used" for a used share given as 0 to 1 or 0 to 100, with whole
/// percentages rounded half away from zero.
std::string percentRemainingText(std::string_view label, double used);
/// The same line for a used value that is already a percentage (clamped, never rescaled).
std::string percentRemainingTextForPercent(std::string_view label, double usedPercent);

/// The row for a candidate: percentages normalised and completed, a window that reset since the
/// sample dropped, status from the source or from thresholds, `now` as the observation time when
/// the candidate has none.
ProviderUsage makeProviderUsage(std::string id, std::string displayName, SourceType source,
                                Confidence confidence, const SanitizedUsageCandidate& candidate,
                                Instant now);

/// The row shown when a tool's files exist but none could be understood.
ProviderUsage makePlaceholderUsage(std::string id, std::string displayName,
                                   std::string remainingText, Instant now);

} // namespace korvo

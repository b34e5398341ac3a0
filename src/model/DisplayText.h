#pragma once

#include "model/Instant.h"
#include "model/UsageSnapshot.h"

#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// Labels under which people see the enumerations.
// The value when there is one and it is a finite number.
std::optional<double> finiteValue(const std::optional<double>& value);

std::string sourceLabel(SourceType source);
std::string confidenceLabel(Confidence confidence);
std::string buildChannelLabel(KorvoBuildChannel channel);
// The provider row's form ("Ok", "Warning"); the support bundle uses rawValue(status).
std::string providerStatusLabel(ProviderStatus status);
// "Rolling", "Daily", ...
std::string windowKindLabel(UsageWindowKind kind);

// `text` with its first letter in upper case (ASCII).
std::string capitalizedFirstLetter(std::string_view text);

// Texts of one provider row. A non-finite percentage counts as absent.
std::string primaryRemainingText(const ProviderUsage& row);
std::string primaryUsedText(const ProviderUsage& row);
std::string primaryWindowText(const ProviderUsage& row);
std::string resetText(const ProviderUsage& row, Instant now);
// "Input 120000 · Output 18000 · Cached 50000 · Cost $3.42", or nothing when no part applies.
std::optional<std::string> tokenDetailsText(const ProviderUsage& row);
// Value of the row's gauge, 0 to 100: the remaining percentage, else 100 minus the used one;
// nothing when the row has neither.
std::optional<double> limitGaugeValue(const ProviderUsage& row);

inline constexpr std::string_view limitUnavailableText = "Limit unavailable";

} // namespace korvo

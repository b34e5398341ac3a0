#include "sources/adapters/LocalToolAdapter.h"

#include "sources/fields/ProviderUsageBuilder.h"

namespace korvo {

UsageReading LocalToolAdapter::readingOf(const std::optional<SanitizedUsageCandidate>& candidate,
                                         std::optional<SourceError> error) const {
    UsageReading reading{std::nullopt, std::move(error)};
    if (candidate) {
        reading.row = makeProviderUsage(id(), displayName(), SourceType::localCli,
                                        Confidence::cliReported, *candidate, m_clock());
    }
    return reading;
}

} // namespace korvo

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

ProviderUsage LocalToolAdapter::placeholderRow(std::string text) const {
    return makePlaceholderUsage(id(), displayName(), std::move(text), m_clock());
}

AdapterDiagnostic LocalToolAdapter::diagnosticWith(std::vector<std::string> warnings) const {
    AdapterDiagnostic diagnostic;
    diagnostic.id = id();
    diagnostic.displayName = displayName();
    diagnostic.warnings = std::move(warnings);
    return diagnostic;
}

} // namespace korvo

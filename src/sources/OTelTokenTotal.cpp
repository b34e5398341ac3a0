#include "sources/OTelTokenTotal.h"

#include "sources/AccumulateCandidate.h"

namespace korvo {

void OTelTokenTotal::addDocument(std::vector<OTelTokenPoint> points) {
    const std::size_t document = documents_.size();
    auto& slots = documents_.emplace_back();
    slots.reserve(points.size());
    for (auto& point : points) {
        const std::size_t index = slots.size();
        if (point.series) {
            const auto found = newestOfSeries_.find(*point.series);
            if (found != newestOfSeries_.end()) {
                auto& kept = documents_[found->second.document][found->second.index];
                const auto& keptTime = kept->candidate.observedAt;
                const auto& time = point.candidate.observedAt;
                if (keptTime && time && *time < *keptTime) {
                    continue;
                }
                kept.reset();
                found->second = Slot{document, index};
            } else {
                newestOfSeries_.emplace(*point.series, Slot{document, index});
            }
        }
        slots.emplace_back(std::move(point));
    }
}

std::optional<SanitizedUsageCandidate> OTelTokenTotal::total() const {
    std::optional<SanitizedUsageCandidate> total;
    for (const auto& slots : documents_) {
        std::optional<SanitizedUsageCandidate> document;
        for (const auto& point : slots) {
            if (point) {
                document = accumulateCandidate(document, point->candidate);
            }
        }
        if (document && document->hasUsefulData()) {
            total = accumulateCandidate(total, *document);
        }
    }
    return total;
}

} // namespace korvo

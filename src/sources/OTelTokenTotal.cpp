#include "sources/OTelTokenTotal.h"

#include "sources/AccumulateCandidate.h"

#include <algorithm>

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
    std::vector<std::pair<std::string_view, double>> texts;
    for (const auto& slots : documents_) {
        for (const auto& point : slots) {
            if (!point) {
                continue;
            }
            SanitizedUsageCandidate counts = point->candidate;
            counts.remainingText.reset();
            total = accumulateCandidate(total, counts);
            if (point->textLabel.empty()) {
                continue;
            }
            const auto same = std::find_if(texts.begin(), texts.end(), [&](const auto& text) {
                return text.first == point->textLabel;
            });
            if (same != texts.end()) {
                same->second += point->value;
            } else {
                texts.emplace_back(point->textLabel, point->value);
            }
        }
    }
    std::string joined;
    for (const auto& [label, value] : texts) {
        if (auto text = tokenCountText(label, value)) {
            joined += joined.empty() ? *text : " · " + *text;
        }
    }
    if (total && !joined.empty()) {
        total->remainingText = std::move(joined);
    }
    if (total && !total->hasUsefulData()) {
        return std::nullopt;
    }
    return total;
}

} // namespace korvo

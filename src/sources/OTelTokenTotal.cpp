#include "sources/OTelTokenTotal.h"

#include "sources/AccumulateCandidate.h"

#include <algorithm>

namespace korvo {

void OTelTokenTotal::add(OTelTokenPoint point) {
    if (point.series) {
        const auto [found, added] = m_newestOfSeries.try_emplace(*point.series, m_points.size());
        if (!added) {
            auto& kept = m_points[found->second];
            const auto& keptTime = kept->candidate.observedAt;
            const auto& time = point.candidate.observedAt;
            if (keptTime && time && *time < *keptTime) {
                return;
            }
            kept.reset();
            found->second = m_points.size();
        }
    }
    m_points.emplace_back(std::move(point));
}

std::optional<SanitizedUsageCandidate> OTelTokenTotal::total() const {
    std::optional<SanitizedUsageCandidate> total;
    std::vector<std::pair<std::string_view, double>> texts;
    for (const auto& point : m_points) {
        if (!point) {
            continue;
        }
        if (!total) {
            total = point->candidate;
        } else {
            accumulateInto(*total, point->candidate);
        }
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

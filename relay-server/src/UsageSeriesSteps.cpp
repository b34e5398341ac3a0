#include "UsageSeriesSteps.h"

#include <functional>

namespace korvo::relayserver {

std::uint64_t UsageSeriesSteps::keyOf(const std::string& syncSpaceId, const std::string& deviceId) {
    // Two connectors sharing a key would at worst cost one of them a point of a step.
    return std::hash<std::string>{}(syncSpaceId + '\n' + deviceId);
}

bool UsageSeriesSteps::due(const std::string& syncSpaceId, const std::string& deviceId,
                           UnixTime step) const {
    std::lock_guard lock(mutex_);
    const auto found = steps_.find(keyOf(syncSpaceId, deviceId));
    return found == steps_.end() || found->second != step;
}

void UsageSeriesSteps::stored(const std::string& syncSpaceId, const std::string& deviceId,
                              UnixTime step) {
    std::lock_guard lock(mutex_);
    if (steps_.size() >= kMaxDevices) {
        steps_.clear();
    }
    steps_[keyOf(syncSpaceId, deviceId)] = step;
}

std::size_t UsageSeriesSteps::size() const {
    std::lock_guard lock(mutex_);
    return steps_.size();
}

} // namespace korvo::relayserver

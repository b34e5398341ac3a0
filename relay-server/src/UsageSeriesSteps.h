#pragma once

#include "RelayStorage.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace korvo::relayserver {

// Which connectors this relay has already given a point in the current five-minute step, so
// that the other uploads of the step skip the series altogether: a usage point is the first
// upload of its step, and later ones would find it there. Forgetting is always safe (the store
// keeps the first point of a step whatever it is asked), so the memory is bounded by dropping
// everything once kMaxDevices connectors are remembered. Thread-safe.
class UsageSeriesSteps {
public:
    static constexpr std::size_t kMaxDevices = 32'768; // about 2 MiB

    // Whether the connector `deviceId` of `syncSpaceId` still needs its point of `step`.
    bool due(const std::string& syncSpaceId, const std::string& deviceId, UnixTime step) const;
    // Its point of `step` is stored.
    void stored(const std::string& syncSpaceId, const std::string& deviceId, UnixTime step);

    std::size_t size() const;

private:
    static std::uint64_t keyOf(const std::string& syncSpaceId, const std::string& deviceId);

    mutable std::mutex mutex_;
    std::unordered_map<std::uint64_t, UnixTime> steps_;
};

} // namespace korvo::relayserver

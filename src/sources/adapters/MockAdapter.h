#pragma once

#include "model/Clock.h"
#include "sources/UsageAdapter.h"

#include <string>

namespace korvo {

// The demo source: never touches the disk, always reports itself available, contributes no
// row to a normal collection, and builds the demo snapshot used when no real source has data.
class MockAdapter final : public UsageAdapter {
public:
    explicit MockAdapter(Clock clock = systemClock());

    std::string id() const override;
    std::string displayName() const override;

    // Two fixed rows (a healthy one with tokens and cost, a warning one with a remaining text),
    // stamped with the current time; the id is "snap_preview_" + whole seconds since 1970.
    UsageSnapshot makeDemoSnapshot(const std::string& syncSpaceId, const std::string& deviceId,
                                   const std::string& deviceName,
                                   SnapshotDeviceKind deviceKind = platformDeviceKind()) const;

private:
    AdapterDiagnostic inspect() const override;
    UsageReading read() const override; // always nothing

    Clock m_clock;
};

} // namespace korvo

#pragma once

#include <QString>

namespace korvo {

// The name people know this machine by.
class HostInfo {
public:
    virtual ~HostInfo() = default;
    // The localized name of the host, or an empty string when the system has none.
    virtual QString deviceName() const = 0;
};

} // namespace korvo

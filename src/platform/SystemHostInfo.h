#pragma once

#include "platform/HostInfo.h"

#include <QString>

namespace korvo {

// The pretty host name of /etc/machine-info (PRETTY_HOSTNAME, as set by hostnamectl) when the
// system has one, else the machine's host name.
class SystemHostInfo final : public HostInfo {
public:
    explicit SystemHostInfo(QString machineInfoPath = QStringLiteral("/etc/machine-info"));
    QString deviceName() const override;

private:
    QString machineInfoPath_;
};

} // namespace korvo

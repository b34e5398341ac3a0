#pragma once

#include "platform/HostInfo.h"

#include <QByteArray>
#include <QString>

namespace korvo {

// The pretty host name of /etc/machine-info (PRETTY_HOSTNAME, as set by hostnamectl) when the
// system has one, else the machine's host name.
class SystemHostInfo final : public HostInfo {
public:
    explicit SystemHostInfo(QString machineInfoPath = QStringLiteral("/etc/machine-info"));
    QString deviceName() const override;

    // PRETTY_HOSTNAME from machine-info text (an environment-style file), or empty.
    static QString prettyHostName(const QByteArray& machineInfo);

private:
    QString machineInfoPath_;
};

} // namespace korvo

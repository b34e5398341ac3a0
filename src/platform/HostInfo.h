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

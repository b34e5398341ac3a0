#include "platform/SystemHostInfo.h"

#include "model/DeviceIdentity.h"

namespace korvo {

SystemHostInfo::SystemHostInfo(QString machineInfoPath)
    : machineInfoPath_(std::move(machineInfoPath)) {}

QString SystemHostInfo::deviceName() const {
    return QString::fromStdString(systemHostName(machineInfoPath_.toStdString()));
}

} // namespace korvo

// Plain words on why a serial device could not be opened, and what to do about it.
#pragma once

#include <QString>
#include <string>

namespace kestrel {

// error: the errno of the failed open (0 when unknown). The text names the device path and,
// for a permission problem, who owns the device and what to do about it. Without a path it
// names the port instead: portNumber is the n of "COMn", and COM0 is the one port that never
// resolves to a device.
QString OpenFailureDetail(const std::string& devicePath, int error, int portNumber = 0);

// Who owns a device, as the permission advice needs it.
struct DeviceOwner {
    QString user;
    QString group;
    unsigned mode = 0;  // the permission bits
};

// The advice for a device the user may not open. Joining the device's group is suggested only
// when that gives read and write access and the group grants nothing more than devices like
// this one; otherwise the text says who owns the device and suggests a udev rule.
QString PermissionAdvice(const std::string& devicePath, const DeviceOwner& owner);

}  // namespace kestrel

// Plain words on why a serial device could not be opened, and what to do about it.
#include "frame/OpenFailure.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kestrel {

namespace {

// The name of the group that owns the device, or empty.
QString OwningGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    std::vector<char> buffer(4096);
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &g, buffer.data(), buffer.size(), &found) != 0 || !found) {
        return QString::number(st.st_gid);
    }
    return QString::fromLocal8Bit(found->gr_name);
}

}  // namespace

QString OpenFailureDetail(const std::string& devicePath, int error) {
    const QString path = QString::fromStdString(devicePath);
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return QStringLiteral(
                       "The device %1 does not exist. Check that the serial adapter is plugged "
                       "in, or tell Kestrel which device this port is: start it with "
                       "--device COMn=PATH, or store the path in the settings group "
                       "\"Devices\" as the value \"COMn\".")
                .arg(path);
        case EACCES:
        case EPERM: {
            const QString group = OwningGroup(devicePath);
            if (group.isEmpty()) {
                return QStringLiteral("You have no permission to open %1.").arg(path);
            }
            return QStringLiteral(
                       "You have no permission to open %1. The device belongs to the group "
                       "\"%2\". Add yourself to that group with\n\n    sudo usermod -aG %2 "
                       "$USER\n\nthen log out and in again.")
                .arg(path, group);
        }
        case EBUSY:
        case EWOULDBLOCK:
            return QStringLiteral(
                       "The device %1 is in use by another program (perhaps another Kestrel). "
                       "Close that program and try again.")
                .arg(path);
        case EINVAL:
            return QStringLiteral(
                       "The device %1 did not accept the line settings (9600 bit/s, 8 data "
                       "bits, no parity, one stop bit, RTS/CTS handshake). It may not be a "
                       "serial port.")
                .arg(path);
        case 0:
            return QStringLiteral("The device %1 could not be opened.").arg(path);
        default:
            return QStringLiteral("The device %1 could not be opened: %2.")
                .arg(path, QString::fromLocal8Bit(std::strerror(error)));
    }
}

}  // namespace kestrel

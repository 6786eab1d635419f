// Plain words on why a serial device could not be opened, and what to do about it.
#include "frame/OpenFailure.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace kestrel {

namespace {

// Groups whose members can read secrets, write disks or become root. Advice to join one of
// them for the sake of a serial port would hand out far more than the port.
constexpr std::array<std::string_view, 13> kPrivilegedGroups{
    "root", "wheel", "sudo",  "admin",  "adm", "shadow",         "disk",
    "kmem", "sys",   "staff", "docker", "lxd", "systemd-journal"};

bool IsPrivileged(const QString& group) {
    const std::string name = group.toStdString();
    for (std::string_view g : kPrivilegedGroups) {
        if (name == g) {
            return true;
        }
    }
    return false;
}

// Owner and group of the device, by name (by number when the name is unknown).
bool ReadOwner(const std::string& path, DeviceOwner& owner) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    std::vector<char> buffer(4096);
    group g{};
    group* foundGroup = nullptr;
    owner.group =
        ::getgrgid_r(st.st_gid, &g, buffer.data(), buffer.size(), &foundGroup) == 0 && foundGroup
            ? QString::fromLocal8Bit(foundGroup->gr_name)
            : QString::number(st.st_gid);
    passwd p{};
    passwd* foundUser = nullptr;
    owner.user =
        ::getpwuid_r(st.st_uid, &p, buffer.data(), buffer.size(), &foundUser) == 0 && foundUser
            ? QString::fromLocal8Bit(foundUser->pw_name)
            : QString::number(st.st_uid);
    owner.mode = st.st_mode & 07777;
    return true;
}

// The kernel's name of the device, which a udev rule matches (a link such as
// /dev/serial/by-id/... is followed to it).
QString KernelName(const std::string& path) {
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const auto slash = target.rfind('/');
    return QString::fromStdString(slash == std::string::npos ? target : target.substr(slash + 1));
}

}  // namespace

QString PermissionAdvice(const std::string& devicePath, const DeviceOwner& owner) {
    const QString path = QString::fromStdString(devicePath);
    const bool groupReadWrite = (owner.mode & S_IRGRP) && (owner.mode & S_IWGRP);
    if (groupReadWrite && !IsPrivileged(owner.group)) {
        return QStringLiteral(
                   "You have no permission to open %1. The device belongs to the group "
                   "\"%2\". Add yourself to that group with\n\n    sudo usermod -aG %2 "
                   "$USER\n\nthen log out and in again.")
            .arg(path, owner.group);
    }
    const QString why = groupReadWrite
                            ? QStringLiteral(
                                  "That group is a privileged one: joining it would give you far "
                                  "more than this port.")
                            : QStringLiteral("Its group may not both read and write it.");
    return QStringLiteral(
               "You have no permission to open %1. It belongs to the user \"%2\" and the group "
               "\"%3\" (mode %4). %5 Ask your administrator for a udev rule that gives the "
               "device to a group of serial-port users, for example in "
               "/etc/udev/rules.d/99-kestrel.rules:\n\n    KERNEL==\"%6\", GROUP=\"dialout\", "
               "MODE=\"0660\"\n\nand to add you to that group.")
        .arg(path, owner.user, owner.group,
             QStringLiteral("%1").arg(owner.mode, 4, 8, QLatin1Char('0')), why,
             KernelName(devicePath));
}

QString OpenFailureDetail(const std::string& devicePath, int error, int portNumber) {
    const QString path = QString::fromStdString(devicePath);
    if (devicePath.empty()) {
        return QStringLiteral(
                   "The port COM%1 has no device. Choose one of the ports COM1 to COM4 in "
                   "the port settings.")
            .arg(portNumber);
    }
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
            DeviceOwner owner;
            if (!ReadOwner(devicePath, owner)) {
                return QStringLiteral("You have no permission to open %1.").arg(path);
            }
            return PermissionAdvice(devicePath, owner);
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

// Plain words on why a serial device could not be opened, and what to do about it.
#pragma once

#include <QString>
#include <string>

namespace kestrel {

// error: the errno of the failed open (0 when unknown). The text names the device path and,
// for a permission problem, the group that owns the device and the command that admits the
// user to it.
QString OpenFailureDetail(const std::string& devicePath, int error);

}  // namespace kestrel

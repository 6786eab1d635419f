// The serial devices plugged in now, by their stable names, with what sysfs knows of them.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

struct SerialDeviceInfo {
    std::string path;       // /dev/serial/by-id/NAME where there is one, else /dev/ttyUSBn
    std::string node;       // the device node it leads to (/dev/ttyUSB0)
    std::string vendor;     // the maker's name as the adapter gives it; may be empty
    std::string product;    // its product name; may be empty
    std::string serial;     // its serial number; may be empty
    std::string vendorId;   // USB vendor id, four hex digits; may be empty
    std::string productId;  // USB product id; may be empty
};

// Where the device nodes and sysfs are; a test points them at a tree of its own.
struct DeviceRoots {
    std::string dev = "/dev";
    std::string sys = "/sys";
};

// USB and ACM serial devices present: the /dev/serial/by-id links first (by name), then the
// ttyUSB and ttyACM nodes no link leads to (by number). Built-in ports (ttyS) are never
// listed: most of them have no hardware behind them. Nothing is opened.
std::vector<SerialDeviceInfo> ListSerialDevices(const DeviceRoots& roots = {});

}  // namespace kestrel

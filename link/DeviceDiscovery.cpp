// Serial device discovery from /dev and sysfs.
#include "link/DeviceDiscovery.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

bool IsListedNode(const std::string& name) {
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

std::string Attribute(const fs::path& dir, const char* name) {
    std::ifstream in(dir / name);
    std::string value;
    std::getline(in, value);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
        value.pop_back();
    }
    return value;
}

// The USB device a tty belongs to is a few levels above its sysfs node (the interface, then
// the device); the first folder upwards with an idVendor is it.
void ReadSysfs(const DeviceRoots& roots, SerialDeviceInfo& info) {
    const fs::path name = fs::path(info.node).filename();
    std::error_code ec;
    fs::path dir = fs::canonical(fs::path(roots.sys) / "class" / "tty" / name / "device", ec);
    if (ec) {
        return;
    }
    for (int up = 0; up < 4 && !dir.empty() && dir != dir.root_path();
         ++up, dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) {
            info.vendor = Attribute(dir, "manufacturer");
            info.product = Attribute(dir, "product");
            info.serial = Attribute(dir, "serial");
            info.vendorId = Attribute(dir, "idVendor");
            info.productId = Attribute(dir, "idProduct");
            return;
        }
    }
}

// The USB adapters before the modems, and ttyUSB2 before ttyUSB10.
bool NodeOrder(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        const auto digits = s.find_first_of("0123456789");
        const long number = digits == std::string::npos ? -1 : std::atol(s.c_str() + digits);
        return std::pair(s.rfind("ttyUSB", 0) == 0 ? 0 : 1, number);
    };
    return split(a) < split(b);
}

}  // namespace

std::vector<SerialDeviceInfo> ListSerialDevices(const DeviceRoots& roots) {
    std::vector<SerialDeviceInfo> found;
    std::set<std::string> covered;
    std::error_code ec;
    const fs::path dev(roots.dev);

    std::vector<fs::path> links;
    for (const auto& entry : fs::directory_iterator(dev / "serial" / "by-id", ec)) {
        links.push_back(entry.path());
    }
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        std::error_code lec;
        const fs::path target = fs::canonical(link, lec);
        if (lec) {
            continue;  // a link left behind by a device that has gone
        }
        const std::string node = target.filename().string();
        if (node.rfind("ttyS", 0) == 0 || !covered.insert(node).second) {
            continue;
        }
        SerialDeviceInfo info;
        info.path = link.string();
        info.node = (dev / node).string();
        found.push_back(std::move(info));
    }

    std::vector<std::string> nodes;
    for (const auto& entry : fs::directory_iterator(dev, ec)) {
        const std::string name = entry.path().filename().string();
        if (IsListedNode(name) && !covered.count(name)) {
            nodes.push_back(name);
        }
    }
    std::sort(nodes.begin(), nodes.end(), NodeOrder);
    for (const std::string& name : nodes) {
        SerialDeviceInfo info;
        info.path = info.node = (dev / name).string();
        found.push_back(std::move(info));
    }
    for (SerialDeviceInfo& info : found) {
        ReadSysfs(roots, info);
    }
    return found;
}

}  // namespace kestrel

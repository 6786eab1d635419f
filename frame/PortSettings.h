// The port settings the main window keeps; only the port number and the open flag matter.
#pragma once

#include <cstdint>

namespace kestrel {

struct PortSettings {
    std::int32_t portNumber = 1;
    std::int32_t portOpen = 0;
    std::int32_t baudRate = 9600;
    std::int32_t dataBitsIndex = 1;
    std::int32_t dtrDsr = 1;
    std::int32_t parityIndex = 0;
    std::int32_t rtsCts = 1;
    std::int32_t stopBitsIndex = 0;
    std::int32_t xonXoff = 1;
    bool operator==(const PortSettings&) const = default;
};

}  // namespace kestrel

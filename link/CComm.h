// Serial port driver and receive thread for the MUX's status line.
// (API contract; the link layer fills in the implementation.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "link/SerialDevice.h"
#include "monitor/MonitorState.h"

namespace kestrel {

// The port record. Only portNumber and isOpen ever change; the line is always 9600 8N1 with
// RTS/CTS handshake.
struct CommInfo {
    std::uint8_t portNumber = 1;
    int isOpen = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t flowControl = 2;  // bit 0 DTR/DSR, bit 1 RTS/CTS, bit 2 XON/XOFF
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
    std::uint32_t baudRate = 9600;
};

// Turns "COMn" into a device path: /dev/ttyS{n-1} unless a path was given for that port.
class DeviceResolver {
public:
    void SetPath(int portNumber, std::string path);
    std::string Resolve(const std::string& comName) const;  // "COM3" -> path
};

// The receive thread hands text to this; the owner runs the frame parser with it.
using FrameHandOver = std::function<void(std::string_view text)>;

class CComm {
public:
    // frameMutex is held around every call of handOver. The device factory makes the
    // POSIX device in the program and a fake in tests.
    CComm(MonitorState& state, std::mutex& frameMutex, FrameHandOver handOver,
          std::unique_ptr<SerialDeviceFactory> devices, DeviceResolver resolver = {});
    ~CComm();  // shuts the thread down and joins it

    // Port operations, user-interface thread.
    void SetPortNumber(int number);
    void SetPortOpen(bool open);
    int IsPortOpen() const;
    int ClosePortIfOpen();
    int IsModemActive();
    // Why the last OpenPort failed (errno), 0 after a successful open.
    int LastOpenError() const;
    std::string DevicePath() const;  // path the current port number resolves to

    // Thread control, user-interface thread. The thread is created suspended (count 1) by
    // Start(); Suspend() returns only when the thread is parked at a safe point.
    void Start();
    void SuspendThread();
    void ResumeThread();
    int SuspendCount() const;
    void Shutdown();  // clears keepReceiving, wakes and joins; safe from any state
};

}  // namespace kestrel

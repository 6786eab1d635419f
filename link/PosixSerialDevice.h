// The termios serial device: raw 9600 8N1 lines on Linux ttys and pseudo-terminals.
#pragma once

#include <termios.h>

#include <string>

#include "link/SerialDevice.h"

namespace kestrel {

class PosixSerialDevice : public SerialDevice {
public:
    PosixSerialDevice() = default;
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    int Open(const std::string& path) override;
    void Close() override;
    bool GetState(Dcb& dcb) override;
    int SetState(const Dcb& dcb) override;
    bool SetEventMask(unsigned mask) override;
    bool Purge() override;
    bool SetRts(bool on) override;
    bool SetDtr(bool on) override;
    ModemQuery GetModemLines(unsigned& lines) override;
    long QueuedBytes() override;
    long Read(void* buffer, std::size_t n) override;
    unsigned Wait(int wakeFd, int timeoutMs) override;
    int PollDescriptor() const override;
    unsigned Seen(unsigned pollEvents) override;

    int Fd() const { return fd; }

private:
    bool ControlLine(int bit, bool on);

    int fd = -1;
    unsigned eventMask = 0;
    long knownQueued = -1;  // counted by Seen, or left by a read, for the next QueuedBytes
    long lastCounted = -1;  // what the last QueuedBytes answered, for the read after it
    termios saved{};        // what the device was like before we opened it
    std::string path;
};

}  // namespace kestrel

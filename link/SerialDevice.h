// The narrow serial-device interface under CComm, the line-settings record and the factory.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// Line settings in the shape the port driver reasons about: one record with every field the
// driver decides, plus the ones it only carries through from the device's current state.
struct Dcb {
    std::uint32_t BaudRate = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    std::uint8_t fOutxCtsFlow = 0;
    std::uint8_t fRtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
    std::uint8_t fOutxDsrFlow = 0;
    std::uint8_t fDtrControl = 0;  // 0 disable, 1 enable, 2 handshake
    std::uint8_t fOutX = 0;
    std::uint8_t fInX = 0;
    std::uint8_t fBinary = 0;
    std::uint8_t fParity = 0;
    char XonChar = 0;
    char XoffChar = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    // Carried through unchanged from what the device reported.
    std::uint8_t fDsrSensitivity = 0;
    std::uint8_t fTXContinueOnXoff = 0;
    std::uint8_t fErrorChar = 0;
    std::uint8_t fNull = 0;
    std::uint8_t fAbortOnError = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;

    bool operator==(const Dcb&) const = default;
};

// Event bits of a port-event wait.
inline constexpr unsigned kEvRxChar = 1;  // the only event the receive loop asks for
inline constexpr unsigned kWaitReadable = 1;
inline constexpr unsigned kWaitHangup = 2;  // hang-up or error: the device is gone or broken
inline constexpr unsigned kWaitWoken = 4;   // the wake-up descriptor became readable

// Modem lines as GetModemLines reports them. The first four are inputs from the MUX; RTS and
// DTR are our own outputs, which the query reports as well.
inline constexpr unsigned kLineCts = 0x01;
inline constexpr unsigned kLineDsr = 0x02;
inline constexpr unsigned kLineRing = 0x04;
inline constexpr unsigned kLineCd = 0x08;
inline constexpr unsigned kLineRts = 0x10;
inline constexpr unsigned kLineDtr = 0x20;
inline constexpr unsigned kModemInputs = kLineCts | kLineDsr | kLineRing | kLineCd;

enum class ModemQuery {
    Ok,
    Unsupported,  // the device has no modem-status lines at all (a pseudo-terminal)
    Failed,       // the device is gone or the query failed otherwise
};

// One serial device. Open, Close, SetState, Purge and SetEventMask run only while the
// receive thread is parked; Wait, QueuedBytes and Read run on the receive thread; the
// control-line and modem-status calls may run on the user-interface thread at the same time
// as a Wait or Read.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Opens the device for exclusive use; 0 or the errno that made it fail. A failed open
    // leaves nothing open.
    virtual int Open(const std::string& path) = 0;
    // Restores what the device was like before Open and releases it. Safe when not open.
    virtual void Close() = 0;

    // An Open that a link loop can make without blocking, in steps. BeginOpen: 0 when open
    // now, an errno when it failed, EINPROGRESS when a connection is under way (wait until
    // ConnectDescriptor() is writable or OpenDeadline() has passed, then ContinueOpen), or
    // EWOULDBLOCK when it cannot even begin without waiting (a host name to look up): then
    // Open it on a thread of its own.
    virtual int BeginOpen(const std::string& path) { return Open(path); }
    // The next step with the poll events seen on ConnectDescriptor() (0: none seen, the
    // device looks itself) and whether the deadline has passed; answers as BeginOpen does,
    // EWOULDBLOCK aside.
    virtual int ContinueOpen(unsigned /*pollEvents*/, bool /*timedOut*/) { return EINVAL; }
    virtual int ConnectDescriptor() const { return -1; }
    virtual std::chrono::steady_clock::time_point OpenDeadline() const { return {}; }
    // What is left of an open once connected (a server's negotiation, within the same
    // deadline): 0 or the errno. It may wait unless FinishesAtOnce().
    virtual int FinishOpen() { return 0; }
    virtual bool FinishesAtOnce() const { return true; }

    // Reads the line settings in force; false when they cannot be read.
    virtual bool GetState(Dcb& dcb) = 0;
    // Applies line settings; 0 or an errno (EINVAL when the device did not take them all).
    virtual int SetState(const Dcb& dcb) = 0;
    // Chooses the events that end a Wait; 0 ends only on a wake-up.
    virtual bool SetEventMask(unsigned mask) = 0;
    // Discards both queues.
    virtual bool Purge() = 0;

    virtual bool SetRts(bool on) = 0;
    virtual bool SetDtr(bool on) = 0;
    virtual ModemQuery GetModemLines(unsigned& lines) = 0;

    // Bytes waiting in the input queue, or -1 when the query fails.
    virtual long QueuedBytes() = 0;
    // One non-blocking read of at most n bytes; the count, or -1 on failure.
    virtual long Read(void* buffer, std::size_t n) = 0;
    // Blocks until an event of the mask, a hang-up, or until wakeFd is readable (it is not
    // drained here), for at most timeoutMs (0: only looks; below 0: without a limit, or a
    // quarter of a second when there is no wakeFd). Returns kWait* bits.
    virtual unsigned Wait(int wakeFd, int timeoutMs) = 0;
    // The descriptor that turns readable (or hung up) when a Wait would end with an event of
    // the mask; -1 when there is none to watch now. The link loop watches it instead of
    // blocking in Wait.
    virtual int PollDescriptor() const { return -1; }
    // What a Wait would report, given the poll events (POLLIN, POLLHUP, POLLERR) the link loop
    // has just seen on PollDescriptor(): kWait* bits, without a wait of its own.
    virtual unsigned Seen(unsigned pollEvents) = 0;
    // Bytes received faster than they were read and dropped, oldest first, since Open.
    virtual std::uint64_t DroppedBytes() const { return 0; }

    // A descriptor that calls off a slow Open (a network connection) once it is readable;
    // -1: nothing does. Such an Open then fails with ECANCELED.
    virtual void SetCancelDescriptor(int /*fd*/) {}
    // Why the last Open or SetState failed, in words beyond its errno (which server, what it
    // said); empty when the errno says it all.
    virtual std::string FailureDetail() const { return {}; }
};

class SerialDeviceFactory {
public:
    virtual ~SerialDeviceFactory() = default;
    // A new, closed device.
    virtual std::unique_ptr<SerialDevice> Create() = 0;
    // A new, closed device of the kind that `path` names; the kind Create makes unless a
    // factory knows several.
    virtual std::unique_ptr<SerialDevice> CreateFor(const std::string& /*path*/) {
        return Create();
    }
    // Whether opening `path` is over at once (a local device) or may take seconds (a network
    // connection), so that the driver knows whether it may open it on the caller's thread.
    virtual bool OpensAtOnce(const std::string& /*path*/) const { return true; }
};

// The devices the program uses: termios for device paths, and for "tcp://HOST:PORT" and
// "rfc2217://HOST:PORT" a terminal server reached over the network.
std::unique_ptr<SerialDeviceFactory> MakePosixSerialDeviceFactory();

}  // namespace kestrel

// A MUX's serial line behind a terminal server: raw TCP, or Telnet with the COM-PORT-OPTION
// (RFC 2217), over a POSIX socket, behind the same interface as a local tty.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/SerialDevice.h"
#include "link/Telnet.h"

namespace kestrel {

struct NetworkAddress {
    bool rfc2217 = false;
    std::string host;  // without the brackets of an IPv6 address
    std::string port;
};
// Whether the path names a network link at all (its scheme), well formed or not.
bool IsNetworkPath(const std::string& path);
// "tcp://HOST:PORT" or "rfc2217://HOST:PORT" ("[v6addr]:PORT" too); nothing otherwise.
std::optional<NetworkAddress> ParseNetworkPath(const std::string& path);

class NetworkSerialDevice : public SerialDevice {
public:
    // Line data waiting to be read is kept in a ring of this size: a server that floods (a
    // terminal server's buffer let go, a wrong port) must not grow the process, and what is
    // decoded must stay current, so the oldest bytes go when the reader falls behind.
    static constexpr std::size_t kRingSize = 64 * 1024;
    // How long a connection and its negotiation may take before the open gives up, and how
    // long a server may take to answer the line settings.
    static constexpr std::chrono::seconds kAnswerLimit{5};

    NetworkSerialDevice() = default;
    ~NetworkSerialDevice() override;
    NetworkSerialDevice(const NetworkSerialDevice&) = delete;
    NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

    int Open(const std::string& path) override;
    void Close() override;
    // A host given as an address, or localhost, needs no look-up: such a connection is made
    // in steps; a name is looked up by Open alone.
    int BeginOpen(const std::string& path) override;
    int ContinueOpen(unsigned pollEvents, bool timedOut) override;
    int ConnectDescriptor() const override { return fd; }
    std::chrono::steady_clock::time_point OpenDeadline() const override { return deadline; }
    int FinishOpen() override;
    bool FinishesAtOnce() const override { return !rfc2217; }
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
    std::uint64_t DroppedBytes() const override { return dropped.load(); }
    void SetCancelDescriptor(int fd) override { cancelFd = fd; }
    std::string FailureDetail() const override { return detail; }

private:
    enum class Ready { Yes, TimedOut, Cancelled, Failed };
    // The connection: the addresses to try, each in turn until one answers.
    int Begin(const std::string& path, bool mayLookUp);
    int ConnectNext(int error);
    int Connected();
    struct Address {
        sockaddr_storage address{};
        socklen_t length = 0;
        int family = 0;
        int protocol = 0;
    };
    std::vector<Address> addresses;
    std::size_t nextAddress = 0;
    std::chrono::steady_clock::time_point deadline{};
    // Waits for `events` on the socket until the deadline or a cancel.
    Ready PollSocket(short events, std::chrono::steady_clock::time_point deadline);
    // Takes everything the socket has without blocking, decodes it and answers the server.
    void Pump();
    // Pumps until `done` holds, the deadline passes, the server goes or a cancel comes; 0 or
    // the errno of why not (ETIMEDOUT, ECANCELED, ECONNRESET).
    template <class Done>
    int PumpUntil(Done done, std::chrono::steady_clock::time_point deadline);
    bool Send(const std::string& bytes);
    // An RFC 2217 SET-CONTROL (RTS, DTR); a raw tcp:// server has no lines to set.
    bool SetControl(std::uint8_t value);
    int Fail(int error, const std::string& why);

    int fd = -1;
    int cancelFd = -1;
    bool rfc2217 = false;
    std::string name;  // "HOST:PORT" for the messages
    std::string detail;
    unsigned eventMask = 0;
    telnet::Client client;
    // Line data decoded and not yet read: a ring of kRingSize, `queued` bytes from `head`.
    std::vector<char> ring;
    std::size_t head = 0;
    std::size_t queued = 0;
    std::string decoded;  // one block after the Telnet layer, before it joins the ring
    std::atomic<std::uint64_t> dropped{0};
    void Keep(std::string_view bytes);
    bool hungUp = false;
    std::mutex sendMutex;  // the receive thread's replies and the host's line requests
    // -1 until the server reports a modem line on; read by the host's thread.
    std::atomic<int> modemState{-1};
};

}  // namespace kestrel

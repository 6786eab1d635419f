// A scriptable serial device for tests: incoming bytes, modem lines, faults and a call log.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "link/SerialDevice.h"

namespace kestrel {

// The far end of one fake port: what the test scripts and what it can observe afterwards.
// Every member is safe to call from any thread.
class FakeSerialLine {
public:
    FakeSerialLine();
    ~FakeSerialLine();
    FakeSerialLine(const FakeSerialLine&) = delete;
    FakeSerialLine& operator=(const FakeSerialLine&) = delete;

    // --- Scripting ---
    // Queues bytes and raises one receive event (several calls before the next wait
    // coalesce into one event, as a real port's event does).
    void Deliver(std::string_view bytes);
    // A receive event with nothing newly queued.
    void RaiseEvent();
    // The device vanishes as a Linux tty does when it hangs up: every wait reports it
    // readable and hung up at once, and once the bytes queued before are read, the queue
    // query and reads fail with EIO. false restores it.
    void HangUp(bool gone = true);
    // The modem-status inputs the MUX drives (kLineCts, kLineDsr, kLineRing, kLineCd).
    void SetModemInputs(unsigned lines);
    // How the modem-status query ends; ModemQuery::Ok by default.
    void SetModemQuery(ModemQuery outcome);
    // The next opens fail with this errno (0: they succeed).
    void SetOpenError(int error);
    // SetState answers EINVAL, as a device that did not take the settings.
    void SetRefuseSettings(bool refuse);
    // SetEventMask answers false.
    void SetRefuseEventMask(bool refuse);
    // The next `count` reads fail after the queue reported bytes waiting.
    void FailReads(int count);
    // The queue query fails while set.
    void FailQueueQuery(bool fail);
    // What GetState reports before anything was written.
    void SetInitialState(const Dcb& dcb);

    // --- Observation ---
    // Driver calls in order: "Open", "Close", "GetState", "SetState", "SetEventMask 1",
    // "Purge", "SETRTS", "CLRRTS", "SETDTR", "CLRDTR".
    std::vector<std::string> Calls() const;
    void ClearCalls();
    // Sizes asked of every Read, in order (a queue query alone is not a read).
    std::vector<std::size_t> ReadRequests() const;
    // The last settings written, if any.
    bool StateWritten() const;
    Dcb WrittenState() const;
    bool Rts() const;
    bool Dtr() const;
    bool IsOpen() const;
    std::size_t Queued() const;
    // How many waits the device has begun, the link loop's counted.
    std::uint64_t Waits() const;

private:
    friend class FakeSerialDevice;

    mutable std::mutex mutex;
    int eventFd = -1;  // readable while a receive event or a hang-up is pending
    bool eventPending = false;
    bool gone = false;
    bool open = false;
    std::string queue;
    unsigned modemInputs = 0;
    ModemQuery modemQuery = ModemQuery::Ok;
    int openError = 0;
    bool refuseSettings = false;
    bool refuseEventMask = false;
    int failReads = 0;
    bool failQueueQuery = false;
    Dcb initialState;
    Dcb state;
    bool stateWritten = false;
    bool rts = false;
    bool dtr = false;
    unsigned eventMask = 0;
    std::vector<std::string> calls;
    std::vector<std::size_t> readRequests;
    std::uint64_t waits = 0;

    void Signal();
};

// The set of fake ports, by device path. Shared between a test and the factory it hands over.
class FakeSerialPorts {
public:
    // Adds (or returns) the line behind a path.
    std::shared_ptr<FakeSerialLine> Add(const std::string& path);
    // The line behind a path, or null.
    std::shared_ptr<FakeSerialLine> Find(const std::string& path) const;
    // Every path an open was tried on, in order.
    std::vector<std::string> OpenAttempts() const;

private:
    friend class FakeSerialDevice;
    void NoteAttempt(const std::string& path);

    mutable std::mutex mutex;
    std::map<std::string, std::shared_ptr<FakeSerialLine>> lines;
    std::vector<std::string> attempts;
};

class FakeSerialDeviceFactory : public SerialDeviceFactory {
public:
    explicit FakeSerialDeviceFactory(std::shared_ptr<FakeSerialPorts> ports)
        : ports(std::move(ports)) {}
    std::unique_ptr<SerialDevice> Create() override;
    // Paths of network links ("tcp://", "rfc2217://") open on the receive thread, as the
    // real ones do.
    bool OpensAtOnce(const std::string& path) const override;

private:
    std::shared_ptr<FakeSerialPorts> ports;
};

// One opened fake device; a path with no line behind it fails with ENOENT, a line that is
// already open with EBUSY.
class FakeSerialDevice : public SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeSerialPorts> ports) : ports(std::move(ports)) {}
    ~FakeSerialDevice() override;

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

private:
    // Seen, not counted as a wait.
    unsigned Look(unsigned pollEvents);
    std::shared_ptr<FakeSerialPorts> ports;
    std::shared_ptr<FakeSerialLine> line;  // set while open
};

}  // namespace kestrel

// Serial port driver and receive side for the MUX's status line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "link/LinkStatus.h"
#include "link/Reactor.h"
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
    // "COM3" -> path; "" for COM0 and for anything that is not "COM" and a number.
    std::string Resolve(const std::string& comName) const;

private:
    std::map<int, std::string> paths;
};

// The receive side hands text to this (on the link loop's thread); the owner runs the frame
// parser with it.
using FrameHandOver = std::function<void(std::string_view text)>;

class CComm {
public:
    // Bytes per read and the text length that is handed over at once.
    static constexpr std::size_t ReceiveChunk = 80;
    static constexpr std::size_t HandOverThreshold = 320;
    // Exit codes of the receive loop.
    static constexpr int kExitOrderly = 16;
    static constexpr int kExitNoEventMask = 0;

    // frameMutex is held around every call of handOver. The device factory makes the
    // POSIX device in the program and a fake in tests.
    CComm(MonitorState& state, std::mutex& frameMutex, FrameHandOver handOver,
          std::unique_ptr<SerialDeviceFactory> devices, DeviceResolver resolver = {});
    ~CComm();  // shuts the receive side down, then closes the port if open
    CComm(const CComm&) = delete;
    CComm& operator=(const CComm&) = delete;

    // Port operations, user-interface thread. None of them may be called while the caller
    // holds frameMutex (closing and opening wait for the receive side to step aside).
    void SetPortNumber(int number);
    void SetPortOpen(bool open);
    int IsPortOpen() const;
    int ClosePortIfOpen();
    int IsModemActive();
    // Why the last OpenPort failed (errno), 0 after a successful open.
    int LastOpenError() const;
    std::string DevicePath() const;  // path the current port number resolves to

    // The driver's steps, public so that tests can drive them one at a time.
    int OpenPort();
    int ConfigurePort();
    int ClosePort();
    int SetRts(bool on);
    int SetDtr(bool on);
    // Receive side only (or a test with it not running): at most `maximum` of the bytes
    // already queued; 0 when none or on any failure.
    std::size_t ReadBytes(char* buffer, std::size_t maximum);
    // The line settings as ConfigurePort writes them, from the record and the device's
    // current settings.
    static Dcb BuildDcb(const CommInfo& info, const Dcb& current);
    const CommInfo& Info() const { return info; }

    // Control of the receive side, user-interface thread. It is not a thread of its own but
    // turns on the process's link loop (Reactor), shared by every link, so that a thousand
    // links cost one thread. Start() makes it suspended (count 1); Suspend() returns only
    // when no turn of this link runs and none will until it is resumed.
    void Start();
    void SuspendThread();
    void ResumeThread();
    int SuspendCount() const;
    // Clears keepReceiving in the shared state (for good, as at program exit), wakes the
    // receive side from any wait or pause and waits until its turn is over; safe from any
    // state and more than once. Not to be called while holding frameMutex: a turn may be due
    // for a hand-over.
    void Shutdown();

    // 16 after an orderly stop, 0 when the event mask could not be set, -1 while the side
    // has not ended (or was never started).
    int ExitCode() const;

    // --- Keeping the port open (user-interface thread unless said otherwise) ---
    // A port that is meant to be open survives its device: when the device hangs up or fails
    // (a USB adapter pulled, a terminal server gone), the receive side closes it and opens
    // the same path again, with the same line settings, every 2 s, and every 30 s once it has
    // been gone for a minute (RetryPeriods). It never spins and never blocks the caller's
    // thread: opens that take a connection are made by the receive side, which must
    // therefore be running (resumed) while the port is meant to be open.
    //
    // How often; RetryPeriods' defaults unless a test shortens them before Start().
    void SetRetryPeriods(RetryPeriods periods) { retry = periods; }
    enum class OpenStart {
        Opened,      // open now
        Failed,      // not open, and not tried again (Status() says why)
        Connecting,  // the receive side is opening it; Status() tells the outcome
        Retrying,    // not there now; the receive side tries again
    };
    // Opens the port (port number as set) and keeps it open until SetPortOpen(false) or
    // ClosePort. A device that opens at once is opened here, with SetPortOpen's line order;
    // a network link is opened by the receive side. A first open that fails is tried again
    // only with `retryFailedOpen` (a start-up with the port stored open); without it, it is
    // final, as a user's "Port Open" is.
    OpenStart OpenKeepingOpen(bool retryFailedOpen);
    // The link as it stands; safe from any thread.
    LinkStatus Status() const;
    // Called on whichever thread changed the status (often the link loop's), without any
    // lock held; it must not block nor call back into this object. Set before Start().
    void SetLinkNews(std::function<void()> news) { linkNews = std::move(news); }
    // The path of a port kept open now leads to another device (or none): close the old one
    // and connect again as if it had hung up.
    void DeviceReplaced();
    // Start-up delay of the receive loop; 1000 ms unless a test shortens it before Start().
    void SetStartupDelay(std::chrono::milliseconds delay) { startupDelay = delay; }

    // Bytes a flooding line brought faster than the parser could take them, dropped (oldest
    // first) so that what is decoded stays current; since construction, as of the last read,
    // safe from any thread.
    std::uint64_t DroppedBytes() const;

private:
    // One turn of the receive side on the link loop: whatever is due now (start-up delay,
    // waiting for the line to go quiet, draining a burst, a pause after a hang-up, the next
    // reconnect attempt), then back to the loop until a byte, a timer or a post. `heard`: the
    // poll events the loop saw on the watched descriptor, 0 when it saw none.
    void Turn(unsigned heard);
    void Step(unsigned heard);
    // Serves what the device reports (looking at it without blocking unless the loop saw its
    // events); arms the loop for the device's descriptor when it reports nothing.
    void ServeDevice(unsigned heard);
    // The wait for a trickling line to go quiet (see kQuietGap), one look per turn.
    void BeginQuietWait();
    void QuietLook();
    void EndQuietWait(bool stillTrickling);
    // Reads the queue dry in chunks, handing over at the threshold and once at the end; the
    // closing hand-over of empty text is left out for a device that hung up. Goes on over
    // several turns when paused or when a flooding line has used up the turn's share.
    void BeginDrain(bool hungUp);
    void ContinueDrain();
    void AfterBurst();
    // The thread-control record says the receive side has ended with `code`. With `control`.
    void EndLocked(int code);
    long QueuedNow();
    void HandOver(const std::string& text);
    bool Keep() const;
    void Wake();
    void DrainWake();
    bool PauseWanted() const { return suspendCount > 0 || holds > 0; }
    // Out of the way: no turn running and no open under way.
    bool Quiet() const { return !busy && !opening; }
    // Counts the dropped bytes now, for DroppedBytes; on the loop's thread.
    std::uint64_t CountDropped();
    // Tells the log about dropped bytes once a minute at most.
    void NoteDropped();
    // Keeps the receive side out of the way while the device is replaced or closed.
    class Hold;

    // Keeping the port open.
    using Clock = std::chrono::steady_clock;
    // A device of `path`, opened and set up as OpenPort does (not yet given the control-line
    // order); 0 or the errno, with any detail. On failure `fresh` is left empty.
    int OpenDevice(const std::string& path, const CommInfo& line, int cancelFd,
                   std::unique_ptr<SerialDevice>& fresh, std::string& detail);
    // The setting up of an open device, and the same after a connection: what is left of the
    // open, then the setting up.
    int SetUpDevice(const CommInfo& line, std::unique_ptr<SerialDevice>& fresh,
                    std::string& detail);
    int FinishDevice(const CommInfo& line, std::unique_ptr<SerialDevice>& fresh,
                     std::string& detail);
    // Closes and drops the device, as ClosePort does, without ending the keeping open.
    void CloseDevice();
    bool KeepOpenWanted() const;
    // One turn while there is no device to wait on: the next attempt is timed, or made: a
    // local device is opened in the turn, a connection is begun and watched by the loop
    // (Connect), and what may take seconds (a look-up, a negotiation) goes to an opener thread.
    void ReconnectStep();
    void ContinueConnect(unsigned heard);
    // Goes on after a step of the connection that gave `err`.
    void Connect(int err);
    using OpenWork = std::function<int(std::unique_ptr<SerialDevice>& fresh, std::string& detail)>;
    void OnOpener(std::string path, OpenWork work);
    // The outcome of an attempt: the device is the link's now, or the status says why not.
    void Opened(const std::string& path, int err, std::unique_ptr<SerialDevice> fresh,
                const std::string& detail);
    // The same in a turn, which then asks for the next.
    void OpenedInTurn(const std::string& path, int err, std::unique_ptr<SerialDevice> fresh,
                      const std::string& detail);
    // Receive side: the device hung up or failed; close it and start trying again.
    void LoseDevice(int error);
    // With `control` held: a new status; the news go out after the lock is released.
    void SetStatusLocked(LinkState s, std::string path, int error, std::string detail);
    void TellNews();

    MonitorState& state;
    std::mutex& frameMutex;
    FrameHandOver handOver;
    std::unique_ptr<SerialDeviceFactory> devices;
    DeviceResolver resolver;

    // User-interface side. `device` changes only while no turn runs (held, or by the open
    // under way while turns wait for it), so turns may use it without a lock.
    CommInfo info;
    std::unique_ptr<SerialDevice> device;
    // A connection under way, watched by the loop; like `device`, turns own it.
    struct Connecting {
        std::unique_ptr<SerialDevice> device;
        std::string path;
        CommInfo line;
    } connecting;
    int lastOpenError = 0;
    std::string lastOpenDetail;
    std::chrono::milliseconds startupDelay{1000};

    // Keeping the port open, guarded by `control`; the status and the wish to reconnect.
    bool keepOpen = false;
    bool retryFirstOpen = false;
    bool everOpened = false;  // since the keeping open began
    CommInfo keepLine;        // the port record as it was when the keeping open began
    LinkStatus status;
    RetryPeriods retry;
    Clock::time_point nextAttempt{};
    Clock::time_point lostSince{};
    std::function<void()> linkNews;
    bool newsDue = false;
    // Guards `device` and info.isOpen against the host's thread while the receive side
    // replaces them (the host's own changes are made with it held).
    mutable std::mutex deviceMutex;

    // Thread control, guarded by `control`.
    mutable std::mutex control;
    std::condition_variable changed;
    int suspendCount = 1;
    int holds = 0;
    bool busy = false;     // a turn is running
    bool opening = false;  // an open is under way on an opener thread
    bool running = false;  // between Start and the end of the receive side
    bool stopRequested = false;
    bool started = false;
    int exitCode = -1;
    Reactor& reactor;
    std::atomic<Reactor::Id> linkId{0};
    int wakeFd = -1;  // eventfd that calls off a slow open

    // The receive side's own state, used by turns only (one at a time).
    enum class Phase { NotBegun, StartupDelay, Receiving };
    Phase phase = Phase::NotBegun;
    Clock::time_point delayEnd{};
    Clock::time_point pauseEnd{};  // after a hang-up or a failed read, before the next look
    bool troubleReported = false;
    bool trickling = true;  // until a burst is seen to arrive whole
    Clock::time_point lastDrain{};
    struct QuietWait {
        bool active = false;
        long first = 0;
        long queued = 0;
        Clock::time_point start{};
        Clock::time_point deadline{};
        Clock::time_point nextLook{};
        bool grew = false;
    } quiet;
    struct Drain {
        bool active = false;
        bool hungUp = false;
        std::size_t total = 0;
    } drain;
    std::string text;  // read and not yet handed over

    // Bytes the device dropped because the parser could not keep up: those of devices closed
    // since, and when that was last logged.
    std::atomic<std::uint64_t> droppedBefore{0};
    // The total as of the last read or close, for other threads: a host reads it for each of
    // its lines every second, and the device's own count is this thread's.
    std::atomic<std::uint64_t> droppedSeen{0};
    std::uint64_t droppedLogged = 0;
    Clock::time_point droppedLoggedAt{};
};

}  // namespace kestrel

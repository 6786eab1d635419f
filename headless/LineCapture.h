// A timed capture of what one MUX's line brings, second by second, for kestrel-replay.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::headless {

// The receive thread hands every text over as it comes (Arrived: a copy and nothing else); the
// host's tick writes the seconds that are over, an empty record for a silent one, so that a
// replay puts every character in the second it came. A file that reaches its limit is moved to
// FILE.1 (replacing the one before) and a new one begins, so the capture never fills the disk
// beyond twice the limit. A failed write is told once and ends the capture; monitoring goes on.
class LineCapture {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // `problem`: the capture lost something or stopped.
    using Log = std::function<void(bool problem, const std::string& line)>;
    static constexpr std::uint64_t kDefaultLimit = 64ull << 20;
    // What waits for the host's tick at most: beyond it the oldest characters are dropped and
    // counted (a flood, or a host that stopped ticking).
    static constexpr std::size_t kMaxPending = 4u << 20;

    // Starts the capture file now (`start` on the monotonic clock, `wall` the same instant on
    // the wall clock, which the log line names for --start). A file already at the path is kept
    // as FILE.1.
    LineCapture(std::string path, TimePoint start, std::time_t wall, Log log,
                std::uint64_t limit = kDefaultLimit);
    ~LineCapture();
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    // Receive thread.
    void Arrived(std::string_view text, TimePoint at);
    // Host's thread: writes every second that ended at least a second before `now`.
    void Tick(TimePoint now);
    // Writes everything, the second in hand included, and closes the file.
    void Close(TimePoint now);
    bool Capturing() const { return fd >= 0; }

private:
    struct Piece {
        TimePoint at;
        std::string text;
    };
    std::int64_t SecondOf(TimePoint at) const;
    void WriteUpTo(std::int64_t second);
    // A new file whose first second begins at `wall`.
    bool Begin(std::time_t wall);
    void Fail(const std::string& what);

    std::string path;
    Log log;
    std::uint64_t limit;
    TimePoint start;
    std::time_t startWall;  // second 0 on the wall clock
    int fd = -1;
    std::uint64_t size = 0;
    std::int64_t next = 0;    // the first second not yet written
    std::string inHand;       // characters of second `next` so far
    std::uint64_t dropTold = 0;

    std::mutex mutex;  // held only to append or swap
    std::vector<Piece> pending;
    std::size_t pendingBytes = 0;
    std::uint64_t dropped = 0;
};

}  // namespace kestrel::headless

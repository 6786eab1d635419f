// Timed captures of a MUX's line: gathered from the receive thread, written by the host.
#include "headless/LineCapture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "performance/Figures.h"
#include "tools/capture/Capture.h"

namespace kestrel::headless {

LineCapture::LineCapture(std::string file, TimePoint startAt, std::time_t wall, Log logLine,
                         std::uint64_t sizeLimit)
    : path(std::move(file)),
      log(std::move(logLine)),
      limit(sizeLimit),
      start(startAt),
      startWall(wall) {
    Begin(wall);
}

LineCapture::~LineCapture() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool LineCapture::Begin(std::time_t wall) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    // The file before is kept once: a restart or a full file never loses the last capture.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 0 &&
        std::rename(path.c_str(), (path + ".1").c_str()) != 0) {
        Fail("cannot keep " + path + " as " + path + ".1 (" + std::strerror(errno) + ")");
        return false;
    }
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail("cannot create " + path + " (" + std::strerror(errno) + ")");
        return false;
    }
    size = 0;
    const std::string header = CaptureHeader();
    if (::write(fd, header.data(), header.size()) != static_cast<ssize_t>(header.size())) {
        Fail("cannot write " + path + " (" + std::strerror(errno) + ")");
        return false;
    }
    size = header.size();
    if (log) {
        // Its first second begins at the wall time given; a replay needs it as --start.
        log(false, "capturing the line into " + path + " from " + IsoUtc(wall) +
            " (kestrel-replay --start " + IsoUtc(wall) + ")");
    }
    return true;
}

void LineCapture::Fail(const std::string& what) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (log) {
        log(true, "capture stopped: " + what + "; monitoring goes on");
    }
}

std::int64_t LineCapture::SecondOf(TimePoint at) const {
    const auto d = at - start;
    return d < TimePoint::duration::zero()
               ? 0
               : std::chrono::duration_cast<std::chrono::seconds>(d).count();
}

void LineCapture::Arrived(std::string_view text, TimePoint at) {
    std::lock_guard lock(mutex);
    if (pendingBytes + text.size() > kMaxPending) {
        dropped += text.size();
        return;
    }
    pending.push_back({at, std::string(text)});
    pendingBytes += text.size();
}

void LineCapture::WriteUpTo(std::int64_t second) {
    std::string records;
    for (; next < second && fd >= 0; ++next) {
        records.clear();
        AppendCaptureSecond(records, inHand);
        inHand.clear();
        if (size + records.size() > limit && !Begin(startWall + static_cast<std::time_t>(next))) {
            return;  // the new file's first second is this one
        }
        if (::write(fd, records.data(), records.size()) != static_cast<ssize_t>(records.size())) {
            Fail("cannot write " + path + " (" + std::strerror(errno) + ")");
            return;
        }
        size += records.size();
    }
}

void LineCapture::Tick(TimePoint now) {
    if (fd < 0) {
        return;
    }
    std::vector<Piece> taken;
    std::uint64_t droppedNow = 0;
    {
        std::lock_guard lock(mutex);
        taken.swap(pending);
        pendingBytes = 0;
        droppedNow = dropped;
    }
    for (Piece& p : taken) {
        // A piece stamped in a second already written (a late hand-over) joins the one in hand.
        WriteUpTo(SecondOf(p.at));
        inHand += p.text;
    }
    // A second of grace: a text stamped just before now may still be on its way.
    WriteUpTo(SecondOf(now) - 1);
    if (droppedNow != dropTold && log) {
        log(true, "capture dropped " + std::to_string(droppedNow - dropTold) +
            " characters it could not keep up with");
        dropTold = droppedNow;
    }
}

void LineCapture::Close(TimePoint now) {
    Tick(now);
    WriteUpTo(SecondOf(now) + 1);
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace kestrel::headless

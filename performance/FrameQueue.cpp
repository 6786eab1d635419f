// Per-pass hand-over of applied frames from the receive thread.
#include "performance/FrameQueue.h"

namespace kestrel {

FrameSecond FrameSecondFrom(const PassReport& report, const MonitorState& s) {
    FrameSecond f;
    f.nearDefect = report.localAlarm;
    f.farDefect = report.remoteAlarm;
    f.remoteTribsDecoded = !report.localAlarm;
    f.nearCount = report.near;
    f.farCount = report.far;
    for (int i = 0; i < kTribCount; ++i) {
        f.tribNoSig |= (s.tribNoSig[i].load(std::memory_order_relaxed) ? 1u : 0u) << i;
        f.tribCErr |= (s.tribCErr[i].load(std::memory_order_relaxed) ? 1u : 0u) << i;
    }
    const int flags[8] = {s.localNoInputSignal.load(),  s.localAis.load(),  s.localLof.load(),
                          s.localRai.load(),            s.remoteNoInputSignal.load(),
                          s.remoteAis.load(),           s.remoteLof.load(), s.remoteRai.load()};
    for (int i = 0; i < 8; ++i)
        f.alarms |= static_cast<std::uint8_t>((flags[i] ? 1u : 0u) << i);
    return f;
}

FrameQueue::FrameQueue(const MonitorState& s, std::chrono::milliseconds silence)
    : state(s), silenceAfter(silence) {}

void FrameQueue::Arrived(std::size_t size, TimePoint at) {
    if (size == 0)
        return;  // a call that brings nothing decodes what earlier calls brought
    // The parser keeps at most kMaxCarryOver characters from earlier calls: a call that ended
    // before them can bring no frame's end any more, even on a line of pure noise.
    while (!chunks.empty() && chunks.front().end + kMaxCarryOver <= received)
        chunks.pop_front();
    received += size;
    chunks.push_back({received, at});
    std::lock_guard lock(mutex);
    if (lastArrival && at - *lastArrival > silenceAfter)
        silences.push_back({*lastArrival, at});
    lastArrival = at;
}

void FrameQueue::OnPass(const PassReport& report) {
    if (!report.applied)
        return;
    // The parser's own count and ours agree when every call was announced; a parser fed
    // without announcements (tests) gets the newest arrival time.
    while (chunks.size() > 1 && chunks.front().end < report.streamEnd)
        chunks.pop_front();
    const TimePoint at = chunks.empty() ? TimePoint{} : chunks.front().at;
    StampedFrame stamped{FrameSecondFrom(report, state), at};
    std::lock_guard lock(mutex);
    frames.push_back(stamped);
}

void FrameQueue::Parsed(std::size_t buffered) {
    std::optional<TimePoint> held;
    if (buffered > 0 && buffered <= received) {
        const std::uint64_t first = received - buffered;  // the first character held
        for (const Chunk& c : chunks) {
            if (c.end > first) {
                held = c.at;
                break;
            }
        }
    }
    std::lock_guard lock(mutex);
    heldSince = held;
}

std::optional<FrameQueue::TimePoint> FrameQueue::HeldSince() {
    std::lock_guard lock(mutex);
    return heldSince;
}

std::vector<StampedFrame> FrameQueue::Take() {
    std::vector<StampedFrame> out;
    std::lock_guard lock(mutex);
    out.swap(frames);
    return out;
}

std::vector<Silence> FrameQueue::TakeSilences() {
    std::vector<Silence> out;
    std::lock_guard lock(mutex);
    out.swap(silences);
    return out;
}

std::optional<FrameQueue::TimePoint> FrameQueue::LastArrival() {
    std::lock_guard lock(mutex);
    return lastArrival;
}

}  // namespace kestrel

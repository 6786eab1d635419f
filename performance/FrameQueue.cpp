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

FrameQueue::FrameQueue(const MonitorState& s, Clock c) : state(s), clock(std::move(c)) {
    if (!clock)
        clock = [] { return std::time(nullptr); };
}

void FrameQueue::OnPass(const PassReport& report) {
    if (!report.applied)
        return;
    StampedFrame stamped{FrameSecondFrom(report, state), clock()};
    std::lock_guard lock(mutex);
    frames.push_back(stamped);
}

std::vector<StampedFrame> FrameQueue::Take() {
    std::vector<StampedFrame> out;
    std::lock_guard lock(mutex);
    out.swap(frames);
    return out;
}

}  // namespace kestrel

// The session's line memory: frames into the seconds they arrived in, the link as the journal
// tells it, the clock's steps, closing and acknowledging.
#include "session/MuxSession.h"

namespace kestrel {

std::time_t MuxSession::WallNow() const {
    return options.wallClock ? options.wallClock() : std::time(nullptr);
}

std::optional<double> MuxSession::LastFrameTime() const {
    if (!lastFrame) {
        return std::nullopt;
    }
    const std::chrono::duration<double> ago = options.clock() - *lastFrame;
    // To the fraction of a second where the wall clock is the system's.
    const double wall = options.wallClock
                            ? static_cast<double>(options.wallClock())
                            : std::chrono::duration<double>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    return wall - ago.count();
}

std::time_t MuxSession::LineNow() const {
    return lineClock.At(options.clock());
}

void MuxSession::UpdateMemory() {
    FeedMemory();
    const auto mono = options.clock();
    const std::time_t before = lineClock.At(mono);
    if (const auto step = lineClock.Check(WallNow(), mono)) {
        memory.ClockStepped(step->seconds, before, lineClock.At(mono));
    }
    NoteLinkState();
    // Seconds whose characters the parser still holds stay open: a frame decoded from them a
    // call or more later still measures its own second. A line that went silent on a held
    // remnant is not waited for beyond kHeldWait.
    auto until = mono;
    if (const auto held = frameQueue.HeldSince(); held && mono - *held < kHeldWait) {
        until = std::min(until, *held);
    }
    memory.Tick(lineClock.At(until));
}

void MuxSession::FeedMemory() {
    const std::vector<StampedFrame> frames = frameQueue.Take();
    auto frame = frames.begin();
    auto feedUntil = [&](std::chrono::steady_clock::time_point until) {
        for (; frame != frames.end() && frame->arrived <= until; ++frame) {
            const std::time_t second = lineClock.At(frame->arrived);
            // Characters came back after a silence a tick saw: "no data" ends here.
            if (memory.Link() == LineCondition::NoData) {
                NoteLink(LineCondition::Up, second);
            }
            memory.OnFrameApplied(frame->frame, second);
            lastFrame = frame->arrived;
        }
    };
    for (const Silence& silence : frameQueue.TakeSilences()) {
        feedUntil(silence.from);
        // A silence from before the port was listened to belongs to the state it had then.
        const auto from = std::max(silence.from, listenedAt);
        if (silence.to - from <= kNoDataAfter) {
            continue;
        }
        if (memory.Link() == LineCondition::Up) {
            NoteLink(LineCondition::NoData, lineClock.At(from));  // no tick looked in time
        }
        if (memory.Link() == LineCondition::NoData) {
            NoteLink(LineCondition::Up, lineClock.At(silence.to));
        }
    }
    feedUntil(std::chrono::steady_clock::time_point::max());
    if (const auto last = frameQueue.LastArrival()) {
        lastHeard = std::max(lastHeard, *last);
    }
}

void MuxSession::NoteLink(LineCondition link, std::time_t at) {
    at = std::max(at, linkNotedAt);
    memory.OnLinkState(link, at);
    linkNotedAt = at;
}

void MuxSession::NoteLinkState() {
    // The frames that came before the change belong before it.
    FeedMemory();
    const auto mono = options.clock();
    LineCondition link = LineCondition::Up;
    std::time_t at = lineClock.At(mono);
    if (!portOpen) {
        link = LineCondition::PortClosed;
    } else if (watchesSinceOpen > 0 && state.connected.load() == 0) {
        link = LineCondition::NotConnected;
    } else if (listening && mono - lastHeard > kNoDataAfter) {
        // Silent since the last characters: that is when the line was last heard.
        link = LineCondition::NoData;
        at = lineClock.At(lastHeard);
    } else if (memory.Link() == LineCondition::NoData) {
        return;  // "no data" ends when characters come, not with a tick
    }
    if (link != memory.Link()) {
        NoteLink(link, at);
    }
}

void MuxSession::CloseMemory() {
    FeedMemory();
    memory.Close(LineNow());
}

int MuxSession::Acknowledge(const std::vector<std::int64_t>& journalIds) {
    return memory.Acknowledge(journalIds, WallNow());
}

int MuxSession::AcknowledgeAll() {
    return memory.AcknowledgeAll(WallNow());
}

}  // namespace kestrel

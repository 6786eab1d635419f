// Copies one MUX's figures out of its monitor state, BER meter and line memory.
#include "metrics/MuxFigures.h"

#include "performance/LineMemory.h"
#include "session/MuxSession.h"

namespace kestrel {

MuxFigures FiguresOf(const std::string& mux, const MonitorState& state, std::mutex& frameMutex,
                     bool portOpen, const LineMemory* memory) {
    MuxFigures f;
    f.mux = mux;
    f.linkUp = portOpen && state.noData.load() == 0;
    f.connected = state.connected.load() != 0;
    f.frames = state.frameCount.load();
    f.resyncs = state.resyncCount.load();
    if (memory != nullptr) {
        f.dataValid = !memory->UnseenSince();
        for (std::size_t a = 0; a < f.alarms.size(); ++a) {
            f.alarms[a] = memory->IsOn(static_cast<int>(a));
        }
        for (int i = 0; i < kTribCount; ++i) {
            f.tribNoSig[i] = memory->IsOn(kAlarmStates + 2 * i);
            f.tribCErr[i] = memory->IsOn(kAlarmStates + 2 * i + 1);
        }
    } else {
        f.dataValid = f.linkUp;
        f.alarms = AlarmFlagsOf(state);
        for (int i = 0; i < kTribCount; ++i) {
            f.tribNoSig[i] = state.tribNoSig[i].load() != 0;
            f.tribCErr[i] = state.tribCErr[i].load() != 0;
        }
    }
    f.errors = {state.nearErrorsCumulative.load(), state.farErrorsCumulative.load()};
    {
        // The history is written by the receive thread under the mutex; a copy is all that
        // happens while it is held.
        std::lock_guard lock(frameMutex);
        f.ber = BerFiguresOf(state);
    }
    if (memory != nullptr) {
        f.g821.emplace();
        for (int object = 0; object < kObjectCount; ++object) {
            (*f.g821)[object] = memory->TotalsOf(object);
        }
    }
    return f;
}

MuxFigures FiguresOf(const std::string& mux, MuxSession& session, const std::string& device) {
    MuxFigures f = FiguresOf(mux, session.State(), session.FrameMutex(), session.IsPortOpen(),
                             LineMemoryOf(session));
    f.device = device.empty() ? session.DevicePath() : device;
    f.lastFrame = session.LastFrameTime();
    f.bytesDropped = static_cast<std::int64_t>(session.LineBytesDropped());
    return f;
}

// The G.821 totals come from the session's line memory, read on the host's thread as every
// other call of the memory.
const LineMemory* LineMemoryOf(MuxSession& session) {
    return &session.Memory();
}

}  // namespace kestrel

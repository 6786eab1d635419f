// The figures of one MUX the metrics show, copied on the host's thread at a tick.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "monitor/BerMeter.h"
#include "monitor/MonitorState.h"
#include "performance/Classifier.h"
#include "performance/Figures.h"
#include "stats/LogRows.h"

namespace kestrel {

class LineMemory;
class MuxSession;

// Plain values, so that the metrics server's thread reads a copy and never the live session.
struct MuxFigures {
    std::string mux;         // the MUX's name, the value of the "mux" label
    std::string device;      // what it is watched on (a path, tcp:// or rfc2217://)
    bool linkUp = false;     // port open and frames arriving
    bool connected = false;  // the MUX answers as connected
    // Frames show the line now. While they do not, the alarms below are the last ones seen
    // (unknown now), never cleared because the monitor went blind.
    bool dataValid = false;
    // When the last frame was decoded (Unix time); empty before the first.
    std::optional<double> lastFrame;
    std::int64_t frames = 0;
    std::int64_t resyncs = 0;
    // Bytes the receive side let go because the decoder could not keep up with the line (a
    // flooding network server): what was dropped was never decoded.
    std::int64_t bytesDropped = 0;
    AlarmFlags alarms{};  // local No Signal, AIS, LOF, RAI, then remote
    std::array<bool, kTribCount> tribNoSig{};
    std::array<bool, kTribCount> tribCErr{};
    std::array<std::int64_t, 2> errors{};  // near, far: since start, never reset
    BerFigures ber{};
    // Finalised G.821 seconds per object; empty while the host keeps no line memory.
    std::optional<std::array<Totals, kObjectCount>> g821;
};

// Takes frameMutex only to copy the BER figures; everything else is read from atomics or,
// for the line memory, on the host's thread that owns it. With a line memory the alarms are
// the journal's (the last seen while the line is unseen); without one, the panel's. `memory`
// may be null.
MuxFigures FiguresOf(const std::string& mux, const MonitorState& state, std::mutex& frameMutex,
                     bool portOpen, const LineMemory* memory);
// The same for a session, with its line memory where it keeps one.
MuxFigures FiguresOf(const std::string& mux, MuxSession& session, const std::string& device = {});

// Where the figures reach a session's line memory: null while the session keeps none.
const LineMemory* LineMemoryOf(MuxSession& session);

}  // namespace kestrel

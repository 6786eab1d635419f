// What the simulated MUX sends tick by tick: built-in scenarios and script playback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/mux-sim/MuxScript.h"
#include "tools/mux-sim/SimRandom.h"

namespace kestrel::sim {

// The bytes of one tick. Empty bytes are a silent tick.
struct Emission {
    std::string bytes;
    int frames = 0;   // well-formed frames in bytes
    int damaged = 0;  // damaged or cut-off frames in bytes
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Fills the next tick; false when the source has nothing more to send.
    virtual bool Next(Emission& out) = 0;
};

// A stretch of a scenario. Its length is given in seconds of wall time and turned into
// ticks with the frame rate, so a scenario looks the same to a watcher at any rate.
struct Phase {
    enum class Kind { Frames, Silence, Noise };
    double seconds = 1;
    Kind kind = Kind::Frames;
    // Fills the frame of one tick (it starts all clear); may be empty for a clear frame.
    std::function<void(StatusFrame&, SimRandom&)> shape;
};

inline constexpr const char* kScenarioNames[] = {"quiet", "alarms",  "tributaries", "errors",
                                                 "noise", "silence", "tour"};

bool IsScenarioName(std::string_view name);

// The phases of one pass of a named scenario; empty for an unknown name.
std::vector<Phase> ScenarioPhases(std::string_view name);

// Ticks a phase lasts at the given rate: at least one.
long PhaseTicks(double seconds, double rate);

// Plays phases in order, over and over.
std::unique_ptr<FrameSource> MakePhaseSource(std::vector<Phase> phases, double rate,
                                             std::uint64_t seed);

// Plays a script once, or over and over with loop.
std::unique_ptr<FrameSource> MakeScriptSource(std::vector<ScriptStep> steps, double rate,
                                              bool loop);

// Spoils a good frame in one of the ways a noisy line does; exposed for tests.
void AddNoise(Emission& out, const StatusFrame& frame, SimRandom& rng);

}  // namespace kestrel::sim

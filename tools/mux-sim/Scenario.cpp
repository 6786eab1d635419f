// What the simulated MUX sends tick by tick: built-in scenarios and script playback.
#include "tools/mux-sim/Scenario.h"

#include <array>
#include <cmath>

namespace kestrel::sim {

namespace {

using Shape = std::function<void(StatusFrame&, SimRandom&)>;

// A working line: now and then a few errors, nothing else.
void QuietShape(StatusFrame& f, SimRandom& rng) {
    if (rng.Percent(5)) {
        f.nearCount = rng.Range(1, 3);
    }
    if (rng.Percent(5)) {
        f.farCount = rng.Range(1, 3);
    }
}

Phase Quiet(double seconds) {
    return Phase{seconds, Phase::Kind::Frames, QuietShape};
}

Phase Status(double seconds, bool remote, std::uint8_t status) {
    return Phase{seconds, Phase::Kind::Frames, [remote, status](StatusFrame& f, SimRandom&) {
                     (remote ? f.remoteStatus : f.localStatus) = status;
                 }};
}

std::vector<Phase> Alarms() {
    std::vector<Phase> p;
    const std::uint8_t order[] = {kStatusNoInputSignal, kStatusAis, kStatusLof, kStatusRai};
    for (bool remote : {false, true}) {
        p.push_back(Quiet(3));
        for (std::uint8_t status : order) {
            p.push_back(Status(5, remote, status));
        }
    }
    return p;
}

std::vector<Phase> Tributaries() {
    std::vector<Phase> p;
    for (int end = 0; end < 2; ++end) {
        // One byte's worth of tributaries at a time: first losing signal, then code errors.
        for (int group = 0; group < 4; ++group) {
            for (bool noSig : {true, false}) {
                p.push_back(
                    Phase{2, Phase::Kind::Frames, [end, group, noSig](StatusFrame& f, SimRandom&) {
                              for (int t = 0; t < 4; ++t) {
                                  f.SetTributary(end * 16 + group * 4 + t, noSig, !noSig);
                              }
                          }});
            }
        }
        // Then tributaries drifting in and out of trouble on their own.
        auto lost = std::make_shared<std::array<bool, 16>>();
        p.push_back(Phase{8, Phase::Kind::Frames, [end, lost](StatusFrame& f, SimRandom& rng) {
                              for (int t = 0; t < 16; ++t) {
                                  if (rng.Percent(4)) {
                                      (*lost)[t] = !(*lost)[t];
                                  }
                                  f.SetTributary(end * 16 + t, (*lost)[t], rng.Percent(6));
                              }
                          }});
    }
    p.push_back(Quiet(2));
    return p;
}

std::vector<Phase> Errors() {
    auto burst = [](bool nearEnd, bool farEnd) {
        return Phase{3, Phase::Kind::Frames, [nearEnd, farEnd](StatusFrame& f, SimRandom& rng) {
                         if (nearEnd) {
                             f.nearCount = rng.Range(20, 2000);
                         }
                         if (farEnd) {
                             f.farCount = rng.Range(20, 2000);
                         }
                     }};
    };
    return {Quiet(3),
            burst(true, false),
            Quiet(3),
            burst(false, true),
            Quiet(3),
            Phase{3, Phase::Kind::Frames, [](StatusFrame& f, SimRandom&) {
                      // The most a count field can say, at both ends at once.
                      f.nearCount = kMaxFrameCount;
                      f.farCount = kMaxFrameCount;
                  }}};
}

std::vector<Phase> Noise() {
    return {Phase{20, Phase::Kind::Noise, QuietShape}};
}

// Long enough for the monitor's data watchdog to report "No Data" and then see it clear.
std::vector<Phase> Silence() {
    return {Quiet(8), Phase{12, Phase::Kind::Silence, {}}};
}

void Append(std::vector<Phase>& to, const std::vector<Phase>& from) {
    to.insert(to.end(), from.begin(), from.end());
}

class PhaseSource : public FrameSource {
public:
    PhaseSource(std::vector<Phase> phases, double rate, std::uint64_t seed)
        : phases(std::move(phases)), rate(rate), rng(seed) {}

    bool Next(Emission& out) override {
        out = Emission{};
        if (phases.empty()) {
            return false;
        }
        while (ticksLeft <= 0) {
            index = started ? (index + 1) % phases.size() : 0;
            started = true;
            ticksLeft = PhaseTicks(phases[index].seconds, rate);
        }
        --ticksLeft;
        const Phase& phase = phases[index];
        if (phase.kind == Phase::Kind::Silence) {
            return true;
        }
        StatusFrame frame;
        if (phase.shape) {
            phase.shape(frame, rng);
        }
        if (phase.kind == Phase::Kind::Noise) {
            AddNoise(out, frame, rng);
        } else {
            AppendFrame(out.bytes, frame);
            out.frames = 1;
        }
        return true;
    }

private:
    std::vector<Phase> phases;
    double rate;
    SimRandom rng;
    std::size_t index = 0;
    bool started = false;
    long ticksLeft = 0;
};

class ScriptSource : public FrameSource {
public:
    ScriptSource(std::vector<ScriptStep> steps, double rate, bool loop)
        : steps(std::move(steps)), rate(rate), loop(loop) {}

    bool Next(Emission& out) override {
        out = Emission{};
        while (left <= 0) {
            if (next >= steps.size()) {
                if (!loop || steps.empty()) {
                    return false;
                }
                next = 0;
            }
            current = next++;
            const ScriptStep& s = steps[current];
            left =
                s.kind == ScriptStep::Kind::Frame ? s.repeat : PhaseTicks(s.silenceSeconds, rate);
        }
        --left;
        const ScriptStep& s = steps[current];
        if (s.kind == ScriptStep::Kind::Frame) {
            AppendFrame(out.bytes, s.frame);
            out.frames = 1;
        }
        return true;
    }

private:
    std::vector<ScriptStep> steps;
    double rate;
    bool loop;
    std::size_t next = 0;
    std::size_t current = 0;
    long left = 0;
};

}  // namespace

bool IsScenarioName(std::string_view name) {
    for (const char* n : kScenarioNames) {
        if (name == n) {
            return true;
        }
    }
    return false;
}

std::vector<Phase> ScenarioPhases(std::string_view name) {
    if (name == "quiet") {
        return {Quiet(20)};
    }
    if (name == "alarms") {
        return Alarms();
    }
    if (name == "tributaries") {
        return Tributaries();
    }
    if (name == "errors") {
        return Errors();
    }
    if (name == "noise") {
        return Noise();
    }
    if (name == "silence") {
        return Silence();
    }
    if (name == "tour") {
        std::vector<Phase> p{Quiet(20)};
        Append(p, Alarms());
        Append(p, Tributaries());
        Append(p, Errors());
        Append(p, Errors());
        Append(p, Noise());
        Append(p, Silence());
        return p;
    }
    return {};
}

long PhaseTicks(double seconds, double rate) {
    double ticks = std::round(seconds * rate);
    if (!(ticks >= 1)) {
        return 1;
    }
    return ticks > 1e9 ? 1000000000L : static_cast<long>(ticks);
}

void AddNoise(Emission& out, const StatusFrame& frame, SimRandom& rng) {
    const std::string good = WriteFrame(frame);
    int kind = rng.Range(0, 99);
    if (kind < 45) {
        out.bytes += good;
        out.frames += 1;
    } else if (kind < 60) {
        // A broken separator: the monitor must refuse the frame and find the next one.
        static constexpr std::size_t separators[] = {2, 7, 10};
        std::string bad = good;
        bad[separators[rng.Range(0, 2)]] = "x.#= 9"[rng.Range(0, 5)];
        out.bytes += bad;
        out.damaged += 1;
    } else if (kind < 70) {
        // A garbled digit inside a field: the frame is accepted with one wrong value.
        static constexpr std::size_t digits[] = {0,  1,  3,  4,  5,  6,  8,  9,  11, 12,
                                                 14, 15, 17, 18, 21, 22, 24, 25, 26, 27,
                                                 29, 30, 32, 33, 35, 36, 38, 39};
        std::string bad = good;
        bad[digits[rng.Range(0, static_cast<int>(std::size(digits)) - 1)]] =
            "ghjkmnpqstuvwxyz"[rng.Range(0, 15)];
        out.bytes += bad;
        out.damaged += 1;
    } else if (kind < 82) {
        // The tail of a frame lost on the line, then a whole one.
        out.bytes += good.substr(0, static_cast<std::size_t>(rng.Range(1, 44)));
        out.bytes += good;
        out.damaged += 1;
        out.frames += 1;
    } else {
        // Line garbage of any byte value ahead of a whole frame.
        int n = rng.Range(1, 48);
        for (int i = 0; i < n; ++i) {
            out.bytes.push_back(static_cast<char>(rng.Range(0, 255)));
        }
        out.bytes += good;
        out.frames += 1;
    }
}

std::unique_ptr<FrameSource> MakePhaseSource(std::vector<Phase> phases, double rate,
                                             std::uint64_t seed) {
    return std::make_unique<PhaseSource>(std::move(phases), rate, seed);
}

std::unique_ptr<FrameSource> MakeScriptSource(std::vector<ScriptStep> steps, double rate,
                                              bool loop) {
    return std::make_unique<ScriptSource>(std::move(steps), rate, loop);
}

}  // namespace kestrel::sim

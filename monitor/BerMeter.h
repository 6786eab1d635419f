// Bit-error-ratio meter: totals since start or reset, and a sliding window of 1 to 30 s.
#pragma once

#include <array>
#include <string>

#include "monitor/MonitorState.h"

namespace kestrel {

// Averaging intervals in seconds, indexed by berIntervalIndex.
inline constexpr std::array<int, 4> BerIntervalSeconds{1, 3, 10, 30};
// Menu command ids of the interval items ("  1 sec" .. "30 sec"), reset and freeze.
inline constexpr int kCmdBerInterval1 = 32775;
inline constexpr int kCmdBerInterval30 = 32778;
inline constexpr int kCmdBerReset = 32785;
inline constexpr int kCmdBerFreeze = 32786;
// The text of a figure that is below zero or not a number, and the fields' initial text.
inline constexpr const char* kBerNoFigure = "0.000000e-009";

// Where the four BER texts go, in the order of fields 1045 (total near), 1046 (intermediate
// near), 1047 (total far), 1048 (intermediate far). Called on the receive thread while
// frameMutex is held: an implementation must never wait for the user-interface thread.
class BerSink {
public:
    virtual ~BerSink() = default;
    virtual void BerTexts(const std::array<std::string, 4>& texts) = 0;
};

// "%e" with a three-digit exponent, '.' as decimal point whatever the locale;
// negative, infinite or NaN values give "0.000000e-009".
std::string FormatBer(double value);

// The figures behind the texts, for every window at once: [0] near end, [1] far end.
struct BerFigures {
    std::array<double, 2> total{};
    // Over the last 1, 3, 10 and 30 steps, in the order of BerIntervalSeconds.
    std::array<std::array<double, 4>, 2> window{};
};
// Read while holding frameMutex (the history is the meter's, written under it). A total
// without any frame is 0.
BerFigures BerFiguresOf(const MonitorState& state);

class BerMeter {
public:
    explicit BerMeter(MonitorState& state) : state(state) {}

    // The sink may be changed only while frameMutex is held (or before the thread runs).
    void SetSink(BerSink* s) { sink = s; }

    // One step per applied frame without local alarm; near and far are never negative.
    void BerUpdate(double near, double far);

    // Menu commands. The caller holds frameMutex so that they cannot interleave with a
    // BerUpdate on the receive thread.
    void OnBerInterval(int commandId);
    void OnBerReset();
    void OnBerFreeze() {}
    // Which interval item carries the check mark; "BER Freeze" is never enabled.
    bool IsBerIntervalChecked(int commandId) const;
    static bool IsBerFreezeEnabled() { return false; }

private:
    MonitorState& state;
    BerSink* sink = nullptr;
};

}  // namespace kestrel

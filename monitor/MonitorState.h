// The one shared record of everything known about the MUX and the link.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace kestrel {

// Number of tributary entries per kind: 16 local (index 0..15) and 16 remote (16..31).
inline constexpr int kTribCount = 32;
// Slots of the BER window: the longest averaging interval in seconds.
inline constexpr int kBerWindowSlots = 30;
// Width of the activity indicator and number of its positions.
inline constexpr int kSpinnerWidth = 12;

// The record is written by the frame parser on the receive thread (under frameMutex) and
// read and partly reset by the user-interface thread without the mutex. Every field shared
// between the two threads is therefore an atomic of its size, read and written whole; no
// reader relies on a consistent snapshot of several fields.
struct MonitorState {
    // Link and supervision.
    std::atomic<int> keepReceiving{1};
    std::atomic<int> closing{0};
    std::atomic<int> connected{0};
    std::atomic<int> wasConnected{0};
    std::atomic<int> noData{1};
    std::atomic<int> rxIdle{1};
    std::atomic<int> rxIdlePrev{1};
    static constexpr int logFlushPeriodMs = 3000;

    // Decoded 34 Mbit/s indications.
    std::atomic<int> localNoInputSignal{0};
    std::atomic<int> localAis{0};
    std::atomic<int> localLof{0};
    std::atomic<int> localRai{0};
    std::atomic<int> remoteNoInputSignal{0};
    std::atomic<int> remoteAis{0};
    std::atomic<int> remoteLof{0};
    std::atomic<int> remoteRai{0};
    std::atomic<int> localAlarm{0};

    // Whether the last pass changed the local / remote status byte. Both live in one atomic
    // word so that the user-interface thread can read and clear them as a pair.
    static constexpr std::uint8_t kLocalChanged = 1;
    static constexpr std::uint8_t kRemoteChanged = 2;
    std::atomic<std::uint8_t> statusChanged{0};
    // The parser publishes the pair with release after the frame's indications; it is read
    // with acquire so that they are seen with it.
    int localStatusChanged() const {
        return (statusChanged.load(std::memory_order_acquire) & kLocalChanged) ? 1 : 0;
    }
    int remoteStatusChanged() const {
        return (statusChanged.load(std::memory_order_acquire) & kRemoteChanged) ? 1 : 0;
    }
    // Takes the pair and clears it in one step; true when the last pass changed both bytes.
    bool ConsumeBothStatusChanged() {
        return statusChanged.exchange(0, std::memory_order_acq_rel) ==
               (kLocalChanged | kRemoteChanged);
    }

    // Status bytes of the last applied frame; 255 makes the next frame count as a change.
    std::atomic<std::uint8_t> lastLocalStatus{255};
    std::atomic<std::uint8_t> lastRemoteStatus{255};

    // Tributary states, 0 or 1.
    std::array<std::atomic<int>, kTribCount> tribNoSig{};
    std::array<std::atomic<int>, kTribCount> tribCErr{};

    // Counters. 64-bit so that years of frames cannot overflow them.
    std::atomic<std::int64_t> frameCount{0};
    // Set by the parser with release once the frame's counters below are added; taken with
    // acquire before they are written into a row.
    std::atomic<std::uint8_t> alarmSeen{0};
    std::atomic<std::int64_t> localAlarmSeconds{0};
    std::atomic<std::int64_t> nearErrorsCumulative{0};
    std::atomic<std::int64_t> remoteAlarmSeconds{0};
    std::atomic<std::int64_t> farErrorsCumulative{0};
    std::atomic<std::int64_t> nearErrorsTotal{0};
    std::atomic<std::int64_t> farErrorsTotal{0};
    // Heads thrown away undecoded by resynchronisation; only ever grows.
    std::atomic<std::int64_t> resyncCount{0};

    // BER window. The slots and sums are touched only by the BER meter under frameMutex.
    std::atomic<int> berIntervalIndex{2};
    std::array<std::int64_t, kBerWindowSlots> nearWindow{};
    std::array<std::int64_t, kBerWindowSlots> farWindow{};
    double nearWindowSum = 0;
    double farWindowSum = 0;
    // The counts of the last 30 BER steps whatever the interval, so that the figures of every
    // window can be read at once (metrics); written by the BER meter under frameMutex.
    std::array<std::int64_t, kBerWindowSlots> nearHistory{};
    std::array<std::int64_t, kBerWindowSlots> farHistory{};
    std::int64_t berSteps = 0;

    // Activity indicator. The shown position is shared as an index (-1 before the first
    // pass); the text is taken from the table where it is displayed.
    std::atomic<int> spinnerIndex{0};
    std::atomic<int> spinnerRising{1};
    std::atomic<int> spinnerShown{-1};
    std::string spinnerText() const;

    // Group resets, each done by the user-interface thread.
    void ClearIndications();   // the eight 34 Mbit/s flags
    void ClearTributaries();   // all 64 tributary states
    void NoDataReset();        // indications and tributaries
    void NotConnectedReset();  // indications, localAlarm and tributaries
    void ConnectionEvent();    // both last status bytes become 255
};

// The twelve activity indicator strings: a '*' in column i, blanks elsewhere.
const std::array<std::string, kSpinnerWidth>& SpinnerFrames();

}  // namespace kestrel

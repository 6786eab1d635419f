// Cuts status frames out of the received byte stream, resynchronises and decodes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/BerMeter.h"
#include "monitor/MonitorState.h"

namespace kestrel {

inline constexpr std::size_t kFrameLength = 45;
// Characters kept from earlier calls at most: a valid stream never gets near it, noise does.
inline constexpr std::size_t kMaxCarryOver = 4096;

// Field readers, exposed for tests and for the frame writer's round trip.
// Two characters as "%x" reads them in the C locale; low 8 bits; no digit gives 0.
std::uint8_t ReadHexField(std::string_view field);
// Four characters as a plain decimal number; clamped to 0..9999; no number gives 0.
double ReadCountField(std::string_view field);

// What one parsing pass did, for listeners that keep figures per pass (the line memory).
struct PassReport {
    bool applied = false;      // false: the pass resynchronised and decoded nothing
    bool localAlarm = false;   // the local status showed no input signal, AIS or LOF
    bool remoteAlarm = false;  // the same for the remote status, counted also under a local alarm
    double near = 0;           // the two counts as read
    double far = 0;
    // Characters of the stream up to the end of the applied frame, counted from the first
    // character the parser was given: tells which call brought the frame's last character.
    std::uint64_t streamEnd = 0;
};

// Told of every pass, on the parser's thread, after the pass has updated MonitorState.
class PassListener {
public:
    virtual ~PassListener() = default;
    virtual void OnPass(const PassReport& report) = 0;
};

class FrameParser {
public:
    FrameParser(MonitorState& state, BerMeter& meter) : state(state), meter(meter) {}

    // Appends text (bytes, any value) to the receive buffer and decodes every frame at its
    // head. The caller holds frameMutex for the whole call.
    void Parse(std::string_view text);

    // Characters received but not yet consumed.
    std::size_t Buffered() const { return rxBuffer.size() - head; }
    std::string_view BufferedText() const { return std::string_view(rxBuffer).substr(head); }
    // Characters thrown away undecoded because more than kMaxCarryOver were left over.
    std::uint64_t Dropped() const { return dropped; }
    // Characters given to the parser so far, over all calls.
    std::uint64_t Received() const { return received; }
    // At most one listener; nullptr removes it.
    void SetPassListener(PassListener* listener) { passListener = listener; }

private:
    // One pass over the head; false ends the call.
    bool Pass();
    void Resynchronise();
    void AdvanceSpinner();
    void Consume(std::size_t n);

    MonitorState& state;
    BerMeter& meter;
    // Frames are consumed by moving `head`, not by erasing, so a call costs what it brings.
    std::string rxBuffer;
    std::size_t head = 0;
    std::uint64_t dropped = 0;
    std::uint64_t received = 0;
    PassListener* passListener = nullptr;
    PassReport lastPass;  // what the pass in hand applied
};

}  // namespace kestrel

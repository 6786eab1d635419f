// Replays a captured byte stream through the frame parser and reports the state as JSON.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/MonitorState.h"
#include "tools/capture/Capture.h"

namespace kestrel {

// Keeps the last four BER texts, as the panel would show them.
class StoringBerSink : public BerSink {
public:
    void BerTexts(const std::array<std::string, 4>& t) override { texts = t; }
    std::array<std::string, 4> texts{kBerNoFigure, kBerNoFigure, kBerNoFigure, kBerNoFigure};
};

// One decoder as the program has it: state, meter and parser wired together.
struct Decoder {
    MonitorState state;
    StoringBerSink ber;
    BerMeter meter{state};
    FrameParser parser{state, meter};
    Decoder() { meter.SetSink(&ber); }
};

// One line of JSON (no newline) describing the decoder after call number `call`.
std::string StateJson(const Decoder& decoder, long long call);

struct ReplayOptions {
    std::size_t chunk = 320;
    bool chunkGiven = false;  // said on the command line, not the default
    int intervalSeconds = 10;
    std::string file;  // empty or "-" for standard input
    bool help = false;
    bool version = false;
};

struct ReplayResult {
    long long calls = 0;
    std::uint64_t dropped = 0;  // characters lost to the noise bound
    int readError = 0;          // errno of a failed read; 0 when the input was read to its end
    std::string error;          // why a timed capture could not be read to its end
};

// The most input the replay holds at a time (or one call's bytes when --chunk is larger).
inline constexpr std::size_t kReplayBlock = 65536;

// Parses the command line; on error returns false and sets `error` to a one-line message.
bool ParseReplayArgs(int argc, char** argv, ReplayOptions& options, std::string& error);

// Feeds the input in calls of `chunk` bytes, as it arrives, and writes one JSON line per call
// to `out`, flushing it before each read; a timed capture is fed one call per second. Stops
// at the first read error or damage.
ReplayResult Replay(const ByteReader& read, const ReplayOptions& options, std::ostream& out);
ReplayResult Replay(std::string_view input, const ReplayOptions& options, std::ostream& out);

}  // namespace kestrel

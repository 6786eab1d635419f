// Decoding helpers shared by the simulator tests: a parser wired as the program has it.
#pragma once

#include <string_view>

#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "monitor/MonitorState.h"

namespace kestrel::test {

struct SimDecoder {
    MonitorState state;
    BerMeter meter{state};
    FrameParser parser{state, meter};
    void Feed(std::string_view text) { parser.Parse(text); }
};

// The eight 34 Mbit/s flags in a fixed order: local NoSig, AIS, LOF, RAI, then remote.
inline std::array<int, 8> Indications(const MonitorState& s) {
    return {
        s.localNoInputSignal.load(),  s.localAis.load(),  s.localLof.load(),  s.localRai.load(),
        s.remoteNoInputSignal.load(), s.remoteAis.load(), s.remoteLof.load(), s.remoteRai.load()};
}

}  // namespace kestrel::test

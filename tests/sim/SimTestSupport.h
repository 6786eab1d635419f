// Helpers shared by the simulator tests: a parser wired as the program has it, and frames.
#pragma once

#include <array>
#include <cstdint>
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

using TribBytes = std::array<std::uint8_t, 4>;

inline StatusFrame MakeFrame(std::uint8_t local, std::uint8_t remote, int nearCount = 0,
                             int farCount = 0, TribBytes localTribs = {},
                             TribBytes remoteTribs = {}, std::uint8_t fifth = 0,
                             bool upper = false) {
    StatusFrame f;
    f.localStatus = local;
    f.remoteStatus = remote;
    f.nearCount = nearCount;
    f.farCount = farCount;
    f.localTribs = localTribs;
    f.remoteTribs = remoteTribs;
    f.fifthByte = fifth;
    f.upperCaseHex = upper;
    return f;
}

}  // namespace kestrel::test

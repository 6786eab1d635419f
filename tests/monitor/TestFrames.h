// Builds status frames for the decoding and simulator tests.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "monitor/FrameWriter.h"
#include "monitor/MonitorState.h"

namespace kestrel::test {

// The frame exactly as the MUX sends it; counts are written as four digits.
inline std::string Frame(unsigned localStatus, int near, const char* localTribs,
                         unsigned remoteStatus, int far, const char* remoteTribs,
                         char terminator = '\x1a') {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02x:%04d;%sR%02x:%04d;%s01|", localStatus, near, localTribs,
                  remoteStatus, far, remoteTribs);
    return std::string(buf) + terminator;
}

// A frame with no tributary trouble.
inline std::string Clear(unsigned localStatus = 0, int near = 0, unsigned remoteStatus = 0,
                         int far = 0) {
    return Frame(localStatus, near, "00/00/00/00/", remoteStatus, far, "00\\00\\00\\00\\");
}

inline const std::string kReference =
    std::string("ff:1234;12/34/56/78/Rff:1234;87\\65\\43\\21\\01|") + '\x1a';

using TribBytes = std::array<std::uint8_t, 4>;

// The frame for the frame writer.
inline StatusFrame MakeFrame(std::uint8_t local, std::uint8_t remote, int nearCount = 0,
                             int farCount = 0, TribBytes localTribs = {},
                             TribBytes remoteTribs = {}, std::uint8_t fifth = 0,
                             bool upper = false) {
    return {local,       nearCount, localTribs,       remote, farCount,
            remoteTribs, fifth,     kFrameTerminator, upper};
}

// The eight 34 Mbit/s flags in a fixed order: local NoSig, AIS, LOF, RAI, then remote.
inline std::array<int, 8> Indications(const MonitorState& s) {
    return {
        s.localNoInputSignal.load(),  s.localAis.load(),  s.localLof.load(),  s.localRai.load(),
        s.remoteNoInputSignal.load(), s.remoteAis.load(), s.remoteLof.load(), s.remoteRai.load()};
}

}  // namespace kestrel::test

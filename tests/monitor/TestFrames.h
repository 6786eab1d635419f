// Builds status frames for the decoding tests.
#pragma once

#include <cstdio>
#include <string>

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

}  // namespace kestrel::test

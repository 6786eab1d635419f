// Builds the MUX's 45-character status frames: the inverse of the frame parser.
#include "monitor/FrameWriter.h"

#include <algorithm>

namespace kestrel {

namespace {

// Where a tributary lives in the four bytes of its end: byte k (0-based) carries tributaries
// 16 - 4k down to 13 - 4k, the highest in the top two bits; in each pair the upper bit is
// the code-error state and the lower bit the no-signal state.
struct TribBits {
    int byte;
    int noSigBit;  // bit number; the code-error bit is the one above it
};

TribBits Locate(int tributary /* 1..16 */) {
    int fromTop = 16 - tributary;  // 0 for tributary 16
    return TribBits{fromTop / 4, 6 - 2 * (fromTop % 4)};
}

bool ValidIndex(int index) {
    return index >= 0 && index < 32;
}

void AppendHex(std::string& out, std::uint8_t v, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out.push_back(digits[v >> 4]);
    out.push_back(digits[v & 0x0f]);
}

void AppendCount(std::string& out, int count) {
    // A count outside the field would shift every later field and break the frame.
    int v = std::clamp(count, 0, kMaxFrameCount);
    out.push_back(static_cast<char>('0' + v / 1000));
    out.push_back(static_cast<char>('0' + v / 100 % 10));
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

}  // namespace

void StatusFrame::SetTributary(int index, bool noSig, bool cErr) {
    if (!ValidIndex(index)) {
        return;
    }
    auto& bytes = index < 16 ? localTribs : remoteTribs;
    TribBits at = Locate(index % 16 + 1);
    auto mask = static_cast<std::uint8_t>(3u << at.noSigBit);
    auto bits = static_cast<std::uint8_t>(((cErr ? 2u : 0u) | (noSig ? 1u : 0u)) << at.noSigBit);
    bytes[at.byte] = static_cast<std::uint8_t>((bytes[at.byte] & ~mask) | bits);
}

bool StatusFrame::TribNoSig(int index) const {
    if (!ValidIndex(index)) {
        return false;
    }
    const auto& bytes = index < 16 ? localTribs : remoteTribs;
    TribBits at = Locate(index % 16 + 1);
    return (bytes[at.byte] >> at.noSigBit) & 1;
}

bool StatusFrame::TribCErr(int index) const {
    if (!ValidIndex(index)) {
        return false;
    }
    const auto& bytes = index < 16 ? localTribs : remoteTribs;
    TribBits at = Locate(index % 16 + 1);
    return (bytes[at.byte] >> (at.noSigBit + 1)) & 1;
}

void StatusFrame::SetTributaries(const std::array<bool, 32>& noSig,
                                 const std::array<bool, 32>& cErr) {
    for (int i = 0; i < 32; ++i) {
        SetTributary(i, noSig[i], cErr[i]);
    }
}

void AppendFrame(std::string& out, const StatusFrame& f) {
    const bool up = f.upperCaseHex;
    AppendHex(out, f.localStatus, up);
    out.push_back(':');
    AppendCount(out, f.nearCount);
    out.push_back(';');
    for (std::uint8_t b : f.localTribs) {
        AppendHex(out, b, up);
        out.push_back('/');
    }
    out.push_back('R');
    AppendHex(out, f.remoteStatus, up);
    out.push_back(':');
    AppendCount(out, f.farCount);
    out.push_back(';');
    for (std::uint8_t b : f.remoteTribs) {
        AppendHex(out, b, up);
        out.push_back('\\');
    }
    AppendHex(out, f.fifthByte, up);
    out.push_back('|');
    out.push_back(f.terminator);
}

std::string WriteFrame(const StatusFrame& frame) {
    std::string out;
    out.reserve(kStatusFrameLength);
    AppendFrame(out, frame);
    return out;
}

}  // namespace kestrel

// Builds the MUX's 45-character status frames: the inverse of the frame parser.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestrel {

// Characters in one status frame as the MUX sends it.
inline constexpr std::size_t kStatusFrameLength = 45;
// Largest value a four-digit count field can carry.
inline constexpr int kMaxFrameCount = 9999;
// The control character the MUX ends every frame with.
inline constexpr char kFrameTerminator = '\x1a';

// Status-byte bits that carry an indication; the others are free for change detection only.
inline constexpr std::uint8_t kStatusNoInputSignal = 0x08;
inline constexpr std::uint8_t kStatusAis = 0x20;
inline constexpr std::uint8_t kStatusLof = 0x40;
inline constexpr std::uint8_t kStatusRai = 0x10;

// One status frame as values. Tributary states follow the monitor's indexing: local
// tributary t is index t - 1, remote tributary t is index t + 15.
struct StatusFrame {
    std::uint8_t localStatus = 0;
    int nearCount = 0;  // written clamped to 0..9999
    // Raw tributary bytes in frame order: byte 1 carries tributaries 16..13, byte 4 carries 4..1.
    std::array<std::uint8_t, 4> localTribs{};
    std::uint8_t remoteStatus = 0;
    int farCount = 0;  // written clamped to 0..9999
    std::array<std::uint8_t, 4> remoteTribs{};
    std::uint8_t fifthByte = 0;  // sent but never decoded by the monitor
    char terminator = kFrameTerminator;
    bool upperCaseHex = false;

    // State of one tributary by monitor index (0..31); out-of-range indexes are ignored
    // by the setter and read as false.
    void SetTributary(int index, bool noSig, bool cErr);
    bool TribNoSig(int index) const;
    bool TribCErr(int index) const;

    // Sets all 32 tributaries at once from the monitor's layout.
    void SetTributaries(const std::array<bool, 32>& noSig, const std::array<bool, 32>& cErr);

    bool operator==(const StatusFrame&) const = default;
};

// The frame as the MUX puts it on the line: exactly kStatusFrameLength characters.
std::string WriteFrame(const StatusFrame& frame);

// Appends the frame to out without a temporary string (for high-rate senders).
void AppendFrame(std::string& out, const StatusFrame& frame);

}  // namespace kestrel

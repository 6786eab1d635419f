// Command line of kestrel-mux-sim.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::sim {

// 9600 bit/s with a start and a stop bit around 8 data bits: 960 characters a second.
inline constexpr double kLineCharsPerSecond = 960.0;
// The most frames the line can carry: 960 / 45, about 21.3 a second.
inline constexpr double kMaxRate = kLineCharsPerSecond / 45.0;
// One frame in about 17 minutes: slower than that is no longer a MUX sending status.
inline constexpr double kMinRate = 0.001;

// How long a tick of the given size lasts: its period at the frame rate, or longer when its
// bytes (garbage included) need more time on a 9600 bit/s line.
inline double TickSeconds(std::size_t bytes, double rate) {
    double lineTime = static_cast<double>(bytes) / kLineCharsPerSecond;
    return std::max(1.0 / rate, lineTime);
}

struct SimOptions {
    std::string device;  // empty: a new pseudo-terminal
    std::string link;    // a symbolic link to the pseudo-terminal, made here, removed at exit
    std::string capture;  // write the line to this file at once, a timed capture
    double rate = 1.0;
    std::string scenario = "tour";
    std::string script;
    bool loop = false;
    std::optional<double> seconds;
    std::optional<long long> frames;
    std::uint64_t seed = 1;
    bool help = false;
    bool version = false;
    bool rateCapped = false;  // asked for more than the line carries
    double requestedRate = 1.0;
};

// Parses argv. On failure returns false and sets error (the caller exits with status 2).
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

std::string SimUsage();

inline constexpr const char* kSimVersion = "kestrel-mux-sim 1.0";

}  // namespace kestrel::sim

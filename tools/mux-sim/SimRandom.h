// A small seeded random generator whose sequence is the same on every platform and compiler.
#pragma once

#include <cstdint>

namespace kestrel::sim {

// splitmix64: tiny, fast and defined to the bit, unlike the standard distributions, so that a
// run with --seed N is repeatable wherever the simulator is built.
class SimRandom {
public:
    explicit SimRandom(std::uint64_t seed) : state(seed) {}

    std::uint64_t NextU64() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform in lo..hi inclusive (hi >= lo); the tiny modulo bias does not matter here.
    int Range(int lo, int hi) {
        auto span = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo + 1);
        return static_cast<int>(lo + static_cast<std::int64_t>(NextU64() % span));
    }

    // True with the given chance in percent.
    bool Percent(int chance) { return Range(0, 99) < chance; }

private:
    std::uint64_t state;
};

}  // namespace kestrel::sim

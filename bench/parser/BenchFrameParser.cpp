// Frames and bytes per second of the frame parser, BER texts included, per hand-over size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "monitor/BerMeter.h"
#include "monitor/FrameParser.h"

namespace {

class CountingSink : public kestrel::BerSink {
public:
    void BerTexts(const std::array<std::string, 4>& texts) override {
        bytes += texts[0].size();
        ++calls;
    }
    std::int64_t calls = 0;
    std::size_t bytes = 0;
};

// 10000 frames; with damagePercent > 0 that share of frames has one character replaced.
std::string Stream(int damagePercent) {
    std::mt19937 rng(1);
    std::string stream;
    for (int i = 0; i < 10000; ++i) {
        char frame[64];
        std::snprintf(frame, sizeof frame,
                      "%02x:%04u;%02x/%02x/%02x/%02x/R%02x:%04u;%02x\\%02x\\%02x\\%02x\\01|\x1a",
                      i % 50 == 0 ? 0x20u : 0u, static_cast<unsigned>(rng() % 10),
                      static_cast<unsigned>(rng() & 255), 0u, 0u, 0u, 0x10u,
                      static_cast<unsigned>(rng() % 10), 0u, 0u, static_cast<unsigned>(rng() & 255),
                      0u);
        std::string f(frame);
        if (static_cast<int>(rng() % 100) < damagePercent) {
            f[rng() % 20] = '/';
        }
        stream += f;
    }
    return stream;
}

void Parse(benchmark::State& st, int damagePercent) {
    const std::string stream = Stream(damagePercent);
    const auto chunk = static_cast<std::size_t>(st.range(0));
    kestrel::MonitorState state;
    kestrel::BerMeter meter(state);
    CountingSink sink;
    meter.SetSink(&sink);
    kestrel::FrameParser parser(state, meter);
    std::int64_t frames = 0;
    for (auto _ : st) {
        const auto before = state.frameCount.load();
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            parser.Parse(std::string_view(stream).substr(pos, chunk));
        }
        frames += state.frameCount.load() - before;
    }
    benchmark::DoNotOptimize(sink.bytes);
    // Passes include failed ones; decoded counts the frames that reached the BER step.
    st.counters["decoded/s"] =
        benchmark::Counter(static_cast<double>(sink.calls), benchmark::Counter::kIsRate);
    st.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * stream.size()));
}

void CleanStream(benchmark::State& st) {
    Parse(st, 0);
}
void DamagedStream(benchmark::State& st) {
    Parse(st, 10);
}

}  // namespace

BENCHMARK(CleanStream)->Arg(45)->Arg(320)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(DamagedStream)->Arg(45)->Arg(320)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

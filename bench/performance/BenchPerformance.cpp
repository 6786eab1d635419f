// Benchmarks of the line memory: one simulated day replayed and stored, and one live second.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "monitor/FrameWriter.h"
#include "performance/LineMemory.h"
#include "tools/replay/Performance.h"

namespace {

using namespace kestrel;

struct Folder {
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX");
        path = mkdtemp(pattern.data()) ? pattern : std::string(".");
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

// A day of a line with some trouble: errors now and then, a loss of signal every hour,
// tributaries that flap.
StatusFrame DayFrame(int second) {
    StatusFrame f;
    f.nearCount = second % 97 == 0 ? 3 : 0;
    f.farCount = second % 1013 < 12 ? 40 : 0;
    f.localStatus = second % 3600 < 15 ? kStatusNoInputSignal : 0;
    f.SetTributary(second % 32, second % 601 < 3, second % 7 == 0);
    return f;
}

FrameSecond LiveFrame(int second) {
    const StatusFrame s = DayFrame(second);
    FrameSecond f;
    f.nearDefect = s.localStatus != 0;
    f.alarms = f.nearDefect ? 1 : 0;
    f.remoteTribsDecoded = !f.nearDefect;
    f.nearCount = s.nearCount;
    f.farCount = s.farCount;
    for (int i = 0; i < 32; ++i) {
        f.tribNoSig |= (s.TribNoSig(i) ? 1u : 0u) << i;
        f.tribCErr |= (s.TribCErr(i) ? 1u : 0u) << i;
    }
    return f;
}

void BM_ReplayDayWithStore(benchmark::State& st) {
    std::string capture;
    for (int s = 0; s < 86400; ++s)
        AppendFrame(capture, DayFrame(s));
    Folder folder;
    ReplayOptions replay;
    PerformanceOptions options;
    options.enabled = options.haveStart = true;
    options.start = *ParseIsoTime("2026-03-29T00:00:00Z");
    int run = 0;
    for (auto _ : st) {
        options.db = folder.path + "/day" + std::to_string(run++) + ".sqlite";
        FILE* in = fmemopen(capture.data(), capture.size(), "rb");
        std::ostringstream out, err;
        ReplayPerformance(in, replay, options, out, err);
        std::fclose(in);
        benchmark::DoNotOptimize(out.str().size());
    }
    st.SetItemsProcessed(st.iterations() * 86400);
}
BENCHMARK(BM_ReplayDayWithStore)->Unit(benchmark::kMillisecond)->Iterations(3);

// One frame a second as a live session feeds it: the frame, a tick, the journal committed as
// it changes and the current intervals written every 10 seconds. Argument 0: the troubled
// day in memory only; 1: the troubled day with its database; 2: a clean line with its database.
void BM_LiveSecond(benchmark::State& st) {
    Folder folder;
    LineMemory memory;
    std::time_t t = *ParseIsoTime("2026-03-29T00:00:00Z");
    if (st.range(0))
        memory.Open(folder.path + "/live.sqlite", t, nullptr);
    else
        memory.Start(t);
    int second = 0;
    for (auto _ : st) {
        memory.OnFrameApplied(st.range(0) == 2 ? FrameSecond{} : LiveFrame(second++), t);
        memory.Tick(++t);
    }
    memory.Close(t);
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_LiveSecond)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(86400)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2);

}  // namespace

BENCHMARK_MAIN();

// Benchmarks of the statistics files: row formatting, a written row, and a flush pass.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "stats/StatisticsLog.h"

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

void BM_FormatAlarmRow(benchmark::State& st) {
    AlarmFlags flags{};
    flags[1] = flags[7] = true;
    const std::time_t t = std::time(nullptr);
    for (auto _ : st) {
        benchmark::DoNotOptimize(AlarmRow(flags, t));
    }
}
BENCHMARK(BM_FormatAlarmRow);

void BM_FormatCountsRow(benchmark::State& st) {
    const Counts c{86400, 123456789, 3600, 987654321};
    const std::time_t t = std::time(nullptr);
    for (auto _ : st) {
        benchmark::DoNotOptimize(CountsRow(c, t));
    }
}
BENCHMARK(BM_FormatCountsRow);

// One PanelRefresh second with an alarm frame: a counts row formatted and written.
void BM_CountsStep(benchmark::State& st) {
    Folder folder;
    MonitorState state;
    StatisticsLog::Options o;
    o.sleeper = [](std::chrono::milliseconds) {};
    StatisticsLog log(state, o);
    log.StatisticsOn(folder.path + "/bench.csv");
    for (auto _ : st) {
        log.WriteCountsRow();
    }
    log.StatisticsOff();
}
BENCHMARK(BM_CountsStep);

// The whole flush pass: both files closed and reopened while the frame mutex is held.
void BM_LogFlushPass(benchmark::State& st) {
    Folder folder;
    MonitorState state;
    StatisticsLog::Options o;
    o.sleeper = [](std::chrono::milliseconds) {};
    StatisticsLog log(state, o);
    log.StatisticsOn(folder.path + "/bench.csv");
    std::mutex frameMutex;
    for (auto _ : st) {
        if (!log.LogFlush(frameMutex)) {
            st.SkipWithError("flush failed");
            break;
        }
    }
    log.StatisticsOff();
}
BENCHMARK(BM_LogFlushPass);

}  // namespace

BENCHMARK_MAIN();

// What the alarm journal, the Performance window and the notification rule cost at each
// once-a-second refresh of the window, with the journal's memory full (10,000 entries) as a
// flapping line leaves it. Run offscreen: QT_QPA_PLATFORM=offscreen build/bench/views/bench_views
#include <benchmark/benchmark.h>

#include <QApplication>
#include <ctime>
#include <memory>

#include "views/JournalDock.h"
#include "views/NotificationRule.h"
#include "views/PerformanceWindow.h"

namespace kestrel {
namespace {

constexpr std::time_t kStart = 1774745400;  // 2026-03-29T00:50:00Z

// A line whose local tributary 3 flaps every second, with a local AIS now and then: one
// journal entry every two seconds, until the memory's limit is reached.
struct FlappingLine {
    FlappingLine() {
        for (now = kStart; now < kStart + 21000; ++now) {
            Second();
        }
    }
    void Second() {
        FrameSecond f;
        const bool odd = now % 2 == 1;
        f.tribNoSig = odd ? 1u << 2 : 0;
        if (now % 600 < 5) {
            f.alarms = 2;  // local AIS
            f.nearDefect = true;
        }
        f.nearCount = odd ? 3 : 0;
        memory.OnFrameApplied(f, now);
        memory.Tick(now + 1);
    }
    LineSource Source() {
        LineSource s;
        s.memory = [this]() -> const LineMemory& { return memory; };
        s.acknowledge = [this](const std::vector<std::int64_t>& ids) {
            return memory.Acknowledge(ids, now);
        };
        s.acknowledgeAll = [this] { return memory.AcknowledgeAll(now); };
        s.now = [this] { return now; };
        return s;
    }
    LineMemory memory;
    std::time_t now = kStart;
};

FlappingLine& Line() {
    static FlappingLine line;
    return line;
}

// Nothing new, the clock still: what a refresh costs when the line is quiet.
void BM_JournalRefreshNothingNew(benchmark::State& state) {
    JournalDock dock(Line().Source(), {});
    dock.show();
    dock.Refresh();
    for (auto _ : state) {
        dock.Refresh();
    }
    state.counters["rows"] = static_cast<double>(Line().memory.JournalEntries().size());
}
BENCHMARK(BM_JournalRefreshNothingNew)->Unit(benchmark::kMicrosecond);

// A new second of the flapping line each time: new rows, ended rows, running durations.
void BM_JournalRefreshEachSecond(benchmark::State& state) {
    JournalDock dock(Line().Source(), {});
    dock.show();
    dock.Refresh();
    for (auto _ : state) {
        state.PauseTiming();
        ++Line().now;
        Line().Second();
        state.ResumeTiming();
        dock.Refresh();
    }
}
BENCHMARK(BM_JournalRefreshEachSecond)->Unit(benchmark::kMicrosecond);

void BM_PerformanceRefreshEachSecond(benchmark::State& state) {
    PerformanceWindow window(Line().Source());
    window.show();
    window.Refresh();
    for (auto _ : state) {
        state.PauseTiming();
        ++Line().now;
        Line().Second();
        state.ResumeTiming();
        window.Refresh();
    }
}
BENCHMARK(BM_PerformanceRefreshEachSecond)->Unit(benchmark::kMicrosecond);

class NullNotifier : public Notifier {
public:
    void Notify(const QString&, const QString&, Urgency) override { ++told; }
    int told = 0;
};

void BM_NotificationCheckEachSecond(benchmark::State& state) {
    NullNotifier notifier;
    NotificationRule rule(Line().Source(), notifier);
    for (auto _ : state) {
        state.PauseTiming();
        ++Line().now;
        Line().Second();
        state.ResumeTiming();
        rule.Check();
    }
    state.counters["told"] = notifier.told;
}
BENCHMARK(BM_NotificationCheckEachSecond)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

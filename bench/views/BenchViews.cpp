// What the alarm journal, the Performance window and the notification rule cost at each
// once-a-second refresh of the window, with the journal's memory full (10,000 entries) as a
// flapping line leaves it; and what the Performance window costs painted, over a day of the
// simulator's tour. Run offscreen: QT_QPA_PLATFORM=offscreen build/bench/views/bench_views
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "views/JournalDock.h"
#include "views/NotificationRule.h"
#include "views/PerformanceWindow.h"
#include "views/TimelineStrip.h"

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

// A day of the simulator's tour in a database, played with the real simulator and replay
// tools as a user makes one, and the memory the window's session opens over it at its end.
// Each second after is a frame of the line, with a local AIS for 5 s of every 20 (a journal
// entry coming or ending every few seconds, as on the tour).
struct TourDay {
    TourDay() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        folder = pattern;
        const std::string capture = (folder / "day.cap").string();
        const std::string db = (folder / "day.sqlite").string();
        std::string sim(KESTREL_MUX_SIM_EXE);
        sim.append(" --seconds 86400 --capture ").append(capture).append(" 2>/dev/null");
        std::string replay(KESTREL_REPLAY_EXE);
        replay.append(" --performance --start 2026-03-29T00:00:00Z --db ")
            .append(db)
            .append(" ")
            .append(capture)
            .append(" >/dev/null");
        if (std::system(sim.c_str()) != 0 || std::system(replay.c_str()) != 0 ||
            !memory.Open(db, now, nullptr)) {
            std::abort();
        }
    }
    ~TourDay() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    void Second() {
        FrameSecond f;
        if (now % 20 < 5) {
            f.alarms = 2;  // local AIS
            f.nearDefect = true;
        }
        memory.OnFrameApplied(f, now);
        memory.Tick(++now);
    }
    LineSource Source() {
        LineSource s;
        s.memory = [this]() -> const LineMemory& { return memory; };
        s.now = [this] { return now; };
        return s;
    }
    std::filesystem::path folder;
    std::time_t now = kStart - 50 * 60 + 86400;  // 2026-03-30T00:00:00Z, the day's end
    LineMemory memory;
};

TourDay& Day() {
    static TourDay day;
    return day;
}

int SpansShown(const PerformanceWindow& window) {
    int spans = 0;
    for (const TimelineStrip* strip : window.findChildren<const TimelineStrip*>()) {
        for (const TimelineBand& band : strip->Bands()) {
            spans += static_cast<int>(band.spans.size());
        }
    }
    return spans;
}

// The window open over the day, a second of the line each time: the refresh and the painting
// it causes, as the event loop does them (only what was marked for painting is painted).
void BM_PerformanceDayRefreshAndPaint(benchmark::State& state) {
    PerformanceWindow window(Day().Source());
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        Day().Second();
        state.ResumeTiming();
        window.Refresh();
        QCoreApplication::processEvents();
    }
    state.counters["spans"] = SpansShown(window);
}
BENCHMARK(BM_PerformanceDayRefreshAndPaint)->Unit(benchmark::kMicrosecond);

// The whole window painted into an image over the day: what a full repaint costs (shown
// again, uncovered, resized), not what a second does.
void BM_PerformanceDayWholePaint(benchmark::State& state) {
    PerformanceWindow window(Day().Source());
    window.show();
    window.Refresh();
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        window.render(&image);
    }
    state.counters["spans"] = SpansShown(window);
}
BENCHMARK(BM_PerformanceDayWholePaint)->Unit(benchmark::kMicrosecond);

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

// The user-interface thread's resets and reads race with the parser only on atomic fields.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/monitor/TestFrames.h"
#include "tools/replay/Replay.h"

namespace kestrel {
namespace {

TEST(MonitorConcurrency, ResetsAndCommandsWhileFramesArrive) {
    Decoder d;
    std::mutex frameMutex;
    std::atomic<bool> done{false};
    std::string stream;
    for (int i = 0; i < 200; ++i) {
        stream += test::Clear(i % 2 ? 0x10 : 0x00, 1, i % 2 ? 0x20 : 0x00, 1);
    }
    std::thread receiver([&] {
        for (int round = 0; round < 20; ++round) {
            for (std::size_t pos = 0; pos < stream.size(); pos += 320) {
                std::lock_guard lock(frameMutex);
                d.parser.Parse(std::string_view(stream).substr(pos, 320));
            }
        }
        done = true;
    });
    int bothChanged = 0;
    int ticks = 0;
    while (!done) {
        bothChanged += d.state.ConsumeBothStatusChanged() ? 1 : 0;
        d.state.NotConnectedReset();
        d.state.alarmSeen.exchange(0);
        d.state.rxIdle.exchange(1);
        (void)d.state.spinnerText();
        if (++ticks % 16 == 0) {
            std::lock_guard lock(frameMutex);
            d.meter.OnBerInterval(32775 + ticks % 4);
            d.meter.OnBerReset();
        }
        std::this_thread::yield();
    }
    receiver.join();
    EXPECT_EQ(d.state.frameCount, 4000);
    EXPECT_LE(bothChanged, 4000);
}

// PanelRefresh takes alarmSeen and then writes the counters into a row. A tick that takes the
// flag while the frame that set it is being decoded must still find that frame's counts, or
// the row misses them and no later tick writes them.
TEST(MonitorConcurrency, AlarmSeenIsPublishedAfterTheFramesCounts) {
    Decoder d;
    const std::string alarm = test::Clear(0x08, 1, 0x08, 1);  // no input signal at both ends
    constexpr int kFrames = 3000;
    std::atomic<int> go{0};
    std::atomic<int> parsed{0};
    std::thread receiver([&] {
        for (int i = 1; i <= kFrames; ++i) {
            while (go.load() != i) {
            }
            d.parser.Parse(alarm);
            parsed = i;
        }
    });
    int partialRows = 0;
    for (int i = 1; i <= kFrames; ++i) {
        go = i;
        std::int64_t rowFar = -1;
        std::int64_t rowNear = -1;
        std::int64_t rowRemote = -1;
        for (bool last = false; !last;) {
            last = parsed.load() == i;
            if (d.state.alarmSeen.exchange(0, std::memory_order_acq_rel) != 0) {
                rowNear = d.state.nearErrorsCumulative.load();
                rowRemote = d.state.remoteAlarmSeconds.load();
                rowFar = d.state.farErrorsCumulative.load();
            }
        }
        if (rowNear != i || rowRemote != i || rowFar != i) {
            ++partialRows;
        }
    }
    receiver.join();
    EXPECT_EQ(partialRows, 0);
}

}  // namespace
}  // namespace kestrel

// The user-interface thread's resets and reads race with the parser only on atomic fields.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kestrel

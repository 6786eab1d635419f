// Line time and what the journal says while the monitor is blind: unknown is not clear, and a
// stepped wall clock neither loses seconds nor counts any twice.
#include <gtest/gtest.h>

#include "PerformanceTestSupport.h"
#include "performance/LineClock.h"
#include "performance/LineMemory.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using test::NearSecond;

constexpr std::time_t kStart = 1774746000;  // 2026-03-29T01:00:00Z
constexpr int kLocalAis = 1;

FrameSecond Ais(bool on) {
    FrameSecond f;
    f.alarms = on ? 1u << kLocalAis : 0;
    f.nearDefect = on;
    return f;
}

// An alarm seen, then the line lost at 20: what happens next decides how its entry ends.
struct BlindCase {
    const char* name;
    std::function<void(Journal&)> then;
    std::optional<std::time_t> end;  // relative to kStart
    bool endedUnseen;
};

class UnknownIsNotClear : public ::testing::TestWithParam<BlindCase> {};

TEST_P(UnknownIsNotClear, AnAlarmLostFromSightEndsOnlyWhenSeenGone) {
    Journal journal;
    journal.OnFrame(Ais(true), kStart + 10);
    journal.OnLink(LineCondition::NoData, kStart + 20);
    // Blind: still open, unknown since the loss, not ended.
    ASSERT_EQ(journal.UnseenSince(), kStart + 20);
    EXPECT_TRUE(journal.IsOpen(kLocalAis));
    EXPECT_EQ(journal.All().front().unknownSince, kStart + 20);
    EXPECT_FALSE(journal.All().front().end);
    GetParam().then(journal);
    const JournalEntry& ais = journal.All().front();
    ASSERT_EQ(ais.Object(), "near:ais");
    EXPECT_EQ(ais.start, kStart + 10);
    EXPECT_EQ(ais.end ? std::optional(*ais.end - kStart) : std::nullopt, GetParam().end);
    EXPECT_EQ(ais.endedUnseen, GetParam().endedUnseen);
    // No second AIS entry: a return of the same alarm continues the first.
    EXPECT_EQ(std::count_if(journal.All().begin(), journal.All().end(),
                            [](const JournalEntry& e) { return e.state == kLocalAis; }),
              1);
}

INSTANTIATE_TEST_SUITE_P(
    Journal, UnknownIsNotClear,
    ::testing::Values(
        BlindCase{"StillThereGoesOn",
                  [](Journal& j) {
                      j.OnLink(LineCondition::Up, kStart + 30);
                      j.OnFrame(Ais(true), kStart + 30);
                      EXPECT_FALSE(j.All().front().unknownSince);
                  },
                  std::nullopt, false},
        BlindCase{"GoneEndsWhenTheLossBegan",
                  [](Journal& j) {
                      j.OnLink(LineCondition::NotConnected, kStart + 25);  // still blind
                      j.OnLink(LineCondition::Up, kStart + 30);
                      EXPECT_TRUE(j.UnseenSince());  // a link back is not a frame
                      j.OnFrame(Ais(false), kStart + 31);
                  },
                  20, true},
        BlindCase{"MonitoringStopsWhileBlind",
                  [](Journal& j) { j.EndAll(kStart + 40); }, 20, true},
        BlindCase{"SeenToClear",
                  [](Journal& j) {
                      j.OnLink(LineCondition::Up, kStart + 30);
                      j.OnFrame(Ais(true), kStart + 30);
                      j.OnFrame(Ais(false), kStart + 33);
                  },
                  33, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Line seconds against a wall clock that is stepped under them.
TEST(LineClock, StepsNeitherLoseNorRepeatSeconds) {
    using T = LineClock::TimePoint;
    LineClock clock;
    clock.Start(kStart, T(100s));
    EXPECT_EQ(clock.At(T(100s)), kStart);
    EXPECT_EQ(clock.At(T(99s) + 500ms), kStart - 1);
    EXPECT_FALSE(clock.Check(kStart + 11, T(110s)));  // a second of reading jitter
    // Back 60 s: the line goes on, running ahead of the wall until it catches up.
    const auto back = clock.Check(kStart + 20 - 60, T(120s));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->seconds, -60);
    EXPECT_EQ(clock.At(T(121s)), kStart + 21);
    EXPECT_EQ(clock.Ahead(), 60);
    EXPECT_FALSE(clock.Check(kStart + 30 - 60, T(130s)));
    // The wall set right again: the lead is used up, the line does not jump.
    const auto right = clock.Check(kStart + 40, T(140s));
    ASSERT_TRUE(right);
    EXPECT_EQ(right->seconds, 60);
    EXPECT_EQ(clock.At(T(140s)), kStart + 40);
    EXPECT_EQ(clock.Ahead(), 0);
    // Forward an hour: the line jumps; instants before the jump keep their seconds.
    const auto forward = clock.Check(kStart + 50 + 3600, T(150s));
    ASSERT_TRUE(forward);
    EXPECT_EQ(forward->seconds, 3600);
    EXPECT_EQ(clock.At(T(150s)), kStart + 3650);
    EXPECT_EQ(clock.At(T(149s)), kStart + 49);
    // Stored seconds later than the wall: the line starts after them.
    LineClock restarted;
    restarted.Start(kStart, T(0s));
    EXPECT_EQ(restarted.NotBefore(kStart + 90, T(0s)), 90);
    EXPECT_EQ(restarted.At(T(5s)), kStart + 95);
    EXPECT_EQ(restarted.NotBefore(kStart, T(5s)), 0);
}

// The memory over a step: a forward step closes the quarter with what it held, and the seconds
// around it are counted once each.
TEST(LineMemory, ForwardStepClosesTheBinsItSkipsWithWhatTheyHeld) {
    test::ZoneGuard zone("UTC");
    LineMemory memory;
    memory.Start(kStart);
    for (std::time_t t = kStart; t < kStart + 60; ++t)
        memory.OnFrameApplied(NearSecond('.'), t);
    memory.Tick(kStart + 62);
    const std::time_t after = kStart + 2 * 3600 + 5;
    memory.ClockStepped(after - (kStart + 62), kStart + 62, after);
    for (std::time_t t = after; t < after + 30; ++t)
        memory.OnFrameApplied(NearSecond('.'), t);
    memory.Tick(after + 32);
    const auto& quarters = memory.Completed(BinKind::Quarter);
    ASSERT_EQ(quarters.size(), 1u);  // the skipped quarters are not invented
    EXPECT_EQ(quarters[0].span.start, kStart);
    EXPECT_EQ(quarters[0].figures[kNearObject].available, 60);
    EXPECT_EQ(quarters[0].figures[kNearObject].notMeasured, 2);
    const Interval& now = memory.Current(BinKind::Quarter);
    EXPECT_EQ(now.span.start, kStart + 2 * 3600);
    EXPECT_EQ(now.figures[kNearObject].available, 30);
    EXPECT_EQ(now.figures[kNearObject].notMeasured, 0);
    const JournalEntry& note = memory.JournalInMemory().back();
    EXPECT_EQ(note.Object(), "clock:step");
    EXPECT_EQ(note.note, "clock stepped forward 7143 s");
    EXPECT_EQ(note.start, after);
    EXPECT_EQ(note.end, after);
}

}  // namespace
}  // namespace kestrel

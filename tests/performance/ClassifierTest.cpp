// The G.821 rules by hand: runs of SES, returns to availability, boundaries, not-measured
// seconds, degraded minutes, the SES threshold and a day of 23 hours.
#include <gtest/gtest.h>

#include "PerformanceTestSupport.h"
#include "performance/LineMemory.h"

namespace kestrel {
namespace {

using test::NearSecond;

// 2026-03-29T01:00:00Z, a quarter-hour boundary.
constexpr std::time_t kBoundary = 1774746000;

struct Row {
    std::int64_t available, unavailable, es, ses, dm, minutes;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << "available " << r.available << ", unavailable " << r.unavailable << ", es " << r.es
        << ", ses " << r.ses << ", dm " << r.dm << ", minutes " << r.minutes;
}

struct Case {
    const char* name;
    int before;           // seconds of the pattern before the boundary
    std::string pattern;  // letters of NearSecond; 'n' is a second without a frame
    Row first;            // near end in the interval before the boundary
    Row second;           // and after it
};

std::string Times(char c, int n) {
    return std::string(static_cast<std::size_t>(n), c);
}

Row Near(const Interval& i) {
    const Figures& f = i.figures[kNearObject];
    return {f.available, f.unavailable, f.es, f.ses, f.dm, f.minutes};
}

class Rules : public ::testing::TestWithParam<Case> {};

TEST_P(Rules, NearEndFiguresOnBothSidesOfTheBoundary) {
    test::ZoneGuard zone("UTC");
    const Case& c = GetParam();
    LineMemory memory;
    const std::time_t start = kBoundary - c.before;
    memory.Start(start);
    for (std::size_t i = 0; i < c.pattern.size(); ++i) {
        if (c.pattern[i] != 'n')
            memory.OnFrameApplied(NearSecond(c.pattern[i]), start + static_cast<std::time_t>(i));
    }
    // At least one second past the boundary, so that the first interval is complete.
    const std::time_t end =
        std::max(start + static_cast<std::time_t>(c.pattern.size()), kBoundary + 1);
    memory.Finish(end);
    ASSERT_EQ(memory.Completed(BinKind::Quarter).size(), 1u);
    const Interval& first = memory.Completed(BinKind::Quarter).back();
    const Interval& second = memory.Current(BinKind::Quarter);
    EXPECT_EQ(Near(first), c.first);
    EXPECT_EQ(Near(second), c.second);
    // Every interval adds up, for every object, not-measured seconds included.
    for (int o = 0; o < kObjectCount; ++o) {
        const Figures& f = first.figures[o];
        EXPECT_EQ(f.available + f.unavailable + f.notMeasured, 900) << ObjectName(o);
        const Figures& g = second.figures[o];
        EXPECT_EQ(g.available + g.unavailable + g.notMeasured, end - kBoundary) << ObjectName(o);
    }
    // The totals since the start, the bases of the ratios included, are the two intervals'
    // figures.
    const Totals& t = memory.TotalsOf(kNearObject);
    const Figures& f = first.figures[kNearObject];
    const Figures& g = second.figures[kNearObject];
    EXPECT_EQ((Row{t.available, t.uas, t.es, t.ses, t.dm, t.minutes}),
              (Row{f.available + g.available, f.unavailable + g.unavailable, f.es + g.es,
                   f.ses + g.ses, f.dm + g.dm, f.minutes + g.minutes}));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(G821, Rules, ::testing::Values(
    Case{"Ses9StaysAvailable", 100, Times('S', 9) + Times('.', 11),
         {20, 0, 9, 9, 0, 0}, {0, 0, 0, 0, 0, 0}},
    Case{"Ses10IsUnavailable", 100, Times('S', 10) + Times('.', 10),
         {10, 10, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
    Case{"NineGoodSecondsStayUnavailable", 100,
         Times('D', 10) + Times('e', 9) + "S" + Times('.', 10),
         {10, 20, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
    Case{"TenGoodSecondsAreAvailableWithTheirErrors", 100,
         Times('D', 10) + "e" + Times('f', 9),
         {10, 10, 10, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
    Case{"SesRunCrossesTheBoundary", 5, Times('S', 10) + Times('.', 10),
         {0, 5, 0, 0, 0, 0}, {10, 5, 0, 0, 0, 0}},
    Case{"GoodRunCrossesTheBoundary", 15, Times('S', 10) + Times('.', 10),
         {5, 10, 0, 0, 0, 0}, {5, 0, 0, 0, 0, 0}},
    Case{"NotMeasuredSecondsBreakNoSesRun", 100,
         Times('S', 5) + "nnn" + Times('S', 5) + Times('.', 10),
         {10, 10, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
    Case{"NotMeasuredSecondsBreakNoGoodRun", 100,
         Times('S', 10) + Times('.', 4) + "nn" + Times('.', 6) + "S",
         {11, 10, 1, 1, 0, 0}, {0, 0, 0, 0, 0, 0}},
    Case{"DegradedMinuteBelongsToItsSixtiethSecond", 30, "e" + Times('.', 59),
         {30, 0, 1, 0, 0, 0}, {30, 0, 0, 0, 1, 1}},
    Case{"CleanMinuteIsCountedNotDegraded", 30, Times('.', 60),
         {30, 0, 0, 0, 0, 0}, {30, 0, 0, 0, 0, 1}},
    Case{"MinuteBlockSpansUnavailableTime", 100,
         "e" + Times('.', 29) + "S" + Times('D', 10) + Times('.', 30),
         {60, 11, 1, 0, 1, 1}, {0, 0, 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(Rules, TwoFramesInOneSecondKeepTheWorseAndBothCounts) {
    test::ZoneGuard zone("UTC");
    LineMemory memory;
    memory.Start(kBoundary);
    memory.OnFrameApplied(NearSecond('f'), kBoundary);
    memory.OnFrameApplied(NearSecond('e'), kBoundary);  // 15 + 1 counts, but neither is severe
    memory.OnFrameApplied(NearSecond('.'), kBoundary + 1);
    memory.OnFrameApplied(NearSecond('D'), kBoundary + 1);  // the defect wins
    memory.Finish(kBoundary + 2);
    const Figures& f = memory.Current(BinKind::Quarter).figures[kNearObject];
    EXPECT_EQ(f.available, 2);
    EXPECT_EQ(f.es, 2);
    EXPECT_EQ(f.ses, 1);
    EXPECT_EQ(f.errors, 16);
    // Remote tributaries were decoded by one of the two frames, so they were measured.
    EXPECT_EQ(memory.Current(BinKind::Quarter).figures[kFirstRemoteTribObject].notMeasured, 0);
}

TEST(Rules, TotalsCountFinalSecondsOnly) {
    test::ZoneGuard zone("UTC");
    LineMemory memory;
    memory.Start(kBoundary);
    for (int i = 0; i < 9; ++i)
        memory.OnFrameApplied(NearSecond('S'), kBoundary + i);
    memory.Tick(kBoundary + 20);
    EXPECT_EQ(memory.TotalsOf(kNearObject).ses, 0);  // still provisional
    memory.OnFrameApplied(NearSecond('S'), kBoundary + 20);
    memory.Tick(kBoundary + 30);
    EXPECT_EQ(memory.TotalsOf(kNearObject).ses, 0);
    EXPECT_EQ(memory.TotalsOf(kNearObject).uas, 10);
}

// Europe/London: 2026-03-29 has 23 hours, 2026-10-25 has 25.
TEST(Bins, DayBoundaryOnDaylightSavingChanges) {
    test::ZoneGuard zone("Europe/London");
    const BinSpan spring = BinOf(BinKind::Day, kBoundary);
    EXPECT_EQ(IsoUtc(spring.start), "2026-03-29T00:00:00Z");
    EXPECT_EQ(spring.length, 23 * 3600);
    const BinSpan autumn = BinOf(BinKind::Day, *ParseIsoTime("2026-10-25T12:00:00Z"));
    EXPECT_EQ(IsoUtc(autumn.start), "2026-10-24T23:00:00Z");
    EXPECT_EQ(autumn.length, 25 * 3600);
    EXPECT_EQ(BinOf(BinKind::Quarter, *ParseIsoTime("2026-03-29T01:07:00Z")).start,
              *ParseIsoTime("2026-03-29T02:00:00+01:00"));

    // A run of SES across local midnight of the short day lands in both days, and each day
    // adds up to its own length.
    LineMemory memory;
    const std::time_t midnight = spring.End();  // 2026-03-29T23:00:00Z
    memory.Start(midnight - 5);
    for (int i = 0; i < 20; ++i)
        memory.OnFrameApplied(NearSecond(i < 10 ? 'S' : '.'), midnight - 5 + i);
    memory.Finish(midnight + 15);
    const Interval& day = memory.Completed(BinKind::Day).back();
    EXPECT_EQ(day.span.length, 82800);
    const Figures& f = day.figures[kNearObject];
    EXPECT_EQ(f.unavailable, 5);
    EXPECT_EQ(f.available + f.unavailable + f.notMeasured, 82800);
    EXPECT_EQ(memory.Current(BinKind::Day).span.length, 24 * 3600);
    EXPECT_EQ(memory.Current(BinKind::Day).figures[kNearObject].unavailable, 5);
}

TEST(Percent, SharesAndObjectives) {
    Figures f;
    f.available = 1000;
    f.unavailable = 1000;
    f.es = 80;
    f.ses = 1;
    f.minutes = 10;
    f.dm = 1;
    const Percentages p = PercentagesOf(f);
    EXPECT_EQ(PercentText(p.unavailable), "50%");
    EXPECT_TRUE(p.esFailing);
    EXPECT_FALSE(p.sesFailing);  // 0.1 %
    EXPECT_TRUE(p.dmFailing);
    EXPECT_EQ(PercentText(p.ses), "0.1%");
    EXPECT_EQ(PercentText(PercentagesOf(Figures{}).es), "-");
}

}  // namespace
}  // namespace kestrel

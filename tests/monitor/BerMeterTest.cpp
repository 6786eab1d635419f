// The BER meter: totals, the sliding window, the texts and the menu commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "tests/ScopedLocale.h"
#include "tests/monitor/TestFrames.h"
#include "tools/replay/Replay.h"

namespace kestrel {
namespace {

using test::Clear;

// The same texts under a locale with a decimal comma.
TEST(FormatBer, ThreeDigitExponentAndNoFigure) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {1.0 / 179000 * 11.44, "6.391061e-005"},
        {0.0, "0.000000e+000"},
        {1e-100, "1.000000e-100"},
        {12.5, "1.250000e+001"},
        {-1e-9, "0.000000e-009"},
        {std::numeric_limits<double>::quiet_NaN(), "0.000000e-009"},
        {std::numeric_limits<double>::infinity(), "0.000000e-009"},
        {-0.0, "0.000000e+000"},
    };
    for (const char* locale : {"C", test::kUserLocale}) {
        test::ScopedLocale scoped(locale);
        for (const auto& c : cases) {
            EXPECT_EQ(FormatBer(c.value), c.text) << c.value << " in " << locale;
        }
    }
}

class BerMeterTest : public ::testing::Test {
protected:
    Decoder d;
    MonitorState& s = d.state;
    void Feed(const std::string& text) { d.parser.Parse(text); }
};

using Texts = std::array<std::string, 4>;

TEST_F(BerMeterTest, TheIntervalsWindowFillsAndForgets) {
    Feed(Clear(0, 1, 0, 0));  // the default 10 s window
    EXPECT_EQ(d.ber.texts,
              (Texts{"6.391061e-005", "6.391061e-006", "0.000000e+000", "0.000000e+000"}));
    Decoder steady;
    for (int i = 0; i < 12; ++i)
        steady.parser.Parse(Clear(0, 1, 0, 1));
    EXPECT_EQ(steady.ber.texts,
              (Texts{"6.391061e-005", "6.391061e-005", "6.391061e-005", "6.391061e-005"}));
    // A 3 s window forgets the oldest slot.
    Decoder three;
    three.meter.OnBerInterval(32776);
    const int counts[] = {5, 0, 0, 0};
    const char* expected[] = {"1.065177e-004", "1.065177e-004", "1.065177e-004", "0.000000e+000"};
    for (int i = 0; i < 4; ++i) {
        three.parser.Parse(Clear(0, counts[i]));
        EXPECT_EQ(three.ber.texts[1], expected[i]) << "pass " << i + 1;
    }
}

// Passes under a local alarm and passes that find no frame step nothing, but count.
TEST_F(BerMeterTest, AlarmFramesAndFailedPassesFreezeTheTextsButCount) {
    Feed(Clear(0, 1));
    const auto before = d.ber.texts;
    Feed(Clear(0x20, 7));  // local AIS: no BER step
    EXPECT_EQ(d.ber.texts, before);
    EXPECT_EQ(s.nearErrorsTotal, 1);
    Feed(std::string(45, ' '));
    Feed(Clear(0, 0));
    EXPECT_EQ(s.frameCount, 4);
    EXPECT_EQ(d.ber.texts[0], FormatBer(1.0 / (4 * 179000.0) * 11.44));
}

TEST_F(BerMeterTest, ResetClearsOnlyTheTotals) {
    Feed(Clear(0, 3, 0, 4));
    const auto intermediate = d.ber.texts[1];
    d.meter.OnBerReset();
    EXPECT_EQ(s.nearErrorsTotal, 0);
    EXPECT_EQ(s.farErrorsTotal, 0);
    EXPECT_EQ(s.nearErrorsCumulative, 3);
    EXPECT_EQ(d.ber.texts[0], "1.917318e-004") << "texts change only with the next frame";
    Feed(Clear(0, 0, 0, 0));
    EXPECT_EQ(d.ber.texts[0], "0.000000e+000");
    EXPECT_EQ(d.ber.texts[2], "0.000000e+000");
    EXPECT_EQ(d.ber.texts[1], intermediate);
}

TEST_F(BerMeterTest, FiguresOfEveryWindowWhateverTheInterval) {
    d.meter.OnBerInterval(32775);  // the texts' 1 s window must not narrow the figures
    for (const int near : {7, 5, 0, 0, 0, 1})
        Feed(Clear(0, near, 0, 2));
    Feed(Clear(0x20, 9, 0, 9));  // local AIS: no step
    const BerFigures f = BerFiguresOf(s);
    const double bit = 11.44 / 179000.0;
    EXPECT_DOUBLE_EQ(f.total[0], 13 * bit / 7);
    EXPECT_DOUBLE_EQ(f.total[1], 12 * bit / 7);
    const double nearSums[] = {1, 1, 13, 13};
    for (std::size_t w = 0; w < 4; ++w) {
        const int seconds = BerIntervalSeconds[w];
        EXPECT_DOUBLE_EQ(f.window[0][w], nearSums[w] * bit / seconds) << seconds;
        EXPECT_DOUBLE_EQ(f.window[1][w], std::min(seconds, 6) * 2 * bit / seconds) << seconds;
    }
    for (int i = 0; i < 30; ++i)
        Feed(Clear(0, 0, 0, 0));
    EXPECT_EQ(BerFiguresOf(s).window[0][3], 0.0) << "thirty quiet steps push every count out";
}

TEST_F(BerMeterTest, TotalsDoNotOverflow32Bits) {
    s.nearErrorsTotal = 0x7fffffffLL;
    s.frameCount = 1000000000LL;
    Feed(Clear(0, 9999));
    EXPECT_EQ(s.nearErrorsTotal, 0x7fffffffLL + 9999);
    EXPECT_NE(d.ber.texts[0], kBerNoFigure);
}

}  // namespace
}  // namespace kestrel

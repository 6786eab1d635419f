// The frame writer: exact bytes, tributary bit layout, and round trips through the parser.
#include <gtest/gtest.h>

#include "monitor/FrameWriter.h"
#include "tests/monitor/TestFrames.h"
#include "tools/mux-sim/SimRandom.h"
#include "tools/replay/Replay.h"

namespace kestrel {
namespace {

using test::MakeFrame;

const StatusFrame kReference =
    MakeFrame(0xff, 0xff, 1234, 1234, {0x12, 0x34, 0x56, 0x78}, {0x87, 0x65, 0x43, 0x21}, 0x01);

// What the parser must make of the frame it has just applied: status bytes, the alarm gate,
// and every tributary state (remote ones only while the local end is free of alarms).
void ExpectDecoded(const Decoder& d, const StatusFrame& f) {
    const MonitorState& s = d.state;
    const bool localAlarm = (f.localStatus & 0x68) != 0;
    ASSERT_EQ(d.parser.Buffered(), 0u);
    ASSERT_EQ(s.localAlarm, localAlarm ? 1 : 0);
    ASSERT_EQ(s.lastLocalStatus, f.localStatus);
    ASSERT_EQ(s.lastRemoteStatus, f.remoteStatus);
    for (int i = 0; i < 32; ++i) {
        const bool shown = i < 16 || !localAlarm;
        ASSERT_EQ(s.tribNoSig[i], shown && f.TribNoSig(i)) << "index " << i;
        ASSERT_EQ(s.tribCErr[i], shown && f.TribCErr(i)) << "index " << i;
    }
}

TEST(FrameWriterTest, WritesTheFrameByteForByteWithFourDigitCounts) {
    EXPECT_EQ(WriteFrame(kReference), test::kReference);
    StatusFrame upper = kReference;
    upper.localStatus = 0xab;
    upper.upperCaseHex = true;
    upper.terminator = '\r';
    EXPECT_EQ(WriteFrame(upper),
              std::string("AB:1234;12/34/56/78/RFF:1234;87\\65\\43\\21\\01|") + '\r');
    // Counts are clamped to the field.
    const std::pair<int, const char*> cases[] = {{0, "0000"},    {7, "0007"},     {42, "0042"},
                                                 {9999, "9999"}, {10000, "9999"}, {123456, "9999"},
                                                 {-1, "0000"}};
    for (const auto& [count, field] : cases) {
        StatusFrame f;
        f.nearCount = count;
        f.farCount = count;
        const std::string s = WriteFrame(f);
        ASSERT_EQ(s.size(), kStatusFrameLength) << count;
        EXPECT_EQ(s.substr(3, 4), field) << count;
        EXPECT_EQ(s.substr(24, 4), field) << count;
    }
}

// Each tributary set alone reaches the parser as that tributary alone (the parser's own tests
// pin the bit layout).
TEST(FrameWriterTest, EachTributaryDecodesAsItself) {
    for (int i = 0; i < 32; ++i) {
        for (const auto& [noSig, cErr] : {std::pair{true, false}, {false, true}, {true, true}}) {
            StatusFrame f;
            f.SetTributary(i, noSig, cErr);
            Decoder d;
            d.parser.Parse(WriteFrame(f));
            for (int j = 0; j < 32; ++j) {
                ASSERT_EQ(d.state.tribNoSig[j], j == i && noSig) << i << " " << j;
                ASSERT_EQ(d.state.tribCErr[j], j == i && cErr) << i << " " << j;
            }
        }
    }
    // Clearing one tributary leaves its neighbours alone; bad indexes change nothing.
    StatusFrame f = kReference;
    f.SetTributary(2, false, false);
    EXPECT_EQ(f.localTribs[3], 0x78 & ~0x30);
    StatusFrame before = f;
    f.SetTributary(-1, true, true);
    f.SetTributary(32, true, true);
    EXPECT_EQ(f, before);
    EXPECT_FALSE(f.TribNoSig(32));
    EXPECT_FALSE(f.TribCErr(-1));
}

// Many random frames written back to back in one stream: each decodes to what was written
// (the ranking of the status flags is the parser's own, tested with it).
TEST(FrameWriterTest, RandomFramesRoundTripInOneStream) {
    sim::SimRandom rng(20261206);
    Decoder d;
    long long nearSum = 0;
    long long farSum = 0;
    for (int n = 1; n <= 300; ++n) {
        StatusFrame f;
        f.localStatus = static_cast<std::uint8_t>(rng.Percent(80) ? 0 : rng.Range(0, 255));
        f.remoteStatus = static_cast<std::uint8_t>(rng.Range(0, 255));
        f.nearCount = rng.Range(0, 9999);
        f.farCount = rng.Range(0, 9999);
        for (auto& b : f.localTribs) {
            b = static_cast<std::uint8_t>(rng.Range(0, 255));
        }
        for (auto& b : f.remoteTribs) {
            b = static_cast<std::uint8_t>(rng.Range(0, 255));
        }
        f.fifthByte = static_cast<std::uint8_t>(rng.Range(0, 255));
        f.upperCaseHex = rng.Percent(50);
        nearSum += f.nearCount;
        farSum += f.farCount;
        d.parser.Parse(WriteFrame(f));
        ASSERT_EQ(d.state.frameCount, n);
        ASSERT_NO_FATAL_FAILURE(ExpectDecoded(d, f)) << "frame " << n;
    }
    EXPECT_EQ(d.state.nearErrorsCumulative, nearSum);
    EXPECT_EQ(d.state.farErrorsCumulative, farSum);
}

}  // namespace
}  // namespace kestrel

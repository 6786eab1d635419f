// Built-in scenarios: repeatable with a seed, and each shows the monitor what it promises.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>

#include "tests/monitor/TestFrames.h"
#include "tools/mux-sim/Scenario.h"
#include "tools/replay/Replay.h"

namespace kestrel::sim {
namespace {

using test::Indications;

std::vector<Emission> Take(std::string_view scenario, double rate, std::uint64_t seed, long ticks) {
    auto source = MakePhaseSource(ScenarioPhases(scenario), rate, seed);
    std::vector<Emission> out;
    Emission e;
    for (long i = 0; i < ticks && source->Next(e); ++i) {
        out.push_back(e);
    }
    return out;
}

long PassTicks(std::string_view scenario, double rate) {
    long n = 0;
    for (const Phase& p : ScenarioPhases(scenario)) {
        n += PhaseTicks(p.seconds, rate);
    }
    return n;
}

// One pass of a scenario at a frame a second into a decoder; `after` sees each tick's state.
void Play(std::string_view scenario, const std::function<void(const MonitorState&)>& after) {
    Decoder d;
    for (const Emission& e : Take(scenario, 1, 1, PassTicks(scenario, 1))) {
        d.parser.Parse(e.bytes);
        after(d.state);
    }
}

std::string Bytes(const std::vector<Emission>& v) {
    std::string s;
    for (const Emission& e : v) {
        s += e.bytes;
    }
    return s;
}

TEST(ScenarioTest, SameSeedSameBytes) {
    for (const char* name : kScenarioNames) {
        EXPECT_EQ(Bytes(Take(name, 3, 7, 400)), Bytes(Take(name, 3, 7, 400))) << name;
    }
    EXPECT_NE(Bytes(Take("noise", 1, 7, 100)), Bytes(Take("noise", 1, 8, 100)));
    EXPECT_NE(Bytes(Take("quiet", 1, 7, 100)), Bytes(Take("quiet", 1, 8, 100)));
}

TEST(ScenarioTest, PhaseLengthsFollowTheRate) {
    EXPECT_EQ(PhaseTicks(12, 5), 60);
    EXPECT_EQ(PhaseTicks(5, 0.1), 1);  // a phase never vanishes
    // The tour takes a few minutes and holds every other scenario.
    long tour = PassTicks("tour", 1);
    EXPECT_GE(tour, 120);
    EXPECT_LE(tour, 300);
    for (const char* name : {"quiet", "alarms", "tributaries", "errors", "noise", "silence"}) {
        EXPECT_LT(PassTicks(name, 1), tour) << name;
    }
    EXPECT_TRUE(ScenarioPhases("bogus").empty());
}

// Every clean scenario sends nothing but whole, well-formed frames, one per tick.
TEST(ScenarioTest, CleanScenariosSendWholeFrames) {
    for (const char* name : {"quiet", "alarms", "tributaries", "errors", "silence"}) {
        Decoder d;
        long frames = 0;
        for (const Emission& e : Take(name, 1, 3, PassTicks(name, 1))) {
            ASSERT_EQ(e.damaged, 0) << name;
            ASSERT_EQ(e.bytes.size(), e.frames * kStatusFrameLength) << name;
            frames += e.frames;
            d.parser.Parse(e.bytes);
            ASSERT_EQ(d.state.frameCount, frames) << name;
            ASSERT_EQ(d.parser.Buffered(), 0u) << name;
        }
        EXPECT_GT(frames, 0) << name;
    }
}

// Alarms light every indication alone; tributaries touch every tributary at both ends without a
// local alarm hiding the remote ones; errors come in bursts at both ends.
TEST(ScenarioTest, ScenariosShowWhatTheyPromise) {
    std::set<std::array<int, 8>> seen;
    Play("alarms", [&](const MonitorState& s) { seen.insert(Indications(s)); });
    // All clear, and each of the eight flags on its own.
    EXPECT_EQ(seen.size(), 9u);
    for (int i = 0; i < 8; ++i) {
        std::array<int, 8> one{};
        one[i] = 1;
        EXPECT_TRUE(seen.count(one)) << "flag " << i;
    }

    std::array<bool, 32> noSig{};
    std::array<bool, 32> cErr{};
    Play("tributaries", [&](const MonitorState& s) {
        EXPECT_EQ(s.localAlarm, 0);
        for (int i = 0; i < 32; ++i) {
            noSig[i] = noSig[i] || s.tribNoSig[i];
            cErr[i] = cErr[i] || s.tribCErr[i];
        }
    });
    for (int i = 0; i < 32; ++i) {
        EXPECT_TRUE(noSig[i]) << i;
        EXPECT_TRUE(cErr[i]) << i;
    }

    std::int64_t lastNear = 0, lastFar = 0;
    int nearBursts = 0, farBursts = 0;
    Play("errors", [&](const MonitorState& s) {
        nearBursts +=
            s.nearErrorsCumulative - std::exchange(lastNear, s.nearErrorsCumulative) >= 20;
        farBursts += s.farErrorsCumulative - std::exchange(lastFar, s.farErrorsCumulative) >= 20;
    });
    EXPECT_GE(nearBursts, 3);
    EXPECT_GE(farBursts, 3);
}

TEST(ScenarioTest, SilenceStopsLongEnoughForNoData) {
    // At any rate the gap lasts about 12 s of wall time.
    for (double rate : {1.0, 4.0}) {
        long longest = 0;
        long run = 0;
        for (const Emission& e : Take("silence", rate, 1, 2 * PassTicks("silence", rate))) {
            run = e.bytes.empty() ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        EXPECT_EQ(longest, static_cast<long>(12 * rate)) << rate;
    }
}

TEST(ScenarioTest, NoiseIsVariedAndTheParserRecovers) {
    Decoder d;
    int damaged = 0;
    int garbage = 0;
    std::string all;
    for (const Emission& e : Take("noise", 1, 11, 400)) {
        damaged += e.damaged;
        garbage += e.bytes.size() != (e.frames + e.damaged) * kStatusFrameLength;
        all += e.bytes;
        d.parser.Parse(e.bytes);
    }
    EXPECT_GT(damaged, 40);
    EXPECT_GT(garbage, 40);
    EXPECT_NE(all.find('\0'), std::string::npos);  // any byte value can turn up

    StatusFrame marker = test::MakeFrame(0x10, 0x40);
    marker.SetTributary(5, true, false);
    for (int i = 0; i < 4; ++i) {
        d.parser.Parse(WriteFrame(marker));
    }
    EXPECT_EQ(d.state.localRai, 1);
    EXPECT_EQ(d.state.remoteLof, 1);
    EXPECT_EQ(d.state.tribNoSig[5], 1);
    EXPECT_LT(d.parser.Buffered(), kStatusFrameLength);
}

}  // namespace
}  // namespace kestrel::sim

// Script lines of the simulator: what good lines mean, how bad lines are reported, playback.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/monitor/TestFrames.h"
#include "tools/mux-sim/MuxScript.h"
#include "tools/mux-sim/Scenario.h"
#include "tools/replay/Replay.h"

namespace kestrel::sim {
namespace {

using test::MakeFrame;

ScriptStep FrameStep(StatusFrame f, long repeat = 1) {
    return {ScriptStep::Kind::Frame, f, repeat, 0};
}

ScriptStep SilenceStep(double seconds) {
    return {ScriptStep::Kind::Silence, {}, 1, seconds};
}

TEST(MuxScriptTest, GoodLines) {
    struct Case {
        const char* line;
        ScriptStep step;
    } cases[] = {
        {"00 0000 00 00 00 00 00 0000 00 00 00 00", FrameStep(MakeFrame(0, 0))},
        {"ff 1234 12 34 56 78 ff 1234 87 65 43 21 01",
         FrameStep(MakeFrame(0xff, 0xff, 1234, 1234, {0x12, 0x34, 0x56, 0x78},
                             {0x87, 0x65, 0x43, 0x21}, 0x01))},
        {"  8 7 12/34/56/78 0 9999 87\\65\\43\\21 repeat 30  # local no signal",
         FrameStep(MakeFrame(0x08, 0, 7, 9999, {0x12, 0x34, 0x56, 0x78}, {0x87, 0x65, 0x43, 0x21}),
                   30)},
        {"FF 0 0 0 0 0 c0 0 0 0 0 0\t03 repeat 1",
         FrameStep(MakeFrame(0xff, 0xc0, 0, 0, {}, {}, 0x03, true))},
        {"silence 12", SilenceStep(12)},
        {"silence 0.5 # half a second", SilenceStep(0.5)},
    };
    for (const Case& c : cases) {
        ScriptStep step;
        std::string error;
        ASSERT_EQ(ParseScriptLine(c.line, step, error), LineResult::Step)
            << c.line << ": " << error;
        EXPECT_EQ(step, c.step) << c.line;
    }
    for (const char* empty : {"", "   ", "# only a comment", "\t# indented\r"}) {
        ScriptStep step;
        std::string error;
        EXPECT_EQ(ParseScriptLine(empty, step, error), LineResult::Empty) << empty;
    }
}

TEST(MuxScriptTest, BadLinesSayWhatIsWrong) {
    struct Case {
        const char* line;
        const char* message;  // a part of the error text
    } cases[] = {
        {"00 0000 00 00 00 00 00 0000 00 00 00", "found 11 fields"},
        {"00 0000 00 00 00 00 00 0000 00 00 00 00 00 00", "found 14 fields"},
        {"zz 0000 00 00 00 00 00 0000 00 00 00 00", "local status 'zz'"},
        {"100 0000 00 00 00 00 00 0000 00 00 00 00", "local status '100'"},
        {"00 10000 00 00 00 00 00 0000 00 00 00 00", "near count '10000'"},
        {"00 -1 00 00 00 00 00 0000 00 00 00 00", "near count '-1'"},
        {"00 0000 00 00 00 00 00 12x 00 00 00 00", "far count '12x'"},
        {"00 0000 00 00 00 0g 00 0000 00 00 00 00", "local tributary byte 4 '0g'"},
        {"00 0000 00 00 00 00 00 0000 00 00 00 +1", "remote tributary byte 4"},
        {"00 0000 00 00 00 00 00 0000 00 00 00 00 xy", "fifth remote byte 'xy'"},
        {"00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 0", "repeat count '0'"},
        {"00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 1000001", "repeat count"},
        {"00 0000 00 00 00 00 00 0000 00 00 00 00 repeat", "'repeat' needs a count"},
        {"silence", "'silence' takes one number"},
        {"silence -3", "silence of '-3'"},
        {"silence nan", "silence of 'nan'"},
        {"silence 5 6", "'silence' takes one number"},
    };
    for (const Case& c : cases) {
        ScriptStep step;
        std::string error;
        ASSERT_EQ(ParseScriptLine(c.line, step, error), LineResult::Error) << c.line;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.line << " -> " << error;
    }
}

// A script is its lines (the number of a bad one is the simulator run's test, playing a good
// one the end-to-end tests'); one without a frame has nothing to play.
TEST(MuxScriptTest, ScriptWithoutAFrameIsRefused) {
    std::istringstream nothing("# no frames at all\nsilence 4\n");
    std::vector<ScriptStep> steps;
    ScriptError error;
    EXPECT_FALSE(ParseScript(nothing, steps, error));
    EXPECT_EQ(error.line, 0);
    EXPECT_NE(error.message.find("no frame"), std::string::npos);
}

// Playback: a hold sends its frame `repeat` times, silence sends nothing for its ticks,
// and the script ends (or starts again with loop).
TEST(MuxScriptTest, PlaybackFollowsTheScript) {
    std::vector<ScriptStep> steps = {FrameStep(MakeFrame(0x08, 0), 2), SilenceStep(1.5),
                                     FrameStep(MakeFrame(0x20, 0))};
    const std::string a = WriteFrame(steps[0].frame);
    const std::string b = WriteFrame(steps[2].frame);
    for (bool loop : {false, true}) {
        auto source = MakeScriptSource(steps, 2.0, loop);  // 1.5 s at 2 frames/s: 3 ticks
        std::vector<std::string> ticks;
        Emission e;
        while (ticks.size() < 12 && source->Next(e)) {
            ticks.push_back(e.bytes);
            EXPECT_EQ(e.frames, e.bytes.empty() ? 0 : 1);
        }
        std::vector<std::string> once = {a, a, "", "", "", b};
        if (!loop) {
            EXPECT_EQ(ticks, once);
        } else {
            ASSERT_EQ(ticks.size(), 12u);
            EXPECT_EQ(std::vector<std::string>(ticks.begin() + 6, ticks.end()), once);
        }
    }
}

}  // namespace
}  // namespace kestrel::sim

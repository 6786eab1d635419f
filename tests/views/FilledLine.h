// A line's database filled by the engine from a simulator script, and a memory over it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "monitor/FrameWriter.h"
#include "performance/LineMemory.h"
#include "tests/TestFiles.h"
#include "tools/mux-sim/MuxScript.h"
#include "views/LineSource.h"

namespace kestrel::test {

// 2026-03-29T00:50:00Z, where the scripts start.
inline constexpr std::time_t kScriptStart = 1774745400;

// Plays `script` (the simulator's script format, one frame a second) through the real
// decoder and line memory (kestrel-replay --performance), into `folder`/line.sqlite; a
// silent second is a second without a frame. Returns the second after the last one played.
inline std::time_t FillDatabase(const TempDir& folder, const std::string& script,
                                std::time_t start = kScriptStart) {
    std::istringstream in(script);
    std::vector<sim::ScriptStep> steps;
    sim::ScriptError error;
    EXPECT_TRUE(sim::ParseScript(in, steps, error)) << error.line << ": " << error.message;
    std::string capture;
    long seconds = 0;
    for (const auto& step : steps) {
        if (step.kind == sim::ScriptStep::Kind::Silence) {
            const long n = static_cast<long>(step.silenceSeconds + 0.5);
            capture.append(static_cast<std::size_t>(n) * kStatusFrameLength, ' ');
            seconds += n;
            continue;
        }
        for (long i = 0; i < step.repeat; ++i) {
            capture += WriteFrame(step.frame);
        }
        seconds += step.repeat;
    }
    const std::string file = folder / "capture.bin";
    std::ofstream(file, std::ios::binary) << capture;
    char startText[32];
    std::tm tm{};
    gmtime_r(&start, &tm);
    std::strftime(startText, sizeof startText, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const std::string command = std::string(KESTREL_REPLAY_EXE) + " --performance --start " +
                                startText + " --chunk 45 --db " + (folder / "line.sqlite") +
                                " " + file + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return start + seconds;
}

// A memory opened over the database at `now`, with a clock the test moves, as the window's
// session would hold it.
struct FilledLine {
    explicit FilledLine(const TempDir& folder, std::time_t now) : now(now) {
        memory.Open(folder / "line.sqlite", now, [](const std::string& message) {
            ADD_FAILURE() << message;
        });
    }
    LineSource Source() {
        LineSource s;
        s.memory = [this]() -> const LineMemory& { return memory; };
        s.acknowledge = [this](std::int64_t id) { return memory.Acknowledge(id, now); };
        s.acknowledgeAll = [this] { return memory.AcknowledgeAll(now); };
        s.now = [this] { return now; };
        return s;
    }
    LineMemory memory;
    std::time_t now;
};

}  // namespace kestrel::test

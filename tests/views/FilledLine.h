// A line's database filled by the engine from a simulator script, and a memory over it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "monitor/FrameWriter.h"
#include "performance/LineMemory.h"
#include "tests/TestFiles.h"
#include "views/LineSource.h"

namespace kestrel::test {

// 2026-03-29T00:50:00Z, where the scripts start.
inline constexpr std::time_t kScriptStart = 1774745400;

// Plays `script` (the simulator's script format, one frame a second; `silence S` is S seconds
// without a frame) with the simulator into a capture (kestrel-mux-sim --capture), and the
// capture through the real decoder and line memory (kestrel-replay --performance) into
// `folder`/line.sqlite. Returns the second after the last one played.
inline std::time_t FillDatabase(const TempDir& folder, const std::string& script,
                                std::time_t start = kScriptStart) {
    std::ofstream(folder / "line.script") << script;
    const std::string capture = folder / "capture.bin";
    const std::string sim = std::string(KESTREL_MUX_SIM_EXE) + " --script " +
                            (folder / "line.script") + " --capture " + capture + " 2>/dev/null";
    EXPECT_EQ(std::system(sim.c_str()), 0) << sim;
    char startText[32];
    std::tm tm{};
    gmtime_r(&start, &tm);
    std::strftime(startText, sizeof startText, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const std::string replay = std::string(KESTREL_REPLAY_EXE) + " --performance --start " +
                               startText + " --chunk 45 --db " + (folder / "line.sqlite") + " " +
                               capture + " >/dev/null";
    EXPECT_EQ(std::system(replay.c_str()), 0) << replay;
    // The capture is timed, so its size does not tell its seconds; the database does.
    HistoryStore store;
    std::string error;
    EXPECT_TRUE(store.OpenReadOnly(folder / "line.sqlite", error)) << error;
    const auto held = store.HeldFrom(start);
    return held ? held->end : start;
}

// A memory opened over the database at `now`, with a clock the test moves, as the window's
// session would hold it.
struct FilledLine {
    FilledLine(const TempDir& folder, std::time_t now, LineMemoryOptions options = {})
        : memory(options), now(now) {
        memory.Open(folder / "line.sqlite", now,
                    [](const std::string& message) { ADD_FAILURE() << message; });
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
    std::time_t now;
};

}  // namespace kestrel::test

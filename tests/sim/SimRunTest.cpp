// The simulator program run for real: into a device, into a full line, into a capture, and its
// exits. On its own pseudo-terminal and to the stop signals it is run by the end-to-end tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ChildProcess.h"
#include "tests/TestFiles.h"
#include "tests/monitor/TestFrames.h"
#include "tools/capture/Capture.h"
#include "tools/replay/Performance.h"
#include "tools/replay/Replay.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// Reads up to n bytes, until the end of the stream or `ms` without anything new.
std::string Read(int fd, std::size_t n = SIZE_MAX, int ms = 2000) {
    std::string s;
    char buf[4096];
    ssize_t got;
    for (pollfd p{fd, POLLIN, 0}; s.size() < n && poll(&p, 1, ms) > 0 &&
                                  (got = read(fd, buf, std::min(sizeof buf, n - s.size()))) > 0;) {
        s.append(buf, static_cast<std::size_t>(got));
    }
    return s;
}

// A finished run of kestrel-mux-sim: its exit status (-1 when it did not end within 10 s), its
// output, and the figures of its closing summary (-1 without one).
struct SimRun {
    int status = -1;
    std::string out, err;
    long long sent = -1, bytes = -1, dropped = -1;
};

SimRun RunSim(const std::vector<std::string>& args) {
    test::TempDir dir;
    test::Child child;
    SimRun r;
    if (child.Start(KESTREL_MUX_SIM_EXE, args, dir / "out", dir / "err") && child.WaitExit(10s) &&
        WIFEXITED(child.Status())) {
        r.status = WEXITSTATUS(child.Status());
    }
    r.out = test::ReadFile(dir / "out");
    r.err = test::ReadFile(dir / "err");
    static const std::regex summary(
        "kestrel-mux-sim: frames sent (\\d+), bytes written (\\d+), frames dropped (\\d+), ");
    if (std::smatch m; std::regex_search(r.err, m, summary)) {
        r.sent = std::stoll(m[1]);
        r.bytes = std::stoll(m[2]);
        r.dropped = std::stoll(m[3]);
    }
    return r;
}

TEST(SimRunTest, DeviceGetsTheFramesAndItsSettingsBack) {
    int master = -1;
    int slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);

    const SimRun run =
        RunSim({"--device", name, "--rate", "20", "--frames", "4", "--scenario", "errors"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(name) + "\n");
    const std::string text = Read(master, 4 * kStatusFrameLength);
    ASSERT_EQ(text.size(), 4 * kStatusFrameLength);
    Decoder d;
    d.parser.Parse(text);
    EXPECT_EQ(d.state.frameCount, 4);
    EXPECT_EQ(d.parser.Buffered(), 0u);

    EXPECT_EQ(run.sent, 4);
    EXPECT_EQ(run.bytes, 180);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    close(slave);
    close(master);
}

// When nobody reads, the simulator drops whole ticks instead of waiting or spinning.
TEST(SimRunTest, FullLineDropsFramesAndCarriesOn) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_GT(fcntl(p[1], F_SETPIPE_SZ, 4096), 0);
    int size = fcntl(p[1], F_GETPIPE_SZ);
    // Leave room for two frames and a bit.
    std::string fill(static_cast<std::size_t>(size) - 100, '.');
    ASSERT_EQ(write(p[1], fill.data(), fill.size()), static_cast<ssize_t>(fill.size()));
    const std::string device = "/dev/fd/" + std::to_string(p[1]);
    const SimRun run =
        RunSim({"--device", device, "--rate", "20", "--frames", "10", "--scenario", "quiet"});
    EXPECT_EQ(run.status, 0);
    close(p[1]);
    EXPECT_EQ(run.sent, 2);
    EXPECT_EQ(run.sent + run.dropped, 10);
    // A pipe takes small writes whole or not at all, so nothing is cut off here.
    EXPECT_EQ(run.bytes, 90);
    const std::string got = Read(p[0]);
    close(p[0]);
    ASSERT_EQ(got.size(), fill.size() + 90);
    Decoder d;
    d.parser.Parse(got.substr(fill.size()));
    EXPECT_EQ(d.state.frameCount, 2);
}

// A noisy line brings more or fewer than 45 characters in a second. The capture keeps its
// seconds apart, and the replay gives 900 seconds for 900, each frame measured in the second
// its last character came in.
TEST(SimRunTest, CaptureKeepsTheSecondsOfANoisyLine) {
    test::TempDir dir;
    const SimRun run =
        RunSim({"--scenario", "noise", "--seconds", "900", "--capture", dir / "noise.cap"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("captured 900 seconds"), std::string::npos) << run.err;
    const std::string file = test::ReadFile(dir / "noise.cap");
    CaptureReader capture(test::ReaderOf(file, 4096));
    ASSERT_TRUE(capture.Start());
    long long characters = 0, uneven = 0;
    for (std::string second; capture.NextSecond(second);) {
        characters += static_cast<long long>(second.size());
        uneven += second.size() != kStatusFrameLength;
    }
    EXPECT_EQ(capture.Error(), "");
    EXPECT_EQ(capture.Seconds(), 900u);
    EXPECT_EQ(characters, run.bytes);
    EXPECT_GT(uneven, 100);

    const std::time_t start = 1774742400;  // 2026-03-29T00:00:00Z
    const DecodedLine line = DecodeLine(test::ReaderOf(file, 4096), start);
    EXPECT_EQ(line.end, start + 900);
    std::set<std::time_t> framed;
    for (const DecodedLine::Frame& f : line.frames)
        framed.insert(f.second);
    std::FILE* in = fmemopen(const_cast<char*>(file.data()), file.size(), "rb");
    ReplayOptions replay;
    PerformanceOptions options;
    options.enabled = options.haveStart = true;
    options.start = start;
    std::ostringstream out, err;
    EXPECT_EQ(ReplayPerformance(in, replay, options, out, err), 0) << err.str();
    std::fclose(in);
    // The one 15-minute interval, its near end first.
    std::smatch m;
    const std::string first = out.str().substr(0, out.str().find('\n'));
    ASSERT_TRUE(std::regex_search(first, m,
                                  std::regex(R"("available":(\d+),"unavailable":(\d+),)"
                                             R"("notMeasured":(\d+))")))
        << out.str();
    EXPECT_EQ(std::stoll(m[1]) + std::stoll(m[2]), static_cast<long long>(framed.size()));
    EXPECT_EQ(std::stoll(m[1]) + std::stoll(m[2]) + std::stoll(m[3]), 900);
}

TEST(SimRunTest, CommandLineOutcomes) {
    test::TempDir dir;
    const std::string bad = dir / "bad.txt";
    std::ofstream(bad) << "00 0 0 0 0 0 00 0 0 0 0 0\n# fine\n00 0 zz 0 0 0 00 0 0 0 0 0\n";

    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out;
        const char* err;
    } cases[] = {
        {{"--help"}, 0, "Script format", ""},
        {{"--rate", "fast"}, 2, "", "--rate 'fast'"},
        {{"--script", bad}, 2, "", "bad.txt:3: local tributary byte 1 'zz'"},
        {{"--script", dir / "missing.txt"}, 2, "", "cannot read script"},
        {{"--device", dir / "missing-device"}, 1, "", "cannot open"},
    };
    for (const Case& c : cases) {
        const SimRun run = RunSim(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0];
        EXPECT_NE(run.out.find(c.out), std::string::npos) << c.args[0];
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.args[0];
    }
}

}  // namespace
}  // namespace kestrel

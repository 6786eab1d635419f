// kestrel-replay: its JSON lines on the bundled capture, its options and its errors.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "tests/TestFiles.h"
#include "tools/replay/Replay.h"

namespace kestrel {
namespace {

using test::Lines;

// The value of a numeric key in one JSON line.
long long Number(const std::string& line, const std::string& key) {
    const auto pos = line.find("\"" + key + "\":");
    EXPECT_NE(pos, std::string::npos) << key;
    return std::stoll(line.substr(pos + key.size() + 3));
}

std::string ReplayText(const std::string& input, std::size_t chunk, int interval = 10) {
    ReplayOptions options;
    options.chunk = chunk;
    options.intervalSeconds = interval;
    std::ostringstream out;
    Replay(input, options, out);
    return out.str();
}

// The same replay with the input arriving in reads of at most `piece` bytes, as from a pipe.
std::string DribbledText(const std::string& input, std::size_t chunk, std::size_t piece) {
    ReplayOptions options;
    options.chunk = chunk;
    std::ostringstream out;
    Replay(test::ReaderOf(input, piece), options, out);
    return out.str();
}

TEST(Replay, SampleCaptureDecodesTheSameWhateverTheChunkSize) {
    const std::string sample = test::ReadFile(KESTREL_SAMPLE_CAPTURE);
    ASSERT_GT(sample.size(), 7000u);
    const std::string text = ReplayText(sample, 320);
    // Calls are cut by byte count, not by how the reads split the input.
    EXPECT_EQ(DribbledText(sample, 320, 7), text);
    EXPECT_EQ(DribbledText(sample, 45, 1000), ReplayText(sample, 45));
    const auto reference = Lines(text);
    ASSERT_GE(reference.size(), (sample.size() + 319) / 320);
    const std::string last = reference.back();
    EXPECT_EQ(Number(last, "localAlarmSeconds"), 15);
    EXPECT_EQ(Number(last, "remoteAlarmSeconds"), 35);
    EXPECT_EQ(Number(last, "nearErrorsCumulative"), 5497);
    EXPECT_EQ(Number(last, "farErrorsCumulative"), 912);
    EXPECT_EQ(Number(last, "buffered"), 0);
    EXPECT_NE(last.find("\"ber\":[\"1.934437e-003\",\"3.195531e-005\","), std::string::npos);
    for (std::size_t chunk : {1u, 45u, 4096u}) {
        const std::string other = Lines(ReplayText(sample, chunk)).back();
        for (const char* key : {"localAlarmSeconds", "remoteAlarmSeconds", "nearErrorsCumulative",
                                "farErrorsCumulative", "nearErrorsTotal", "farErrorsTotal"}) {
            EXPECT_EQ(Number(other, key), Number(last, key)) << key << " chunk " << chunk;
        }
    }
}

// A damaged head before ten whole frames, in one call: the first pass ends at the
// resynchronisation, and the replay keeps calling until the frames are decoded. An empty input
// still makes one call, whose line holds the state before any frame. --interval picks the
// window of the intermediate BER.
TEST(Replay, ResynchronisationEmptyInputAndInterval) {
    const std::string frame = "00:0001;00/00/00/00/R00:0000;00\\00\\00\\00\\01|\x1a";
    std::string input = "xx" + std::string(18, ' ') + "R" + std::string(24, ' ');
    for (int i = 0; i < 10; ++i)
        input += frame;
    auto lines = Lines(ReplayText(input, 4096));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Number(lines.back(), "nearErrorsCumulative"), 10);
    EXPECT_EQ(Number(lines.back(), "buffered"), 0);

    lines = Lines(ReplayText("", 320));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with(R"({"call":1,"frameCount":0,"buffered":0,)")) << lines[0];
    EXPECT_NE(lines[0].find(R"("lastLocalStatus":255,"lastRemoteStatus":255,)"), std::string::npos);
    EXPECT_TRUE(lines[0].ends_with(R"("spinnerText":"","ber":["0.000000e-009","0.000000e-009",)"
                                   R"("0.000000e-009","0.000000e-009"]})"))
        << lines[0];

    const std::string three = "00:0003" + frame.substr(7);
    EXPECT_NE(ReplayText(three, 320, 1).find("\"1.917318e-004\",\"1.917318e-004\""),
              std::string::npos);
    EXPECT_NE(ReplayText(three, 320, 30).find("\"1.917318e-004\",\"6.391061e-006\""),
              std::string::npos);
}

struct ArgsCase {
    std::vector<std::string> args;
    bool ok;
};

TEST(Replay, CommandLine) {
    // clang-format off
    const ArgsCase cases[] = {
        {{}, true}, {{"--chunk", "1"}, true}, {{"--chunk=4096", "-"}, true},
        {{"--interval", "30", "file"}, true}, {{"--chunk", "0"}, false},
        {{"--chunk", "4097"}, false}, {{"--chunk", "12x"}, false}, {{"--chunk"}, false},
        {{"--interval", "5"}, false}, {{"--frobnicate"}, false}, {{"a", "b"}, false},
        {{"--", "-x"}, true}, {{"--", "--chunk"}, true}, {{"--chunk", "45", "--help"}, true},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::vector<char*> argv{const_cast<char*>("kestrel-replay")};
        for (const auto& a : c.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        ReplayOptions options;
        std::string error;
        EXPECT_EQ(ParseReplayArgs(static_cast<int>(argv.size()), argv.data(), options, error), c.ok)
            << ::testing::PrintToString(c.args);
        EXPECT_EQ(error.empty(), c.ok);
    }
}

// Peak resident memory, in KiB, of a shell command and everything it waited for.
long PeakRssKiB(const std::string& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

TEST(Replay, EndlessInputIsDecodedInBoundedMemory) {
    // Holding the input would take 63 MiB more for the larger one. The sanitizers' own memory
    // is the same for both, as long as AddressSanitizer does not keep freed blocks for long.
    auto peak = [](const char* size) {
        return PeakRssKiB("head -c " + std::string(size) +
                          " /dev/zero | ASAN_OPTIONS=" + "${ASAN_OPTIONS:-}:quarantine_size_mb=1 " +
                          KESTREL_REPLAY_EXE + " --chunk 4096 >/dev/null");
    };
    const long small = peak("1M");
    const long large = peak("64M");
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    EXPECT_LT(large - small, 16 * 1024);
}

}  // namespace
}  // namespace kestrel

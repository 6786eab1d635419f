// The headless capture of a line: each second's characters in their own record, silent seconds
// empty, a full file kept as FILE.1 while a new one goes on, and what a replay reads back.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "headless/LineCapture.h"
#include "tests/TestFiles.h"
#include "tools/capture/Capture.h"

namespace kestrel::headless {
namespace {

using namespace std::chrono_literals;
using T = LineCapture::TimePoint;

// The seconds of a timed capture file as the replay reads them.
std::vector<std::string> Seconds(const std::string& path) {
    CaptureReader reader(test::ReaderOf(test::ReadFile(path), 4096));
    std::vector<std::string> seconds;
    EXPECT_TRUE(reader.Start() && reader.Timed()) << path;
    for (std::string s; reader.NextSecond(s);) {
        seconds.push_back(s);
    }
    EXPECT_EQ(reader.Error(), "") << path;
    return seconds;
}

// What the capture tells, problems marked with "! ".
LineCapture::Log Teller(std::vector<std::string>& told) {
    return [&told](bool problem, const std::string& line) {
        told.push_back((problem ? "! " : "") + line);
    };
}

TEST(LineCapture, EverySecondInItsRecordAndAFullFileKeptOnce) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("line.cap")).toStdString();
    std::ofstream(path) << "an earlier capture";
    std::vector<std::string> told;
    const T start(100s);
    // Room for the header and 22 characters of records per file.
    LineCapture capture(path, start, 1774746000, Teller(told), 40);
    capture.Arrived("ab", start + 200ms);
    capture.Arrived("c", start + 900ms);
    capture.Tick(start + 1500ms);  // second 0 may still get characters: not written yet
    capture.Arrived("d", start + 1100ms);
    capture.Arrived("efg", start + 3200ms);  // second 2 was silent
    capture.Tick(start + 5s);
    capture.Arrived("h", start + 5500ms);
    capture.Close(start + 5700ms);
    EXPECT_FALSE(capture.Capturing());

    EXPECT_EQ(Seconds(path + ".1"), (std::vector<std::string>{"abc", "d", "", "efg", ""}));
    EXPECT_EQ(Seconds(path), (std::vector<std::string>{"h"}));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0],
              "capturing the line into " + path +
                  " from 2026-03-29T01:00:00Z (kestrel-replay --start 2026-03-29T01:00:00Z)");
    // The new file's first second is the sixth: its --start is five seconds on.
    EXPECT_NE(told[1].find("from 2026-03-29T01:00:05Z"), std::string::npos) << told[1];
}

TEST(LineCapture, AFolderThatCannotTakeTheFileStopsOnlyTheCapture) {
    std::vector<std::string> told;
    LineCapture capture("/proc/kestrel/line.cap", T(0s), 0, Teller(told));
    EXPECT_FALSE(capture.Capturing());
    capture.Arrived("ab", T(1s));
    capture.Tick(T(5s));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].rfind("! capture stopped: cannot create /proc/kestrel/line.cap", 0), 0u)
        << told[0];
}

}  // namespace
}  // namespace kestrel::headless

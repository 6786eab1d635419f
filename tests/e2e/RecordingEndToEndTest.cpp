// Statistics recorded by the kestrel program from the command line: a recording that cannot be
// made, and one whose pipe loses its reader. What the rows hold is the headless end-to-end
// tests' (the same session writes them for both programs).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "E2eFixture.h"

namespace kestrel::e2e {
namespace {

// A recording that cannot be made ends the start with the reason (the statistics tests have
// every way it can fail, and that it leaves no file): here a folder in the way of the G.821 log.
TEST_F(EndToEnd, RecordingThatCannotBeMadeStopsTheStart) {
    const std::string out = dir.filePath(QStringLiteral("out")).toStdString();
    std::filesystem::create_directories(out + "/dayG821.csv");
    ASSERT_TRUE(monitor.Start(dir, dir.filePath(QStringLiteral("no-line")).toStdString(),
                              {"--record", out + "/day.csv"}));
    ASSERT_TRUE(monitor.child.WaitExit(10s));
    EXPECT_TRUE(monitor.child.ExitedWith(1)) << monitor.child.Describe();
    const std::string err = monitor.Stderr();
    EXPECT_NE(err.find("cannot record statistics in " + out + "/day.csv: "), std::string::npos)
        << err;
    EXPECT_NE(err.find("Is a directory"), std::string::npos) << err;
}

// A pipe as the event log whose reader has gone: the closing row at the end fails as a
// write, which stops the recording; the program still closes in order and keeps its settings.
TEST_F(EndToEnd, RecordingIntoAPipeWithoutReaderClosesInOrder) {
    const std::string fifo = dir.filePath(QStringLiteral("day.csv")).toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(monitor.Start(dir, dir.filePath(QStringLiteral("no-line")).toStdString(),
                              {"--record", fifo}));
    // The opening row shows that the recording runs.
    std::string opening;
    const bool opened = Eventually(
        [&] {
            char buffer[256];
            const ssize_t n = read(reader, buffer, sizeof buffer);
            opening.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
            return opening.find('\n') != std::string::npos;
        },
        10s);
    // Asked while the reader is there: without one, the next reopen of the files stops it.
    const bool shown =
        monitor
            .WaitFor([](const QJsonObject& s) { return s[QStringLiteral("statistics")].toBool(); },
                     5s)
            .has_value();
    close(reader);
    ASSERT_TRUE(opened) << "no opening row";
    EXPECT_TRUE(shown) << "the status does not show the recording";
    CloseMonitor();
    const auto last = monitor.Status();
    ASSERT_TRUE(last);
    EXPECT_FALSE((*last)[QStringLiteral("statistics")].toBool());
    EXPECT_NE(ReadFile(monitor.SettingsFile()).find("WindowPos"), std::string::npos);
    bool crlf = false;
    const auto g821 =
        Rows(ReadFile(dir.filePath(QStringLiteral("dayG821.csv")).toStdString()), crlf);
    ASSERT_EQ(g821.size(), 2u) << Show(g821);
    EXPECT_TRUE(Matches(g821.back(), ",NC")) << Show(g821);
}

}  // namespace
}  // namespace kestrel::e2e

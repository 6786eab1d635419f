// Statistics recorded by the kestrel program from the command line, against the simulator,
// and the options that make an unattended run observable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <filesystem>

#include "E2eFixture.h"

namespace kestrel::e2e {
namespace {

// The rows of a statistics file; `crlf` tells whether every row ended in CR LF.
std::vector<QString> Rows(const std::string& text, bool& crlf) {
    std::vector<QString> rows;
    crlf = text.empty() || text.back() == '\n';
    for (const std::string& line : test::Lines(text)) {
        crlf = crlf && line.ends_with('\r');
        rows.push_back(QString::fromStdString(line).remove(u'\r'));
    }
    return rows;
}

bool Matches(const QString& row, const char* pattern) {
    return QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d,\\d\\d:\\d\\d:\\d\\d") +
                              QLatin1String(pattern) + QStringLiteral("$"))
        .match(row)
        .hasMatch();
}

std::string Show(const std::vector<QString>& rows) {
    std::string text;
    for (const QString& r : rows) {
        text += r.toStdString() + "\n";
    }
    return text;
}

TEST_F(EndToEnd, RecordingFromStartToCloseWritesBothFiles) {
    const QString stem = dir.filePath(QStringLiteral("day1"));
    StartHeld(
        "silence 1\n"
        "# six seconds' worth of local AIS frames with errors at both ends, then quiet\n"
        "20 0003 00 00 00 00 00 0004 00 00 00 00 repeat 6\n"
        "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 1000\n",
        2, {"--record", (stem + QStringLiteral(".csv")).toStdString()});

    auto s = monitor.WaitFor([](const QJsonObject& s) { return AlarmLed(s, 1125) == u"y"; }, 8s);
    ASSERT_TRUE(s) << "local AIS never lit";
    EXPECT_TRUE((*s)[QStringLiteral("statistics")].toBool());
    // Five frames after the last alarm frame at least one refresh has written its counts row.
    s = monitor.WaitFor([](const QJsonObject& s) { return FrameCount(s) >= 11; }, 8s);
    ASSERT_TRUE(s);
    CloseMonitor();
    const auto last = monitor.Status();
    ASSERT_TRUE(last);
    EXPECT_FALSE((*last)[QStringLiteral("statistics")].toBool());

    bool crlf = false;
    const auto events = Rows(ReadFile((stem + QStringLiteral(".csv")).toStdString()), crlf);
    EXPECT_TRUE(crlf);
    ASSERT_GE(events.size(), 3u) << Show(events);
    // Switched on before the first link watch: not connected yet.
    EXPECT_TRUE(Matches(events.front(), ",NC,{10}")) << Show(events);
    // The connection at the first link watch.
    EXPECT_TRUE(Matches(events[1], ",{11}")) << Show(events);
    // Switched off by the close while connected.
    EXPECT_TRUE(Matches(events.back(), ",{11}")) << Show(events);
    // Between them only alarm rows: the first frame after the connection may give one, when
    // no other frame followed it before the refresh. The end of the AIS changes the local
    // byte alone and gives none.
    EXPECT_LE(events.size(), 4u) << Show(events);
    for (std::size_t i = 2; i + 1 < events.size(); ++i) {
        EXPECT_TRUE(Matches(events[i], ",,,(AIS )?,{7}")) << Show(events);
    }

    const auto g821 = Rows(ReadFile((stem + QStringLiteral("G821.csv")).toStdString()), crlf);
    EXPECT_TRUE(crlf);
    ASSERT_GE(g821.size(), 4u) << Show(g821);
    EXPECT_TRUE(Matches(g821.front(), ",NC")) << Show(g821);
    EXPECT_TRUE(Matches(g821[1], ",")) << Show(g821);
    EXPECT_TRUE(Matches(g821.back(), "")) << Show(g821);
    // One counts row for every second with an alarm frame: six frames at two a second.
    const std::vector<QString> counts(g821.begin() + 2, g821.end() - 1);
    EXPECT_GE(counts.size(), 2u) << Show(g821);
    EXPECT_LE(counts.size(), 5u) << Show(g821);
    std::array<long long, 4> previous{};
    for (const QString& row : counts) {
        ASSERT_TRUE(Matches(row, ",,\\d+,\\d+,\\d+,\\d+")) << Show(g821);
        const QStringList fields = row.split(u',');
        for (int i = 0; i < 4; ++i) {
            const long long value = fields[3 + i].toLongLong();
            EXPECT_GE(value, previous[i]) << Show(g821);
            previous[i] = value;
        }
    }
    // Every alarm frame counted: six local alarm seconds, 6 x 3 near and 6 x 4 far errors.
    ASSERT_FALSE(counts.empty());
    EXPECT_TRUE(counts.back().endsWith(QStringLiteral(",,6,18,0,24"))) << Show(g821);
}

// Each recording that cannot be made ends the start with the reason and leaves no file.
TEST_F(EndToEnd, RecordingThatCannotBeMadeStopsTheStart) {
    const std::string out = dir.filePath(QStringLiteral("out")).toStdString();
    std::filesystem::create_directories(out + "/rec/dayG821.csv");  // a folder in the way
    const std::pair<std::string, std::string> cases[] = {
        {out + "/missing/day1.csv", "No such file or directory"},
        {out + "/rec/day.csv", "Is a directory"},
        {out + "/rec", "Is a directory"},
        {out + "/rec/", "Is a directory"},
    };
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(monitor.Start(dir, dir.filePath(QStringLiteral("no-line")).toStdString(),
                                  {"--record", name}));
        ASSERT_TRUE(monitor.child.WaitExit(10s));
        EXPECT_TRUE(monitor.child.ExitedWith(1)) << monitor.child.Describe();
        const std::string err = monitor.Stderr();
        EXPECT_NE(err.find("cannot record statistics in " + name + ": "), std::string::npos) << err;
        EXPECT_NE(err.find(reason), std::string::npos) << err;
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
            files.push_back(entry.path().string());
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, std::vector<std::string>({out + "/rec", out + "/rec/dayG821.csv"}));
    }
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
    const auto deadline = Clock::now() + 10s;
    while (opening.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd p{reader, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = read(reader, buffer, sizeof buffer);
            opening.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        }
    }
    close(reader);
    ASSERT_NE(opening.find('\n'), std::string::npos) << "no opening row";
    CloseMonitor();
    EXPECT_NE(ReadFile(monitor.SettingsFile()).find("WindowPos"), std::string::npos);
    bool crlf = false;
    const auto g821 =
        Rows(ReadFile(dir.filePath(QStringLiteral("dayG821.csv")).toStdString()), crlf);
    ASSERT_EQ(g821.size(), 2u) << Show(g821);
    EXPECT_TRUE(Matches(g821.back(), ",NC")) << Show(g821);
}

}  // namespace
}  // namespace kestrel::e2e

// "On", "Off", the flush timer and the closing rows, with the real statistics files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "FrameFixture.h"
#include "frame/CommandIds.h"
#include "tests/TestFiles.h"

namespace kestrel::test {
namespace {

// The rows of a statistics file, each ended by CR LF.
long Rows(const QString& path) {
    const QString text = QString::fromStdString(ReadFile(path.toStdString()));
    EXPECT_TRUE(text.isEmpty() || text.endsWith(u"\r\n")) << path.toStdString();
    return text.count(QStringLiteral("\r\n"));
}

class StatisticsCommands : public FrameFixture {
protected:
    QString Name(const char* file) { return dir.filePath(QString::fromLatin1(file)); }
};

// One row each way, and no alarm row while not connected (the port is closed).
TEST_F(StatisticsCommands, OnThenOffWritesOneRowEachWay) {
    CMainFrame& f = Create();
    Trigger(cmd::kStatisticsOn);  // cancelled: no name queued
    EXPECT_FALSE(f.Action(cmd::kStatisticsOn)->isChecked());
    EXPECT_FALSE(f.LogFlushTimer().isActive());
    prompts.fileNames.push_back(Name("night.csv"));
    steps.clear();
    Trigger(cmd::kStatisticsOn);
    ASSERT_EQ(prompts.requests.size(), 2u);
    const FileDialogRequest& r = prompts.requests[1];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.defaultSuffix, u"csv");
    EXPECT_TRUE(f.Action(cmd::kStatisticsOn)->isChecked());
    EXPECT_FALSE(f.Action(cmd::kStatisticsOff)->isChecked());
    EXPECT_TRUE(f.LogFlushTimer().isActive());
    EXPECT_EQ(f.LogFlushTimer().interval(), 3000);
    // Two 200 ms waits, as blocking waits: no event loop runs in between.
    EXPECT_EQ(steps, std::vector<std::string>({"Sleep 200", "Sleep 200"}));
    // "On" while on still shows the dialog, and changes nothing.
    prompts.fileNames.push_back(Name("b.csv"));
    Trigger(cmd::kStatisticsOn);
    EXPECT_EQ(prompts.requests.size(), 3u);
    EXPECT_FALSE(QFile::exists(Name("b.csv")));
    state.statusChanged = MonitorState::kLocalChanged | MonitorState::kRemoteChanged;
    f.PanelRefresh();

    Trigger(cmd::kStatisticsOff);
    EXPECT_FALSE(f.LogFlushTimer().isActive());
    EXPECT_TRUE(f.Action(cmd::kStatisticsOff)->isChecked());
    // One row each way in each file; what the rows hold is the statistics log's test.
    EXPECT_EQ(Rows(Name("night.csv")), 2);
    EXPECT_EQ(Rows(Name("nightG821.csv")), 2);

    // Closing while on writes the closing rows too.
    prompts.fileNames.push_back(Name("close.csv"));
    Trigger(cmd::kStatisticsOn);
    steps.clear();
    f.close();
    EXPECT_NE(std::find(steps.begin(), steps.end(), "StatisticsOff"), steps.end());
    EXPECT_EQ(Rows(Name("close.csv")), 2);
    EXPECT_EQ(Rows(Name("closeG821.csv")), 2);
    EXPECT_FALSE(f.LogFlushTimer().isActive());
}

TEST_F(StatisticsCommands, FlushPassesRearmAndAFailureStopsThemWithANotice) {
    CMainFrame& f = Create();
    state.connected = 1;
    state.wasConnected = 1;
    const QString folder = Name("logs");
    ASSERT_TRUE(QDir().mkpath(folder));
    prompts.fileNames.push_back(folder + QStringLiteral("/day1.csv"));
    Trigger(cmd::kStatisticsOn);
    f.LogFlush();
    EXPECT_TRUE(f.LogFlushTimer().isActive());
    EXPECT_TRUE(prompts.shown.empty());

    // The G821Log goes away between two flushes: the recording stops as a whole, the event
    // log gets its closing row, the user is told without a modal box, and the monitoring
    // carries on.
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/day1G821.csv")));
    f.LogFlush();
    EXPECT_FALSE(f.LogFlushTimer().isActive());
    EXPECT_FALSE(f.Action(cmd::kStatisticsOn)->isChecked());
    EXPECT_TRUE(f.Action(cmd::kStatisticsOff)->isChecked());
    EXPECT_EQ(Rows(folder + QStringLiteral("/day1.csv")), 2);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_FALSE(prompts.shown.back().modal);
    f.PanelRefresh();
    f.LinkWatch();
    EXPECT_EQ(Rows(folder + QStringLiteral("/day1.csv")), 2);
}

}  // namespace
}  // namespace kestrel::test

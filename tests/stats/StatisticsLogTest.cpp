// The statistics controller: on, off, flush, the supervision rows and every failure path.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "monitor/FrameParser.h"
#include "monitor/FrameWriter.h"
#include "stats/StatisticsLog.h"
#include "tests/stats/FaultyFileIo.h"
#include "tests/stats/StatsTestSupport.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// Row texts at the fixture's clock time.
constexpr const char* kT = "05/12/26,23:41:07";
std::string Rows(std::initializer_list<std::string> rows) {
    std::string out;
    for (const auto& r : rows) {
        out += r + "\r\n";
    }
    return out;
}
std::string At(const char* rest) {
    return std::string(kT) + rest;
}
const std::string kEventMark = At(",,,,,,,,,,,");
const std::string kEventMarkNc = At(",NC,,,,,,,,,,");
const std::string kG821Mark = At("");
const std::string kG821MarkNc = At(",NC");
const std::string kG821EdgeNc = At(",NC,");
const std::string kG821Edge = At(",");

class StatisticsLogTest : public ::testing::Test {
protected:
    StatisticsLogTest() : log(state, Options()) {}

    StatisticsLog::Options Options() {
        StatisticsLog::Options o;
        o.notify = [this](const std::string& text) { notices.push_back(text); };
        o.clock = [this] { return now; };
        o.sleeper = [this](std::chrono::milliseconds d) { sleeps.push_back(d); };
        o.io = io;
        return o;
    }
    std::string Event() const { return test::ReadFile(eventPath); }
    std::string G821() const { return test::ReadFile(g821Path); }

    test::TempDir dir;
    std::string eventPath = dir / "day1.csv";
    std::string g821Path = dir / "day1G821.csv";
    std::time_t now = test::LocalTime(2026, 12, 5, 23, 41, 7);
    std::vector<std::string> notices;
    std::vector<std::chrono::milliseconds> sleeps;
    std::shared_ptr<test::FaultyFileIo> io = std::make_shared<test::FaultyFileIo>();
    MonitorState state;
    StatisticsLog log;
    std::mutex frameMutex;
};

TEST_F(StatisticsLogTest, OnThenOffWritesTheSameKindOfRowAtBothEnds) {
    struct Case {
        bool connected;
        std::string eventMark, g821Mark;
    };
    for (const Case& c :
         {Case{true, kEventMark, kG821Mark}, Case{false, kEventMarkNc, kG821MarkNc}}) {
        test::ScopedLocale locale(test::kUserLocale);  // rows must not follow the user's locale
        state.connected = c.connected;
        sleeps.clear();
        EXPECT_FALSE(log.IsEventLogOpen());
        ASSERT_TRUE(log.StatisticsOn(eventPath));
        EXPECT_TRUE(log.IsEventLogOpen());
        EXPECT_TRUE(log.IsG821LogOpen());
        EXPECT_TRUE(log.IsFlushDue());
        EXPECT_EQ(log.logFileName(), eventPath);
        EXPECT_EQ(log.g821LogName(), g821Path);
        EXPECT_EQ(sleeps, (std::vector{200ms, 200ms}));
        log.StatisticsOff();
        EXPECT_FALSE(log.IsEventLogOpen());
        EXPECT_FALSE(log.IsG821LogOpen());
        EXPECT_FALSE(log.IsFlushDue());
        EXPECT_EQ(Event(), Rows({c.eventMark, c.eventMark})) << c.connected;
        EXPECT_EQ(G821(), Rows({c.g821Mark, c.g821Mark})) << c.connected;
    }
    EXPECT_TRUE(notices.empty());
}

TEST_F(StatisticsLogTest, SupervisionRowsWhileOn) {
    state.connected = 1;
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    state.localRai = 1;
    state.remoteAis = 1;
    log.WriteAlarmRow();
    state.localAlarmSeconds = 3;
    state.nearErrorsCumulative = 1234;
    state.remoteAlarmSeconds = 2;
    state.farErrorsCumulative = 56;
    log.WriteCountsRow();
    // The MUX goes away and comes back.
    state.connected = 0;
    log.WriteMarkRows(false);
    state.connected = 1;
    log.WriteMarkRows(true);
    log.StatisticsOff();

    EXPECT_EQ(Event(),
              Rows({kEventMark, At(",,,,,RAI ,,AIS_R ,,,"), kEventMarkNc, kEventMark, kEventMark}));
    EXPECT_EQ(G821(), Rows({kG821Mark, At(",,3,1234,2,56"), kG821EdgeNc, kG821Edge, kG821Mark}));
}

TEST_F(StatisticsLogTest, NothingIsWrittenWhileOff) {
    state.connected = 1;
    log.WriteAlarmRow();
    log.WriteCountsRow();
    log.WriteMarkRows(true);
    log.StatisticsOff();
    EXPECT_FALSE(log.LogFlush(frameMutex));
    EXPECT_EQ(io->opens, 0);
    EXPECT_TRUE(notices.empty());
}

TEST_F(StatisticsLogTest, OnWhileOnChangesNothing) {
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    EXPECT_FALSE(log.StatisticsOn(dir / "other.csv"));
    EXPECT_EQ(log.logFileName(), eventPath);
    EXPECT_TRUE(log.IsFlushDue());
    EXPECT_FALSE(std::filesystem::exists(dir / "other.csv"));
    EXPECT_EQ(sleeps.size(), 2u);
}

TEST(StatisticsLogNames, G821LogIsNamedFromTheFileNameAlone) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/john.doe/logs/day1.csv", "/home/john.doe/logs/day1G821.csv"},
        {"/logs/day1G821.csv", "/logs/day1G821G821.csv"},
        {"/logs/Day1.CSV", "/logs/Day1G821.csv"},
        {"/logs/day1.backup.csv", "/logs/day1G821.csv"},
        {"/logs/day1", "/logs/day1G821.csv"},
        {"day1.csv", "day1G821.csv"},
        {"/a.b/c.d/e", "/a.b/c.d/eG821.csv"},
    };
    for (const auto& [chosen, expected] : cases) {
        EXPECT_EQ(StatisticsLog::G821LogNameFor(chosen), expected) << chosen;
    }
}

TEST_F(StatisticsLogTest, FlushKeepsEachFileUnderItsOwnName) {
    // Names for which cutting the whole path at its first '.' would pick other files; each in
    // a folder of its own, which must hold exactly the two files afterwards.
    const std::string chosenNames[] = {
        "a/john.doe/day1.csv",
        "b/day1G821.csv",
        "c/Day1.CSV",
    };
    for (const auto& chosen : chosenNames) {
        const std::string path = dir / chosen;
        const auto folder = std::filesystem::path(path).parent_path();
        std::filesystem::create_directories(folder);
        const std::string g821 = StatisticsLog::G821LogNameFor(path);
        ASSERT_TRUE(log.StatisticsOn(path)) << chosen;
        for (int pass = 0; pass < 3; ++pass) {
            ASSERT_TRUE(log.LogFlush(frameMutex)) << chosen;
            log.WriteCountsRow();
        }
        log.StatisticsOff();
        EXPECT_EQ(test::ReadFile(path), Rows({kEventMarkNc, kEventMarkNc})) << chosen;
        const std::string counts = At(",,0,0,0,0");
        EXPECT_EQ(test::ReadFile(g821), Rows({kG821MarkNc, counts, counts, counts, kG821MarkNc}))
            << chosen;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                                std::filesystem::directory_iterator()),
                  2)
            << chosen;
    }
    EXPECT_TRUE(notices.empty());
}

// A file that disappears or cannot be reopened between flushes, table-driven: the EventLog
// failing ends statistics and leaves the G821Log open; the G821Log failing leaves statistics
// on without flush.
TEST_F(StatisticsLogTest, FailedReopen) {
    struct Case {
        const char* what;
        bool eventFails;
        bool replaceWithFolder;
    };
    const Case cases[] = {
        {"event log removed", true, false},
        {"folder in place of the event log", true, true},
        {"G821 log removed", false, false},
        {"folder in place of the G821 log", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        notices.clear();
        std::filesystem::remove_all(eventPath);
        std::filesystem::remove_all(g821Path);
        state.connected = 1;
        ASSERT_TRUE(log.StatisticsOn(eventPath));
        ASSERT_TRUE(log.LogFlush(frameMutex));
        const std::string& victim = c.eventFails ? eventPath : g821Path;
        std::filesystem::remove(victim);
        if (c.replaceWithFolder) {
            std::filesystem::create_directory(victim);
        }
        EXPECT_FALSE(log.LogFlush(frameMutex));
        EXPECT_FALSE(log.IsFlushDue());
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find(victim), std::string::npos) << notices[0];
        EXPECT_EQ(log.IsEventLogOpen(), !c.eventFails);
        EXPECT_EQ(log.IsG821LogOpen(), c.eventFails);

        // No further flush, and the surviving file keeps its rows.
        EXPECT_FALSE(log.LogFlush(frameMutex));
        log.WriteCountsRow();
        log.WriteAlarmRow();
        EXPECT_EQ(notices.size(), 1u);
        if (c.eventFails) {
            EXPECT_EQ(G821(), Rows({kG821Mark, At(",,0,0,0,0")}));
        } else {
            EXPECT_EQ(Event(), Rows({kEventMark, At(",,,,,,,,,,")}));
        }
        log.StatisticsOff();
        EXPECT_FALSE(log.IsG821LogOpen());
        EXPECT_EQ(notices.size(), 1u);
    }
}

TEST_F(StatisticsLogTest, OnWhileG821LogIsLeftOpenEndsItFirst) {
    state.connected = 1;
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    std::filesystem::remove(eventPath);
    EXPECT_FALSE(log.LogFlush(frameMutex));
    ASSERT_TRUE(log.IsG821LogOpen());
    EXPECT_FALSE(log.IsEventLogOpen());

    // The same name again: the old G821Log is closed with its row, then both start afresh.
    state.connected = 0;
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    EXPECT_EQ(G821(), Rows({kG821MarkNc}));
    EXPECT_EQ(Event(), Rows({kEventMarkNc}));
    log.StatisticsOff();

    // Another name: the old G821Log keeps its whole recording, closed with the "Off" row.
    state.connected = 1;
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    std::filesystem::remove(eventPath);
    EXPECT_FALSE(log.LogFlush(frameMutex));
    const std::string other = dir / "day2.csv";
    ASSERT_TRUE(log.StatisticsOn(other));
    EXPECT_EQ(G821(), Rows({kG821Mark, kG821Mark}));
    EXPECT_EQ(test::ReadFile(other), Rows({kEventMark}));
    EXPECT_EQ(notices.size(), 2u);
}

// Write and close failures are handled as the failed reopen of the same file.
TEST_F(StatisticsLogTest, WriteAndCloseFailures) {
    struct Case {
        const char* what;
        bool eventFails;
        bool closeFails;
    };
    const Case cases[] = {
        {"event log full", true, false},
        {"G821 log full", false, false},
        {"event log close error", true, true},
        {"G821 log close error", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        notices.clear();
        io->failWritePath.clear();
        io->failClosePath.clear();
        state.connected = 1;
        ASSERT_TRUE(log.StatisticsOn(eventPath));
        const std::string& victim = c.eventFails ? eventPath : g821Path;
        const std::string before = test::ReadFile(victim);
        if (c.closeFails) {
            io->failClosePath = victim;
            EXPECT_FALSE(log.LogFlush(frameMutex));
        } else {
            io->failWritePath = victim;
            io->partialBytes = 5;
            log.WriteAlarmRow();
            log.WriteCountsRow();
            EXPECT_FALSE(log.LogFlush(frameMutex));
        }
        EXPECT_FALSE(log.IsFlushDue());
        EXPECT_EQ(log.IsEventLogOpen(), !c.eventFails);
        EXPECT_EQ(log.IsG821LogOpen(), c.eventFails);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find(victim), std::string::npos) << notices[0];
        if (!c.closeFails) {
            EXPECT_NE(
                notices[0].find(std::make_error_code(std::errc::no_space_on_device).message()),
                std::string::npos)
                << notices[0];
        }
        EXPECT_EQ(test::ReadFile(victim), before);  // nothing written before is damaged
        // Told once: the failed file takes no more rows.
        log.WriteAlarmRow();
        log.WriteCountsRow();
        log.WriteMarkRows(state.connected.load() != 0);
        log.StatisticsOff();
        EXPECT_EQ(notices.size(), 1u);
        EXPECT_EQ(test::ReadFile(victim), before);
    }
}

TEST_F(StatisticsLogTest, OpeningRowThatFailsStopsTheFlush) {
    io->failWritePath = g821Path;
    EXPECT_FALSE(log.StatisticsOn(eventPath));
    EXPECT_TRUE(log.IsEventLogOpen());
    EXPECT_FALSE(log.IsG821LogOpen());
    EXPECT_EQ(notices.size(), 1u);
}

TEST_F(StatisticsLogTest, FilesThatCannotBeCreated) {
    // Event log impossible, G821 log fine: the G821 log records, statistics stay off.
    std::filesystem::create_directory(eventPath);
    EXPECT_FALSE(log.StatisticsOn(eventPath));
    EXPECT_FALSE(log.IsEventLogOpen());
    EXPECT_TRUE(log.IsG821LogOpen());
    EXPECT_FALSE(log.LogFlush(frameMutex));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(sleeps.size(), 1u);
    log.StatisticsOff();
    EXPECT_EQ(G821(), Rows({kG821MarkNc, kG821MarkNc}));
    std::filesystem::remove(eventPath);
    std::filesystem::remove(g821Path);

    // G821 log impossible: statistics are on with the event log alone, flushed as usual, and
    // the G821 log is not created by a flush.
    notices.clear();
    std::filesystem::create_directory(g821Path);
    EXPECT_TRUE(log.StatisticsOn(eventPath));
    EXPECT_EQ(notices.size(), 1u);
    std::filesystem::remove(g821Path);
    EXPECT_TRUE(log.LogFlush(frameMutex));
    EXPECT_FALSE(std::filesystem::exists(g821Path));
    log.StatisticsOff();
    EXPECT_EQ(Event(), Rows({kEventMarkNc, kEventMarkNc}));
}

TEST_F(StatisticsLogTest, SecondMonitorIsRefusedTheLockedRecording) {
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    std::vector<std::string> otherNotices;
    StatisticsLog::Options o = Options();
    o.notify = [&](const std::string& text) { otherNotices.push_back(text); };
    StatisticsLog other(state, o);
    EXPECT_FALSE(other.StatisticsOn(eventPath));
    EXPECT_FALSE(other.IsEventLogOpen());
    EXPECT_FALSE(other.IsG821LogOpen());
    // Both files refused: one notice naming both.
    ASSERT_EQ(otherNotices.size(), 1u);
    EXPECT_NE(otherNotices[0].find("another monitor"), std::string::npos) << otherNotices[0];
    EXPECT_NE(otherNotices[0].find(eventPath), std::string::npos) << otherNotices[0];
    EXPECT_NE(otherNotices[0].find(g821Path), std::string::npos) << otherNotices[0];
    log.StatisticsOff();
    EXPECT_EQ(Event(), Rows({kEventMarkNc, kEventMarkNc}));
    EXPECT_EQ(G821(), Rows({kG821MarkNc, kG821MarkNc}));
}

TEST_F(StatisticsLogTest, FlushHoldsTheFrameMutexWhileFilesAreReopened) {
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    int checked = 0;
    io->onOpen = [&](const std::string&) {
        // Asked from another thread: a try_lock by the holder itself would be undefined.
        EXPECT_FALSE(std::async(std::launch::async, [&] {
                         const bool got = frameMutex.try_lock();
                         if (got) {
                             frameMutex.unlock();
                         }
                         return got;
                     }).get());
        ++checked;
    };
    ASSERT_TRUE(log.LogFlush(frameMutex));
    EXPECT_EQ(checked, 2);
}

// A receive thread parses real frames under the mutex while the user-interface thread
// flushes and writes rows: it waits for each flush, and no byte and no row goes missing.
TEST_F(StatisticsLogTest, FlushAndReceiveThreadShareTheMutexWithoutLoss) {
    state.connected = 1;
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    BerMeter meter(state);
    FrameParser parser(state, meter);
    StatusFrame alarm;
    alarm.localStatus = 0x40;  // LOF: every frame counts one local alarm second
    alarm.nearCount = 3;
    const std::string frame = WriteFrame(alarm);
    constexpr int kFrames = 2000;
    std::atomic<bool> started{false};
    std::thread receiver([&] {
        // Hand-overs of 7 bytes split every frame, so a lost byte would lose frames.
        std::string stream;
        for (int i = 0; i < kFrames; ++i)
            stream += frame;
        for (std::size_t pos = 0; pos < stream.size(); pos += 7) {
            std::lock_guard<std::mutex> hold(frameMutex);
            parser.Parse(std::string_view(stream).substr(pos, 7));
            started = true;
        }
    });
    while (!started.load()) {
        std::this_thread::yield();
    }
    for (int pass = 0; pass < 50; ++pass) {
        ASSERT_TRUE(log.LogFlush(frameMutex));
        if (state.alarmSeen.exchange(0)) {
            log.WriteCountsRow();
        }
    }
    receiver.join();
    EXPECT_EQ(state.frameCount.load(), kFrames);
    EXPECT_EQ(parser.Buffered(), 0u);
    log.WriteCountsRow();
    log.StatisticsOff();
    const std::string total = std::to_string(kFrames);
    EXPECT_TRUE(G821().ends_with(
        Rows({At(",,") + total + "," + std::to_string(3 * kFrames) + ",0,0", kG821Mark})));
    EXPECT_TRUE(notices.empty());
}

TEST_F(StatisticsLogTest, DestructionClosesWithoutRows) {
    {
        StatisticsLog scoped(state, Options());
        ASSERT_TRUE(scoped.StatisticsOn(eventPath));
    }
    EXPECT_EQ(Event(), Rows({kEventMarkNc}));
    LogFile again;
    EXPECT_FALSE(again.Open(eventPath, LogFile::OpenMode::AppendExisting));  // lock released
}

}  // namespace
}  // namespace kestrel

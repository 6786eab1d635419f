// The statistics controller: on, off, flush, the supervision rows and every failure path.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <future>
#include <map>

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
    // The folder's files with their contents.
    std::map<std::string, std::string> Listing() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path)) {
            files[entry.path().string()] =
                entry.is_regular_file() ? test::ReadFile(entry.path().string()) : "<folder>";
        }
        return files;
    }
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

// While off, rows, marks and flushes touch no file. While on, the rows the ticks ask for, in
// the C locale whatever the user's.
TEST_F(StatisticsLogTest, RowsWhileOnAndNothingWhileOff) {
    log.WriteAlarmRow();
    log.WriteCountsRow();
    log.WriteMarkRows(true);
    log.StatisticsOff();
    EXPECT_FALSE(log.LogFlush(frameMutex));
    EXPECT_EQ(io->opens, 0);
    test::ScopedLocale locale(test::kUserLocale);
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    EXPECT_FALSE(log.StatisticsOn(dir / "other.csv"));  // "On" while on changes nothing
    EXPECT_FALSE(std::filesystem::exists(dir / "other.csv"));
    EXPECT_TRUE(log.IsEventLogOpen() && log.IsG821LogOpen() && log.IsFlushDue());
    EXPECT_EQ(sleeps, (std::vector{200ms, 200ms}));
    state.connected = 1;
    log.WriteMarkRows(true);
    state.localRai = 1;
    state.remoteAis = 1;
    log.WriteAlarmRow();
    state.localAlarmSeconds = 3;
    state.nearErrorsCumulative = 1234;
    state.remoteAlarmSeconds = 2;
    state.farErrorsCumulative = 56;
    state.nearErrorsTotal = 99;  // the resettable totals are not the counts of the file
    log.WriteCountsRow();
    // The MUX goes away and comes back.
    state.connected = 0;
    log.WriteMarkRows(false);
    state.connected = 1;
    log.WriteMarkRows(true);
    log.StatisticsOff();
    EXPECT_FALSE(log.IsEventLogOpen() || log.IsG821LogOpen() || log.IsFlushDue());

    EXPECT_EQ(Event(), Rows({kEventMarkNc, kEventMark, At(",,,,,RAI ,,AIS_R ,,,"), kEventMarkNc,
                             kEventMark, kEventMark}));
    EXPECT_EQ(G821(), Rows({kG821MarkNc, kG821Edge, At(",,3,1234,2,56"), kG821EdgeNc, kG821Edge,
                            kG821Mark}));
    EXPECT_TRUE(notices.empty());
}

// The G.821 log is named from the file name alone; names for which cutting the whole path at
// its first '.' would pick other files are flushed too, each in a folder of its own, which
// must hold exactly the two files afterwards.
TEST_F(StatisticsLogTest, G821LogIsNamedFromTheFileNameAloneAndFlushKeepsTheNames) {
    const struct {
        const char* chosen;
        const char* expected;
        bool record;
    } cases[] = {
        {"/logs/day1.backup.csv", "/logs/day1G821.csv", false},
        {"/logs/day1", "/logs/day1G821.csv", false},
        {"day1.csv", "day1G821.csv", false},
        {"/a.b/c.d/e", "/a.b/c.d/eG821.csv", false},
        {"a/john.doe/day1.csv", "a/john.doe/day1G821.csv", true},
        {"b/day1G821.csv", "b/day1G821G821.csv", true},
        {"c/Day1.CSV", "c/Day1G821.csv", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatisticsLog::G821LogNameFor(c.chosen), c.expected) << c.chosen;
        if (!c.record) {
            continue;
        }
        const std::string path = dir / c.chosen;
        const auto folder = std::filesystem::path(path).parent_path();
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(log.StatisticsOn(path)) << c.chosen;
        for (int pass = 0; pass < 3; ++pass) {
            ASSERT_TRUE(log.LogFlush(frameMutex)) << c.chosen;
            log.WriteCountsRow();
        }
        log.StatisticsOff();
        EXPECT_EQ(test::ReadFile(path), Rows({kEventMarkNc, kEventMarkNc})) << c.chosen;
        const std::string counts = At(",,0,0,0,0");
        EXPECT_EQ(test::ReadFile(dir / c.expected),
                  Rows({kG821MarkNc, counts, counts, counts, kG821MarkNc}))
            << c.chosen;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                                std::filesystem::directory_iterator()),
                  2)
            << c.chosen;
    }
    EXPECT_TRUE(notices.empty());
}

// "On" that cannot start both files starts neither and leaves no file of its own behind.
TEST_F(StatisticsLogTest, OnThatCannotStartLeavesNothingBehind) {
    struct Case {
        const char* what;
        std::string chosen;
        std::function<void()> arrange;
        std::string failingFile, reason;
    };
    const std::string locked = dir / "locked.csv";
    const std::string earlier = "an earlier recording\n";
    StatisticsLog first(state, Options());
    const Case cases[] = {
        {"event log name is a folder", eventPath,
         [&] { std::filesystem::create_directory(eventPath); }, eventPath, "Is a directory"},
        {"folder given as the name", dir.path.string() + "/", [] {}, dir.path.string() + "/",
         "Is a directory"},
        {"G821 log name is a folder", eventPath,
         [&] { std::filesystem::create_directory(g821Path); }, g821Path, "Is a directory"},
        {"G821 log name is a folder, event log recorded earlier", eventPath,
         [&] {
             std::filesystem::create_directory(g821Path);
             std::ofstream(eventPath) << earlier;
         },
         g821Path, "Is a directory"},
        {"missing folder", dir / "missing/day1.csv", [] {}, dir / "missing/day1.csv",
         "No such file or directory"},
        {"another monitor records there", locked, [&] { ASSERT_TRUE(first.StatisticsOn(locked)); },
         locked, "another monitor is already recording into it"},
        {"opening row cannot be written", eventPath, [&] { io->failWritePath = g821Path; },
         g821Path, "could not be written to (No space left on device)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(eventPath);
        std::filesystem::remove_all(g821Path);
        io->failWritePath.clear();
        notices.clear();
        c.arrange();
        const auto before = Listing();
        EXPECT_FALSE(log.StatisticsOn(c.chosen));
        EXPECT_FALSE(log.IsEventLogOpen() || log.IsG821LogOpen() || log.IsFlushDue());
        EXPECT_EQ(Listing(), before);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_TRUE(notices[0].starts_with("Statistics could not be started: ")) << notices[0];
        EXPECT_NE(notices[0].find("\"" + c.failingFile + "\""), std::string::npos) << notices[0];
        EXPECT_NE(notices[0].find(c.reason), std::string::npos) << notices[0];
        // Given a place for the reason, the caller tells the user, in its own words.
        std::string reason;
        EXPECT_FALSE(log.StatisticsOn(c.chosen, &reason));
        EXPECT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find(reason), std::string::npos) << reason;
    }
    first.StatisticsOff();
    EXPECT_EQ(test::ReadFile(locked), Rows({kEventMarkNc, kEventMarkNc}));
}

// Every way a file of a running recording can fail, for each of the two files: the other file
// gets its closing row, both close, the flush stops, and the user is told once.
enum class Failure { WriteError, WouldBlock, CloseError, ReopenError, Removed, Replaced, Moved };

class PairFailsTogether
    : public StatisticsLogTest,
      public ::testing::WithParamInterface<std::tuple<Failure, bool /* the event log fails */>> {};

TEST_P(PairFailsTogether, WhenEitherFileFails) {
    const auto [failure, eventFails] = GetParam();
    const std::string& victim = eventFails ? eventPath : g821Path;
    const std::string& survivor = eventFails ? g821Path : eventPath;
    const std::string moved = dir / "moved.csv";
    state.connected = 1;
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    ASSERT_TRUE(log.LogFlush(frameMutex));
    const std::string recorded = test::ReadFile(victim);

    std::string expected;  // in the notice
    switch (failure) {
        case Failure::WriteError:
        case Failure::WouldBlock:
            io->failWritePath = victim;
            io->partialBytes = 5;
            io->writeErrno = failure == Failure::WriteError ? ENOSPC : EAGAIN;
            expected = failure == Failure::WriteError
                           ? "could not be written to (No space left on device)"
                           : "could not be written to (its reader is not keeping up)";
            break;
        case Failure::CloseError:
            io->failClosePath = victim;
            expected = "could not be closed (Input/output error)";
            break;
        case Failure::ReopenError:
            io->failOpenPath = victim;
            expected = "could not be opened again (Permission denied)";
            break;
        case Failure::Removed:
            std::filesystem::remove(victim);
            expected = "was removed. The rows recorded in it are lost.";
            break;
        case Failure::Replaced:
            std::filesystem::remove(victim);
            std::ofstream(victim) << "another file";
            expected = "was replaced by another file. The rows recorded in it are lost.";
            break;
        case Failure::Moved:
            std::filesystem::rename(victim, moved);
            expected = "was moved or renamed. The rows already recorded stay in the moved file.";
            break;
    }
    // A write fails at the row, anything else at the next flush.
    if (failure == Failure::WriteError || failure == Failure::WouldBlock) {
        eventFails ? log.WriteAlarmRow() : log.WriteCountsRow();
    } else {
        EXPECT_FALSE(log.LogFlush(frameMutex));
    }
    EXPECT_FALSE(log.IsEventLogOpen() || log.IsG821LogOpen() || log.IsFlushDue());
    ASSERT_EQ(notices.size(), 1u);
    const std::string& notice = notices[0];
    EXPECT_TRUE(notice.starts_with("Statistics recording stopped: the " +
                                   std::string(eventFails ? "event log" : "G.821 log") + " \"" +
                                   victim + "\" " + expected))
        << notice;
    const bool rowsAtTheName =
        failure != Failure::Removed && failure != Failure::Replaced && failure != Failure::Moved;
    EXPECT_EQ(notice.find("The rows already recorded are kept.") != std::string::npos,
              rowsAtTheName)
        << notice;
    EXPECT_TRUE(notice.ends_with(" Switch statistics on again to start a new recording."))
        << notice;

    // The survivor ends as "Off" would end it; the failed file keeps what it had, whole rows.
    EXPECT_EQ(test::ReadFile(survivor),
              eventFails ? Rows({kG821Mark, kG821Mark}) : Rows({kEventMark, kEventMark}));
    const std::string victimNow = test::ReadFile(failure == Failure::Moved ? moved : victim);
    EXPECT_EQ(victimNow, failure == Failure::Replaced  ? "another file"
                         : failure == Failure::Removed ? ""
                                                       : recorded);

    // Nothing more is written or told, and a new recording can start.
    io->failWritePath.clear();
    io->failClosePath.clear();
    io->failOpenPath.clear();
    const auto files = Listing();
    log.WriteAlarmRow();
    log.WriteCountsRow();
    log.WriteMarkRows(false);
    EXPECT_FALSE(log.LogFlush(frameMutex));
    log.StatisticsOff();
    EXPECT_EQ(Listing(), files);
    EXPECT_EQ(notices.size(), 1u);
    std::filesystem::remove(victim);
    EXPECT_TRUE(log.StatisticsOn(eventPath));
}

INSTANTIATE_TEST_SUITE_P(
    EachFailureOfEachFile, PairFailsTogether,
    ::testing::Combine(::testing::Values(Failure::WriteError, Failure::WouldBlock,
                                         Failure::CloseError, Failure::ReopenError,
                                         Failure::Removed, Failure::Replaced, Failure::Moved),
                       ::testing::Bool()));

// A file removed under a running recording is found at "Off" as well: no closing row goes to a
// file nobody can read, and the other file still gets its own.
TEST_F(StatisticsLogTest, OffFindsARemovedFile) {
    ASSERT_TRUE(log.StatisticsOn(eventPath));
    std::filesystem::remove(eventPath);
    log.StatisticsOff();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("\"" + eventPath + "\" was removed"), std::string::npos)
        << notices[0];
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

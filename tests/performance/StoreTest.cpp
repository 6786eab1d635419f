// The database: a restart goes on with the interval, the journal survives, a locked or
// damaged file is reported once and left alone, and a killed monitor loses no journal entry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "PerformanceTestSupport.h"
#include "performance/LineMemory.h"

namespace kestrel {
namespace {

using test::NearSecond;

constexpr std::time_t kStart = 1774746000;  // 2026-03-29T01:00:00Z

// What the sqlite3 program finds of the file's integrity, where it is installed.
void ExpectIntact(const std::string& file) {
    for (const std::string& verdict : test::Sqlite(file, "PRAGMA integrity_check")) {
        EXPECT_EQ(verdict, "ok");
    }
}

TEST(Store, RestartContinuesTheIntervalAndKeepsTheJournal) {
    test::ZoneGuard zone("UTC");
    test::TempDir folder;
    const std::string db = folder / "COM1.sqlite";
    std::int64_t firstId = 0;
    {
        LineMemory memory;
        ASSERT_TRUE(memory.Open(db, kStart, nullptr));
        for (int i = 0; i < 100; ++i)
            memory.OnFrameApplied(NearSecond(i >= 40 && i < 45 ? 'D' : '.'), kStart + i);
        firstId = memory.JournalEntries().at(0).id;
        EXPECT_EQ(memory.Acknowledge({firstId}, kStart + 50), 1);
        memory.Close(kStart + 100);
    }
    {
        LineMemory memory;
        ASSERT_TRUE(memory.Open(db, kStart + 130, nullptr));
        for (int i = 130; i < 150; ++i)
            memory.OnFrameApplied(NearSecond(i == 140 ? 'D' : '.'), kStart + i);
        memory.Close(kStart + 150);
    }
    const test::StoredDatabase store(db);
    const auto rows = store.Intervals(BinKind::Quarter, kNearObject, 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].span.start, kStart);
    EXPECT_EQ(rows[0].figures.available, 120);
    EXPECT_EQ(rows[0].figures.es, 6);
    EXPECT_EQ(rows[0].figures.notMeasured, 30);
    const auto journal = store.JournalEntries(0, false);
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].id, firstId);
    EXPECT_EQ(journal[0].Object(), "near:no-signal");
    EXPECT_EQ(journal[0].start, kStart + 40);
    EXPECT_EQ(journal[0].end, kStart + 45);
    EXPECT_EQ(journal[0].acknowledged, kStart + 50);
    EXPECT_GT(journal[1].id, firstId);
    EXPECT_EQ(journal[1].end, kStart + 141);
    EXPECT_EQ(store.JournalEntries(0, true).size(), 1u);
    ExpectIntact(db);
}

// A host without views keeps only the last completed interval in memory once it is stored;
// the database keeps its own count. Without a database memory is all there is, and keeps them.
// Tributaries that count alike are written together, the one that differs on its own.
TEST(Store, MemoryLetsStoredIntervalsGoAndTheDatabaseKeepsItsCount) {
    test::ZoneGuard zone("UTC");
    test::TempDir folder;
    const std::string db = folder / "lean.sqlite";
    LineMemoryOptions options;
    options.retention = {3, 31};
    options.intervalMemory = {1, 1};
    LineMemory stored(options), unstored(options);
    ASSERT_TRUE(stored.Open(db, kStart, nullptr));
    unstored.Start(kStart);
    for (std::time_t t = kStart; t < kStart + 5 * 900 + 10; ++t) {
        FrameSecond frame = NearSecond('.');
        frame.tribCErr = t % 7 == 0 ? 1u << 4 : 0;  // local tributary 5 now and then
        for (LineMemory* m : {&stored, &unstored}) {
            m->OnFrameApplied(frame, t);
            m->Tick(t + 1);
        }
    }
    EXPECT_EQ(stored.Completed(BinKind::Quarter).size(), 1u);
    EXPECT_EQ(stored.Completed(BinKind::Quarter).back().span.start, kStart + 4 * 900);
    EXPECT_EQ(unstored.Completed(BinKind::Quarter).size(), 3u);
    stored.Close(kStart + 5 * 900 + 10);
    const test::StoredDatabase store(db);
    const auto rows = store.Intervals(BinKind::Quarter, kNearObject, 0);
    ASSERT_EQ(rows.size(), 4u);  // three completed and the current one
    EXPECT_EQ(rows[0].span.start, kStart + 2 * 900);
    EXPECT_EQ(rows[2].figures.available, 900);
    const Interval& current = stored.Current(BinKind::Quarter);
    const auto objects = store.Intervals(BinKind::Quarter, std::nullopt, current.span.start);
    ASSERT_EQ(objects.size(), 34u);
    for (const IntervalRow& row : objects)
        EXPECT_EQ(row.figures, current.figures[row.object]) << ObjectName(row.object);
    EXPECT_NE(current.figures[kFirstLocalTribObject + 4], current.figures[kFirstLocalTribObject]);
}

// Whatever name a second monitor comes by, it is refused; so is one beside a monitor of an
// earlier release, which locks only "<name>.lock". Readers that come and go meanwhile must
// not take the first monitor's WAL with them.
TEST(Store, LockedOrDamagedDatabaseIsReportedOnceAndLeftAlone) {
    test::ZoneGuard zone("UTC");
    test::TempDir folder;
    std::filesystem::create_directory(folder / "real");
    const std::string db = folder / "real/COM2.sqlite";
    const std::string earlier = folder / "real/COM8.sqlite";
    LineMemory first;
    ASSERT_TRUE(first.Open(db, kStart, nullptr));
    const int earlierLock = open((earlier + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(earlierLock, LOCK_EX), 0);
    std::filesystem::create_directory_symlink(folder / "real", folder / "linked");
    std::filesystem::create_symlink(db, folder / "alias.sqlite");
    std::filesystem::create_hard_link(db, folder / "hard.sqlite");
    std::filesystem::create_symlink(earlier, folder / "alias8.sqlite");

    for (const std::string& name : {db, folder / "linked/COM2.sqlite", folder / "alias.sqlite",
                                    folder / "hard.sqlite", earlier, folder / "alias8.sqlite"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> problems;
        LineMemory second;
        EXPECT_FALSE(
            second.Open(name, kStart, [&](const std::string& p) { problems.push_back(p); }));
        for (int i = 0; i < 30; ++i) {
            second.OnFrameApplied(NearSecond(i % 2 ? 'D' : '.'), kStart + i);
            second.Tick(kStart + i + 1);
        }
        second.Close(kStart + 30);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find("in use by another monitor"), std::string::npos) << problems[0];
        EXPECT_EQ(second.JournalEntries().size(), 15u);  // monitoring went on in memory
        test::Sqlite(db, "SELECT COUNT(*) FROM journal");
    }
    close(earlierLock);
    // And a monitor of an earlier release is refused beside the first one.
    const int earlierBeside = open((db + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_NE(flock(earlierBeside, LOCK_EX | LOCK_NB), 0);
    close(earlierBeside);
    for (int i = 0; i < 25; ++i) {
        first.OnFrameApplied(NearSecond('.'), kStart + i);
        first.Tick(kStart + i + 1);
    }
    // Stored at least every 10 s, each database in a second of the period of its own; a second
    // closes when the next one's frame comes, so the last is still gathering.
    const int stored = std::stoi(test::Sqlite(
        db, "SELECT available FROM intervals WHERE kind = '15min' AND object = 'near'")
                                     .at(0));
    EXPECT_GE(stored, 24 - 10);
    EXPECT_LE(stored, 24);
    first.Close(kStart + 30);
    ExpectIntact(db);

    std::vector<std::string> problems;
    const std::string damaged = folder / "COM3.sqlite";
    {
        std::ofstream out(damaged, std::ios::binary);
        out << "SQLite format 3" << std::string(4000, '\x5a');
    }
    const std::string before = test::ReadFile(damaged);
    LineMemory third;
    EXPECT_FALSE(third.Open(damaged, kStart, [&](const std::string& p) { problems.push_back(p); }));
    third.OnFrameApplied(NearSecond('D'), kStart);
    third.Close(kStart + 20);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("damaged"), std::string::npos) << problems[0];
    EXPECT_EQ(test::ReadFile(damaged), before);
}

// The child records a second a turn, with a journal change every few seconds, and tells the
// parent after each turn how far it got; the parent kills it in the middle.
TEST(Store, KilledMonitorLosesNoJournalEntryAndAtMostTenSeconds) {
    test::TempDir folder;
    const std::string db = folder / "COM4.sqlite";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        LineMemory memory;
        memory.Open(db, kStart, nullptr);
        for (std::time_t t = kStart;; ++t) {
            memory.OnFrameApplied(NearSecond((t / 3) % 2 ? 'D' : 'e'), t);
            memory.Tick(t + 1);
            const long long report[2] = {static_cast<long long>(t),
                                         static_cast<long long>(memory.JournalEntries().size())};
            if (write(fds[1], report, sizeof report) != static_cast<ssize_t>(sizeof report))
                _exit(1);
        }
    }
    close(fds[1]);
    long long last[2] = {0, 0};
    for (int turns = 0; turns < 700; ++turns)
        ASSERT_EQ(read(fds[0], last, sizeof last), static_cast<ssize_t>(sizeof last));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    for (long long more[2]; read(fds[0], more, sizeof more) == static_cast<ssize_t>(sizeof more);)
        std::copy(more, more + 2, last);
    close(fds[0]);

    const test::StoredDatabase store(db);
    EXPECT_GE(static_cast<long long>(store.JournalEntries(0, false).size()), last[1]);
    std::int64_t seconds = 0;
    for (const IntervalRow& r : store.Intervals(BinKind::Quarter, kNearObject, 0))
        seconds += r.figures.available + r.figures.unavailable;
    EXPECT_GE(seconds, last[0] - kStart - 10);
    EXPECT_LE(seconds, last[0] - kStart + 1);
    ExpectIntact(db);

    // The next monitor opens it, ends the entry left open and goes on.
    LineMemory memory;
    EXPECT_TRUE(memory.Open(db, static_cast<std::time_t>(last[0]) + 60, nullptr));
    for (const JournalEntry& e : memory.JournalEntries())
        EXPECT_TRUE(e.end.has_value()) << e.id;
}

// The database taken from under the monitor. Gone from its name (removed, moved away): told
// once, and a new database there holds all that memory has. Another file at the name
// (replaced, overwritten in place): told once and left as it is until it is removed.
TEST(Store, DatabaseTakenAwayIsToldOnceAndMemoryStoredAgain) {
    namespace fs = std::filesystem;
    test::ZoneGuard zone("UTC");
    const auto removeAll = [](const std::string& db) {
        for (const char* suffix : {"", "-wal", "-shm", ".lock"})
            fs::remove(db + suffix);
    };
    const struct {
        const char* told;
        std::function<void(const std::string&)> takeAway;
        bool strangerLeft;
    } cases[] = {
        {"was removed", removeAll, false},
        {"was removed", [](const std::string& db) { fs::remove(db); }, false},
        {"was moved", [](const std::string& db) { fs::rename(db, db + ".old"); }, false},
        {"was replaced by another file",
         [](const std::string& db) {
             std::ofstream(db + ".new") << "kept";
             fs::rename(db + ".new", db);
         },
         true},
        {"was overwritten by another program",
         [](const std::string& db) { std::ofstream(db) << "kept"; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.told);
        test::TempDir folder;
        const std::string db = folder / "COM6.sqlite";
        std::vector<std::string> problems;
        LineMemory memory;
        ASSERT_TRUE(
            memory.Open(db, kStart - 30, [&](const std::string& p) { problems.push_back(p); }));
        const auto run = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                memory.OnFrameApplied(NearSecond((i + 100) % 20 < 3 ? 'D' : '.'), kStart + i);
                memory.Tick(kStart + i + 1);
            }
        };
        run(-30, 20);  // a completed quarter and the current one, journal entries
        c.takeAway(db);
        run(20, 40);
        if (c.strangerLeft) {
            EXPECT_TRUE(test::ReadFile(db) == "kept") << "written over";
            EXPECT_FALSE(fs::exists(db + "-wal"));  // ours would pass for the other file's
            fs::remove(db);
            run(40, 60);
        }
        memory.Close(kStart + 60);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(c.told), std::string::npos) << problems[0];

        const test::StoredDatabase stored(db);
        EXPECT_EQ(stored.JournalEntries(0, false), memory.JournalEntries());
        for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
            std::deque<Interval> held = memory.Completed(kind);
            held.push_back(memory.Current(kind));
            std::vector<Figures> want, got;
            for (const Interval& i : held)
                want.insert(want.end(), i.figures.begin(), i.figures.end());
            for (const IntervalRow& r : stored.Intervals(kind, std::nullopt, 0))
                got.push_back(r.figures);
            EXPECT_EQ(got, want);
        }
        EXPECT_EQ(test::Sqlite(db, "SELECT COUNT(*) FROM line_state"),
                  std::vector<std::string>{"34"});
        ExpectIntact(db);
    }
}

// A small disk holds an hour of writes beside the database: the WAL is checkpointed every few
// dozen pages and kept small. When the disk fills all the same, the closing write fails, and the
// next start ends what it left open, unseen, at the last second stored.
TEST(Store, SmallDiskHoldsAnHourAndAFailedCloseIsEndedAtTheNextStart) {
    test::TempDir folder;
    std::filesystem::create_directory(folder / "disk");
    const std::string db = folder / "disk/COM7.sqlite";
    const bool mounted = test::OnSmallDisk(folder / "disk", 1 << 20, [&] {
        std::ofstream out(folder / "told");  // beside the small disk, for the test to read
        std::vector<std::string> problems;
        std::uintmax_t walPeak = 0;
        {
            LineMemory memory;
            memory.Open(db, kStart, [&](const std::string& p) { problems.push_back(p); });
            // The near end loses its signal for a minute every quarter and at the end.
            for (int i = 0; i < 3600; ++i) {
                memory.OnFrameApplied(NearSecond(i % 900 < 60 || i >= 3570 ? 'D' : '.'),
                                      kStart + i);
                memory.Tick(kStart + i + 1);
                std::error_code ec;
                const std::uintmax_t wal = std::filesystem::file_size(db + "-wal", ec);
                walPeak = ec ? walPeak : std::max(walPeak, wal);
            }
            out << walPeak << "\nproblems in the hour: " << problems.size() << "\n";
            {
                std::ofstream filler(folder / "disk/filler", std::ios::binary);
                for (const std::string block(4096, 'x'); filler.write(block.data(), 4096);) {
                }
            }
            for (int i = 3600; i < 3630; ++i) {  // the tributaries flap on a full disk
                FrameSecond f = NearSecond('D');
                f.tribCErr = i % 2 ? ~0u : 0u;
                memory.OnFrameApplied(f, kStart + i);
                memory.Tick(kStart + i + 1);
            }
            memory.Close(kStart + 3630);
        }
        for (const std::string& p : problems)
            out << (p.find("the disk is full") != std::string::npos ? "disk full\n" : p);
        std::filesystem::remove(folder / "disk/filler");
        StoredLine left;
        {
            HistoryStore store;
            store.Open(db, nullptr);
            left = store.Load({}, 10000);
        }
        LineMemory memory;
        memory.Open(db, kStart + 4000, nullptr);
        for (const JournalEntry& e : left.journal) {
            if (e.Object() == "near:no-signal" && !e.end) {
                const JournalEntry now = memory.JournalEntries(e.start).at(0);
                out << "near:no-signal left open, ended " << *now.end - left.through
                    << " s after the last second stored" << (now.endedUnseen ? ", unseen" : "")
                    << "\n";
            }
        }
        for (const JournalEntry& e : memory.JournalEntries())
            out << (e.end ? "" : e.Object() + " still open\n");
        memory.Close(kStart + 4000);
        for (const std::string& verdict : test::Sqlite(db, "PRAGMA integrity_check"))
            out << "integrity " << verdict << "\n";
    });
    if (!mounted)
        GTEST_SKIP() << "no file system can be mounted here";
    const std::string told = test::ReadFile(folder / "told");
    const std::size_t peakEnd = told.find('\n');
    RecordProperty("wal_peak_bytes", told.substr(0, peakEnd));
    EXPECT_LT(std::stoull(told.substr(0, peakEnd)), 256u << 10);
    EXPECT_EQ(told.substr(peakEnd + 1),
              "problems in the hour: 0\n"
              "disk full\n"
              "near:no-signal left open, ended 0 s after the last second stored, unseen\n"
              "integrity ok\n");
}

// A database of the first release opens with its rows, and the current intervals go on in it.
TEST(Store, FirstReleaseDatabaseIsMigratedWithItsRows) {
    test::ZoneGuard zone("UTC");
    test::TempDir folder;
    const std::string db = folder / "COM5.sqlite";
    sqlite3* old = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &old), SQLITE_OK);
    const std::string v1 =
        std::string(HistoryMigrationSql(1)) +
        "CREATE TABLE schema_migrations(version INTEGER PRIMARY KEY, applied_utc TEXT NOT NULL,"
        " description TEXT NOT NULL);"
        "INSERT INTO schema_migrations VALUES(1, '2026-03-29T00:00:00Z', 'first');"
        "PRAGMA user_version = 1;"
        "INSERT INTO intervals(kind, object, start_unix, length_s, complete, through_unix,"
        " available, unavailable, not_measured, es, ses, dm, minutes, errors) VALUES"
        " ('15min', 'near', " +
        std::to_string(kStart - 900) + ", 900, 1, " + std::to_string(kStart) +
        ", 800, 50, 50, 3, 2, 1, 13, 40);";
    ASSERT_EQ(sqlite3_exec(old, v1.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(old);

    LineMemory memory;
    ASSERT_TRUE(memory.Open(db, kStart, nullptr));
    for (int i = 0; i < 25; ++i) {
        memory.OnFrameApplied(NearSecond('.'), kStart + i);
        memory.Tick(kStart + i + 1);
    }
    memory.Close(kStart + 25);
    const test::StoredDatabase store(db);
    const auto rows = store.Intervals(BinKind::Quarter, kNearObject, 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].figures, (Figures{800, 50, 50, 3, 2, 1, 13, 40}));
    EXPECT_EQ(rows[1].figures.available, 25);
    EXPECT_EQ(store.Intervals(BinKind::Quarter, std::nullopt, kStart).size(), 34u);
    ExpectIntact(db);
}

TEST(Store, DefaultPathFollowsXdgDataHome) {
    const char* old = getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(DefaultHistoryPath("COM1"), "/data/kestrel/COM1.sqlite");
    EXPECT_EQ(DefaultHistoryPath("/dev/ttyUSB0"), "/data/kestrel/_dev_ttyUSB0.sqlite");
    setenv("XDG_DATA_HOME", "relative", 1);  // a relative one is ignored
    setenv("HOME", getenv("HOME") ? getenv("HOME") : "/root", 1);
    EXPECT_EQ(
        DefaultHistoryPath("mux").find(std::string(getenv("HOME")) + "/.local/share/kestrel/"), 0u);
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace kestrel

// kestrel-replay --performance on generated captures and databases, and kestrel-history's formats.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "PerformanceTestSupport.h"
#include "monitor/FrameWriter.h"
#include "performance/LineMemory.h"
#include "performance/Report.h"
#include "tools/capture/Capture.h"
#include "tools/history/History.h"
#include "tools/history/TimeArgument.h"

namespace kestrel {
namespace {

using test::Lines;

// The seconds of a line from 00:50:00: seconds 100 and 150 bring noise, the second with an
// 'R' that makes the parser fall a frame behind; 200..209 lose the local signal, 300 and 301
// carry far-end errors (20 and 5), 400..401 lose local tributary 3.
std::vector<std::string> Seconds(int count = 1000) {
    std::vector<std::string> seconds;
    for (int p = 0; p < count; ++p) {
        StatusFrame f;
        f.localStatus = (p >= 200 && p < 210) ? kStatusNoInputSignal : 0;
        f.farCount = p == 300 ? 20 : p == 301 ? 5 : 0;
        f.SetTributary(2, p == 400 || p == 401, false);
        seconds.push_back(p == 100   ? std::string(45, ' ')
                          : p == 150 ? std::string(20, ' ') + 'R' + std::string(24, ' ')
                                     : WriteFrame(f));
    }
    return seconds;
}

// The same line as a plain byte stream or a timed capture, where the noisy seconds are silent.
std::string Capture(bool timed, int count = 1000) {
    std::string out = timed ? CaptureHeader() : std::string();
    int p = 0;
    for (const std::string& second : Seconds(count)) {
        if (timed)
            AppendCaptureSecond(out, p == 100 || p == 150 ? std::string() : second);
        else
            out += second;
        ++p;
    }
    return out;
}

// How a tool ended and what it wrote.
struct ToolRun {
    int status = -1;
    std::string out, err;
};

// kestrel-replay with these arguments, in UTC so that days are the same everywhere.
ToolRun RunReplay(const std::string& args) {
    test::TempDir dir;
    const std::string command = std::string("TZ=UTC ") + KESTREL_REPLAY_EXE + " " + args + " >" +
                                (dir / "out") + " 2>" + (dir / "err");
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadFile(dir / "out"),
            test::ReadFile(dir / "err")};
}

class ReplayForms : public ::testing::TestWithParam<bool> {};

// Each frame counts in the second its last character came in, whatever the parser's passes:
// the frame of second 151 is decoded a call late and still measured there, nothing after the
// noise moves, and the alarm starts at second 200.
TEST_P(ReplayForms, CompletedIntervalsThenJournal) {
    test::TempDir folder;
    const std::string file = folder / "capture.bin";
    std::ofstream(file, std::ios::binary) << Capture(GetParam());
    const ToolRun run = RunReplay("--performance --start 2026-03-29T00:50:00Z " + file);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 36u) << run.out;  // one completed interval, two journal entries
    const std::string head = R"({"object":"near","start":"2026-03-29T00:45:00Z",)";
    EXPECT_EQ(lines[0], head + R"("available":588,"unavailable":10,"notMeasured":302,)"
                               R"("es":0,"ses":0,"dm":0,"errors":0})");
    EXPECT_EQ(lines[1], R"({"object":"far","start":"2026-03-29T00:45:00Z","available":598,)"
                        R"("unavailable":0,"notMeasured":302,"es":2,"ses":1,"dm":1,"errors":25})");
    EXPECT_EQ(lines[4], R"({"object":"local-trib-3","start":"2026-03-29T00:45:00Z",)"
                        R"("available":598,"unavailable":0,"notMeasured":302,"es":2,"ses":2,)"
                        R"("dm":null,"errors":null})");
    // The far end and the local tributaries are measured under the local loss of signal, the
    // remote tributaries are not.
    EXPECT_NE(lines[18].find(R"("object":"remote-trib-1")"), std::string::npos);
    EXPECT_NE(lines[18].find(R"("notMeasured":312)"), std::string::npos);
    EXPECT_EQ(lines[34], R"({"object":"near:no-signal","severity":"critical",)"
                         R"("start":"2026-03-29T00:53:20Z","end":"2026-03-29T00:53:30Z"})");
    EXPECT_EQ(lines[35], R"({"object":"local-trib-3:no-signal","severity":"major",)"
                         R"("start":"2026-03-29T00:56:40Z","end":"2026-03-29T00:56:42Z"})");
}

INSTANTIATE_TEST_SUITE_P(PlainAndTimed, ReplayForms, ::testing::Bool());

TEST(IsoTime, OnlyDatesThatExistFrom1970To2200) {
    const std::pair<const char*, std::optional<std::time_t>> cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2024-02-29T12:00:00Z", 1709208000},
        {"2026-03-29T02:00+01:00", 1774746000},
        {"2200-12-31T23:59:59Z", 7289654399},
        {"0000-01-01T00:00:00Z", std::nullopt},
        {"1900-01-01T00:00:00Z", std::nullopt},
        {"1970-01-01T00:30:00+01:00", std::nullopt},
        {"2201-01-01T00:00:00Z", std::nullopt},
        {"2026-02-30T00:00:00Z", std::nullopt},
        {"2025-02-29T00:00:00Z", std::nullopt},
        {"2100-02-29T00:00:00Z", std::nullopt},
        {"2026-04-31T00:00:00Z", std::nullopt},
        {"2026-03-29T23:59:60Z", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseIsoTime(text), expected) << text;
}

// Times as an operator types them, in a zone with daylight saving (without the zone files):
// the clocks go forward on 29 March 2026 at 02:00 and back on 25 October at 03:00.
TEST(TimeArgument, LocalRelativeAndIsoTimesAndWhatDoesNotExist) {
    test::ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::time_t now = *ParseIsoTime("2026-03-29T10:00:00Z");  // 12:00 local
    struct Case {
        const char* text;
        const char* utc;    // the time, or
        const char* error;  // what the refusal says
    };
    const Case cases[] = {
        {"2026-03-29T00:45:00Z", "2026-03-29T00:45:00Z", nullptr},
        {"2026-03-29T06:00+02:00", "2026-03-29T04:00:00Z", nullptr},
        {"2026-03-29", "2026-03-28T23:00:00Z", nullptr},
        {"2026-03-29 06:00", "2026-03-29T04:00:00Z", nullptr},
        {"2026-03-29T01:59:59", "2026-03-29T00:59:59Z", nullptr},
        {"2026-10-25 03:00", "2026-10-25T02:00:00Z", nullptr},
        {"06:00", "2026-03-29T04:00:00Z", nullptr},
        {"now", "2026-03-29T10:00:00Z", nullptr},
        {"today", "2026-03-28T23:00:00Z", nullptr},
        {"yesterday", "2026-03-27T23:00:00Z", nullptr},
        {"tomorrow", "2026-03-29T22:00:00Z", nullptr},
        {"-2h", "2026-03-29T08:00:00Z", nullptr},
        {"-30min", "2026-03-29T09:30:00Z", nullptr},
        {"-1d", "2026-03-28T10:00:00Z", nullptr},
        {"+1h 30min", "2026-03-29T11:30:00Z", nullptr},
        {"2 days ago", "2026-03-27T10:00:00Z", nullptr},
        {"2026-02-30", nullptr, "'2026-02-30' is not a date"},
        {"2026-03-29 02:30", nullptr, "does not exist in local time: the clocks went forward"},
        {"2026-10-25 02:30", nullptr,
         "happens twice in local time; say which: 2026-10-25T02:30:00+02:00 or "
         "2026-10-25T02:30:00+01:00"},
        {"2026-03-29 24:00", nullptr, "is not a time of day"},
        {"23:59:60", nullptr, "is not a time of day"},
        {"1969-12-31", nullptr, "outside 1970 to 2200"},
        {"2201-01-01T00:00:00Z", nullptr, "outside 1970 to 2200"},
        {"-100000d", nullptr, "outside 1970 to 2200"},
        {"2026-03-29T06:00+25:00", nullptr, "not a time with a zone"},
        {"last week", nullptr, "is not a time: give a date"},
        {"-2 fortnights", nullptr, "is not a time"},
        {"", nullptr, "is not a time"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto t = ParseTimeArgument(c.text, now, error);
        if (c.utc) {
            ASSERT_TRUE(t) << c.text << ": " << error;
            EXPECT_EQ(IsoUtc(*t), c.utc) << c.text;
        } else {
            EXPECT_FALSE(t) << c.text;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
        }
    }
}

TEST(ReplayPerformance, CommandLineRefusals) {
    test::TempDir folder;
    const std::string plain = folder / "plain.bin", timed = folder / "timed.cap";
    std::ofstream(plain, std::ios::binary) << Capture(false, 50);
    std::ofstream(timed, std::ios::binary) << Capture(true, 50);
    std::ofstream(folder / "cut.cap", std::ios::binary) << Capture(true, 50).substr(0, 500);
    const std::string start = " --performance --start 2026-03-29T00:50:00Z ";
    const std::pair<std::string, const char*> cases[] = {
        {start + "--chunk 45 " + plain, ""},
        {start + "--chunk 320 " + plain, "--chunk 320"},
        {start + "--replace " + plain, "--replace goes with --db"},
        {start + (folder / "cut.cap"), "damaged capture at byte 459 (second 10)"},
        {"--performance --start 2026-02-30T00:00:00Z " + plain, "'2026-02-30T00:00:00Z'"},
        {"--performance --start 1900-01-01T00:00:00Z " + plain, "from 1970 to 2200"},
        {"--performance --start 2199-01-01T00:00:00Z " + plain, "is later than now"},
        {"--chunk 45 " + timed, "--chunk is for plain byte captures"},
        {"--interval 7 " + plain, "(see --help)"},
        {"/nonexistent/capture.bin", "cannot open '/nonexistent/capture.bin'"},
        {"/", "cannot read '/': Is a directory"},
    };
    for (const auto& [args, message] : cases) {
        const ToolRun run = RunReplay(args);
        EXPECT_EQ(run.status, *message ? 2 : 0) << args << '\n' << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << args << '\n' << run.err;
    }
    // Without --performance a timed capture is decoded one call per second.
    EXPECT_EQ(Lines(RunReplay(timed).out).size(), 50u);
}

// What a database holds, as the history tool would print it.
std::string Stored(const std::string& db) {
    const test::StoredDatabase store(db);
    std::string text;
    for (BinKind kind : {BinKind::Quarter, BinKind::Day}) {
        for (const IntervalRow& row : store.Intervals(kind, std::nullopt, 0))
            text += IntervalJson(row.object, row.span.start, row.figures) + '\n';
    }
    for (const JournalEntry& e : store.JournalEntries(0, false))
        text += JournalJson(e, true) + '\n';
    return text;
}

TEST(ReplayPerformance, SecondsTheDatabaseHoldsAreReplacedOnlyWhenAsked) {
    test::TempDir folder;
    const std::string file = folder / "capture.cap", db = folder / "line.sqlite";
    std::ofstream(file, std::ios::binary) << Capture(true);
    auto replay = [&](const char* start, const char* more) {
        return RunReplay(std::string("--performance --start ") + start + " --db " + db + more +
                         " " + file);
    };
    ASSERT_EQ(replay("2026-03-29T00:50:00Z", "").status, 0);
    const std::string once = Stored(db);

    const ToolRun again = replay("2026-03-29T00:50:00Z", "");
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("already holds the seconds from 2026-03-29T00:50:00Z to "
                             "2026-03-29T01:06:40Z"),
              std::string::npos)
        << again.err;
    EXPECT_EQ(Stored(db), once);
    EXPECT_EQ(replay("2026-03-29T00:50:00Z", " --replace").status, 0);
    EXPECT_EQ(Stored(db), once);  // nothing counted twice

    // Over part of a stored quarter: its seconds before the start cannot be kept apart.
    const ToolRun later = replay("2026-03-29T00:58:20Z", " --replace");
    EXPECT_EQ(later.status, 0) << later.err;
    EXPECT_NE(later.err.find("from 2026-03-29T00:45:00Z held at least 498 measured seconds"),
              std::string::npos)
        << later.err;
    // The day goes back to where the quarter began, so it still adds up to its quarters.
    const test::StoredDatabase store(db);
    for (int o = 0; o < kObjectCount; ++o) {
        Figures sum;
        for (const IntervalRow& q : store.Intervals(BinKind::Quarter, o, 0)) {
            for (auto field :
                 {&Figures::available, &Figures::unavailable, &Figures::notMeasured, &Figures::es,
                  &Figures::ses, &Figures::dm, &Figures::minutes, &Figures::errors})
                sum.*field += q.figures.*field;
        }
        const auto days = store.Intervals(BinKind::Day, o, 0);
        ASSERT_EQ(days.size(), 1u);
        sum.notMeasured += 45 * 60;  // the day's first 45 minutes have no quarter of their own
        EXPECT_EQ(days[0].figures, sum) << ObjectName(o);
    }
    // Before what the database holds, nothing can be written, replaced or not.
    const ToolRun before = replay("2026-03-29T00:30:00Z", " --replace");
    EXPECT_EQ(before.status, 2);
    EXPECT_NE(before.err.find("beyond the capture's end at 2026-03-29T00:46:40Z"),
              std::string::npos)
        << before.err;
}

// kestrel-history with these arguments, at 01:00:30 UTC of the line below unless told.
ToolRun RunTool(std::vector<std::string> args, std::time_t now = 1774746030) {
    args.insert(args.begin(), "kestrel-history");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    std::ostringstream out, err;
    const int status = RunHistory(static_cast<int>(argv.size()), argv.data(), out, err, now);
    return {status, out.str(), err.str()};
}

struct HistoryCase {
    std::vector<std::string> args;
    std::vector<std::string> expected;  // the first lines of the output
    std::size_t lines = 0;              // all of them, when the case counts them
};

// A line's database that a running monitor holds: its journal has entries 1 (remote-trib-1
// code errors), 2 (far AIS, ended unseen), 3 (no data), 4 (far LOF, open and unknown),
// 5 (clock step) and 6 (port closed, open).
class HistoryDatabase : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::ZoneGuard zone("UTC");
        folder = new test::TempDir;
        LineMemory memory;
        const std::time_t start = *ParseIsoTime("2026-03-29T00:59:50Z");
        memory.Open((*folder) / "line.sqlite", start, nullptr);
        // Ten severely errored seconds (unavailable) end the 00:45 quarter. The far end's
        // AIS goes while no data comes (20, 21): it ended unseen. Its LOF is on when the port
        // closes at 30, left unknown in a database a running monitor holds.
        for (int i = 0; i < 30; ++i) {
            if (i == 20)
                memory.OnLinkState(LineCondition::NoData, start + i);
            if (i == 20 || i == 21)
                continue;
            if (i == 22)
                memory.OnLinkState(LineCondition::Up, start + i);
            FrameSecond f = test::NearSecond(i < 10 ? 'S' : '.');
            f.tribCErr = i == 5 ? 1u << 16 : 0u;
            f.alarms = i == 18 || i == 19 ? 0x20 : i >= 27 ? 0x40 : 0;
            f.farDefect = f.alarms != 0;
            memory.OnFrameApplied(f, start + i);
            if (i == 28)
                memory.NoteEvent(kClockStepState, start + i, "clock stepped back 60 s");
        }
        memory.OnLinkState(LineCondition::PortClosed, start + 30);
        memory.Finish(start + 30);
    }
    static void TearDownTestSuite() { delete folder; }
    static test::TempDir* folder;
};
test::TempDir* HistoryDatabase::folder = nullptr;

class HistoryFormats : public HistoryDatabase, public ::testing::WithParamInterface<HistoryCase> {};

TEST_P(HistoryFormats, PrintsTheStoredRows) {
    test::ZoneGuard zone("UTC");
    std::vector<std::string> args{"--db", (*folder) / "line.sqlite"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_GE(lines.size(), GetParam().expected.size()) << run.out;
    if (GetParam().lines > 0) {
        EXPECT_EQ(lines.size(), GetParam().lines) << run.out;
    }
    for (std::size_t i = 0; i < GetParam().expected.size(); ++i)
        EXPECT_EQ(lines[i], GetParam().expected[i]);
}

// The fields at these columns (their order is checked with the header in HistoryFormats) of
// each CSV line but the header, joined by '@'.
std::string Keys(const std::string& csv, const std::vector<std::size_t>& columns) {
    const auto lines = Lines(csv);
    std::string keys;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields;
        std::istringstream in(lines[i]);
        for (std::string f; std::getline(in, f, ',');)
            fields.push_back(f);
        for (std::size_t c = 0; c < columns.size(); ++c)
            keys.append(c > 0 ? "@" : keys.empty() ? "" : " ").append(fields.at(columns[c]));
    }
    return keys;
}

TEST_F(HistoryDatabase, FiltersTakeWhatIsAskedNewestLast) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"journal", "--severity", "major"}, "2 4"},
        {{"journal", "--severity", "critical"}, ""},
        {{"journal", "--severity", "minor..minor"}, "1 3 5 6"},
        {{"journal", "--object", "far"}, "2 4"},
        {{"journal", "--object", "far:lof"}, "4"},
        {{"journal", "--object", "link:*", "--object", "remote-trib-?"}, "1 3 6"},
        {{"journal", "--active"}, "4 6"},
        {{"journal", "--active", "--severity=major"}, "4"},
        {{"journal", "-n", "2"}, "5 6"},
        {{"journal", "-n2", "--reverse"}, "6 5"},
        {{"journal", "--lines=3", "--object", "far"}, "2 4"},
        {{"journal", "--reverse", "--until", "01:00:10"}, "2 1"},
        // Local and relative times: what was active in the half minute before 01:00:30 and
        // began before 01:00:10.
        {{"journal", "--since=-30s", "--until", "2026-03-29 01:00:10"}, "2"},
        {{"intervals", "--until", "01:00", "--object", "far"}, "far@2026-03-29T00:45:00Z"},
        {{"intervals", "--object", "*-trib-1", "-n", "2", "--reverse"},
         "remote-trib-1@2026-03-29T01:00:00Z local-trib-1@2026-03-29T01:00:00Z"},
        {{"intervals", "--object", "near", "--object", "far", "--since", "01:00"},
         "near@2026-03-29T01:00:00Z far@2026-03-29T01:00:00Z"},
    };
    test::ZoneGuard zone("UTC");
    for (const auto& [args, expected] : cases) {
        std::vector<std::string> all{"--db", (*folder) / "line.sqlite", "--format", "csv"};
        all.insert(all.end(), args.begin(), args.end());
        const ToolRun run = RunTool(all);
        EXPECT_EQ(run.status, 0) << run.err;
        // The object and start_utc of intervals, the id of journal entries.
        const auto columns = args[0] == "intervals" ? std::vector<std::size_t>{1, 3}
                                                    : std::vector<std::size_t>{0};
        EXPECT_EQ(Keys(run.out, columns), expected) << args[1] << ' ' << args[2];
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Formats, HistoryFormats, ::testing::Values(
    // Keys are the database's columns. Shares of time are of the elapsed time and add up to
    // 100 %: the quarter's ten unavailable seconds are 1.11 % of it, not all of the 10 s
    // measured. A tributary has no figures of the line ends.
    HistoryCase{{"intervals", "--object", "near", "--format", "json"},
        {R"({"kind":"15min","object":"near","start_unix":1774745100,)"
         R"("start_utc":"2026-03-29T00:45:00Z","length_s":900,"complete":true,)"
         R"("through_unix":1774746000,"available":0,"unavailable":10,"not_measured":890,"es":0,)"
         R"("ses":0,"dm":0,"minutes":0,"errors":160,"available_percent":0.00,)"
         R"("unavailable_percent":1.11,"not_measured_percent":98.89,"es_percent":null,)"
         R"("ses_percent":null,"dm_percent":null})"}},
    HistoryCase{{"intervals", "--since", "2026-03-29T01:00:00Z", "--object=remote-trib-1",
                 "--format", "csv"},
        {"kind,object,start_unix,start_utc,length_s,complete,through_unix,available,"
         "unavailable,not_measured,es,ses,dm,minutes,errors,available_percent,"
         "unavailable_percent,not_measured_percent,es_percent,ses_percent,dm_percent",
         "15min,remote-trib-1,1774746000,2026-03-29T01:00:00Z,900,0,1774746020,18,0,2,0,0,,,,"
         "90.00,0.00,10.00,0.00,0.00,"}, 2},
    HistoryCase{{"intervals", "--24h", "--object", "near"},
        {"object        start (UTC)           avail unavail not meas    ES   SES   DM   errors"
         "     UAS%      ES%     SES%      DM%   avail% not meas%",
         "near          2026-03-29T00:00:00Z*    18      10     3592     0     0    0      160"
         "   0.28%    0.00%    0.00%        -    0.50%    99.23% "}},
    // One on when the port closed is unknown since; a clock step says what it was.
    HistoryCase{{"journal", "--object", "far:lof", "--object", "clock:*", "--format", "json"},
        {R"({"id":4,"object":"far:lof","severity":"major","start_unix":1774746017,)"
         R"("start_utc":"2026-03-29T01:00:17Z","end_unix":null,"end_utc":null,)"
         R"("acknowledged_unix":null,"acknowledged_utc":null,"unknown_since_unix":1774746020,)"
         R"("unknown_since_utc":"2026-03-29T01:00:20Z","ended_unseen":false,"note":null})",
         R"({"id":5,"object":"clock:step","severity":"minor","start_unix":1774746018,)"
         R"("start_utc":"2026-03-29T01:00:18Z","end_unix":1774746018,)"
         R"("end_utc":"2026-03-29T01:00:18Z","acknowledged_unix":null,"acknowledged_utc":null,)"
         R"("unknown_since_unix":null,"unknown_since_utc":null,"ended_unseen":false,)"
         R"("note":"clock stepped back 60 s"})"}, 2},
    // An alarm that went while no data came ended unseen.
    HistoryCase{{"journal", "--unacknowledged", "--format", "csv"},
        {"id,object,severity,start_unix,start_utc,end_unix,end_utc,acknowledged_unix,"
         "acknowledged_utc,unknown_since_unix,unknown_since_utc,ended_unseen,note",
         "1,remote-trib-1:code-errors,minor,1774745995,2026-03-29T00:59:55Z,1774745996,"
         "2026-03-29T00:59:56Z,,,,,0,",
         "2,far:ais,major,1774746008,2026-03-29T01:00:08Z,1774746010,2026-03-29T01:00:10Z,,,,,"
         "1,"}},
    HistoryCase{{"journal", "--since", "2026-03-29T01:00:05Z"},
        {"     id  object                     severity start (UTC)          end (UTC)            "
         "acknowledged         unknown since (UTC)  note",
         "      2  far:ais                    major    2026-03-29T01:00:08Z 2026-03-29T01:00:10Z "
         "no                   -                    ended unseen, at or after the end shown",
         "      3  link:no-data               minor    2026-03-29T01:00:10Z 2026-03-29T01:00:12Z "
         "no                   -",
         "      4  far:lof                    major    2026-03-29T01:00:17Z (unknown)            "
         "no                   2026-03-29T01:00:20Z"}}));
// clang-format on

// A line whose far end flaps: far AIS entries 1, 2, 3, 5 and 6 begin every other second from
// `start`; near LOF (entry 4, critical) holds for its sixth second.
void Flap(LineMemory& memory, std::time_t start, int seconds) {
    for (int i = 0; i < seconds; ++i) {
        FrameSecond f = test::NearSecond('.');
        f.alarms = (i % 2 == 0 ? 0x20 : 0) | (i == 5 ? 0x04 : 0);
        memory.OnFrameApplied(f, start + i);
        memory.Tick(start + i + 1);
    }
}

TEST(HistoryAck, AcknowledgesByIdOrAllThatNobodyHas) {
    test::TempDir folder;
    const std::string db = folder / "line.sqlite";
    const std::time_t start = *ParseIsoTime("2026-03-29T01:00:00Z");
    {
        LineMemory memory;
        memory.Open(db, start, nullptr);
        Flap(memory, start, 10);
        memory.Close(start + 10);
    }
    struct Step {
        std::vector<std::string> args;
        int status;
        const char* out;
        const char* err;             // a part of what is told, or nothing
        const char* unacknowledged;  // ids after it
    };
    const Step steps[] = {
        {{"1", "2"}, 0, "acknowledged 2 entries\n", "", "3 4 5 6"},
        {{"2", "99"},
         1,
         "acknowledged 0 entries\n",
         "entry 2 was acknowledged at 2026-03-29T01:01:40Z\nkestrel-history: no entry 99 in the "
         "journal",
         "3 4 5 6"},
        {{"--all", "--severity", "critical"}, 0, "acknowledged 1 entry\n", "", "3 5 6"},
        {{"--all", "--before", "2026-03-29T01:00:06Z"}, 0, "acknowledged 1 entry\n", "", "5 6"},
        {{"--all", "--object", "far"}, 0, "acknowledged 2 entries\n", "", ""},
    };
    for (const Step& step : steps) {
        std::vector<std::string> args{"--db", db, "ack"};
        args.insert(args.end(), step.args.begin(), step.args.end());
        const ToolRun run = RunTool(args, start + 100);
        EXPECT_EQ(run.status, step.status) << step.args[0];
        EXPECT_EQ(run.out, step.out) << step.args[0];
        EXPECT_NE(run.err.find(step.err), std::string::npos) << run.err;
        const ToolRun left = RunTool({"--db", db, "journal", "--unacknowledged", "--format=csv"});
        EXPECT_EQ(Keys(left.out, {0}), step.unacknowledged) << step.args[0];
    }
}

// The acknowledgements a database holds, by id.
std::map<std::int64_t, std::optional<std::time_t>> StoredAcknowledgements(const std::string& db) {
    const test::StoredDatabase store(db);
    std::map<std::int64_t, std::optional<std::time_t>> acknowledged;
    for (const JournalEntry& e : store.JournalEntries(0, false))
        acknowledged[e.id] = e.acknowledged;
    return acknowledged;
}

// A headless monitor keeps its journal in memory and rewrites the entries that change: an
// acknowledgement the tool stored stays when the monitor writes the entry again, and its
// memory (the window) has it at the next tick.
TEST(HistoryAck, StaysThroughTheMonitorsWritesAndReachesItsMemory) {
    test::TempDir folder;
    const std::string db = folder / "line.sqlite";
    const std::time_t start = *ParseIsoTime("2026-03-29T01:00:00Z");
    std::vector<std::string> problems;
    LineMemory memory;
    memory.Open(db, start, [&](const std::string& p) { problems.push_back(p); });
    Flap(memory, start, 1);  // far AIS on: entry 1
    EXPECT_EQ(RunTool({"--db", db, "ack", "1"}, start + 5).out, "acknowledged 1 entry\n");
    // Written again before a tick: the line is lost, so the entry is unknown from now.
    memory.OnLinkState(LineCondition::NoData, start + 6);
    EXPECT_EQ(StoredAcknowledgements(db)[1], start + 5);
    EXPECT_FALSE(memory.JournalInMemory().front().acknowledged);
    memory.Tick(start + 7);
    EXPECT_EQ(memory.JournalInMemory().front().acknowledged, start + 5);

    // The tool acknowledges all, again and again, while the line flaps and the monitor
    // writes each second; between them the tool runs at least once every ten seconds.
    std::atomic<int> runs{0};
    std::atomic<bool> done{false};
    std::atomic<int> told{0};  // entries the tool says it acknowledged
    std::thread tool([&] {
        while (!done.load()) {
            const ToolRun run =
                RunTool({"--db", db, "ack", "--all"}, start + 1000 + runs.load());
            told += std::atoi(run.out.c_str() + std::strlen("acknowledged "));
            ++runs;
        }
    });
    for (int block = 0; block < 30; ++block) {
        const int before = runs.load();
        Flap(memory, start + 10 + 10 * block, 10);
        while (runs.load() == before)
            std::this_thread::yield();
    }
    done = true;
    tool.join();
    memory.Tick(start + 400);
    const auto stored = StoredAcknowledgements(db);
    // Not one acknowledgement was undone: each the tool told of is there, and none twice.
    int acknowledged = 0;
    for (const auto& [id, at] : stored)
        acknowledged += at && *at >= start + 1000 ? 1 : 0;
    EXPECT_EQ(acknowledged, told.load());
    EXPECT_GT(told.load(), 100);
    for (const JournalEntry& e : memory.JournalInMemory())
        EXPECT_EQ(e.acknowledged, stored.at(e.id)) << e.id;
    EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(History, RejectsWhatItCannotRead) {
    test::ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::pair<std::vector<std::string>, const char*> usage[] = {
        {{"intervals", "--object", "trib-99"}, "unknown object 'trib-99'"},
        {{"journal", "--since", "2026-02-30"}, "--since: '2026-02-30' is not a date"},
        {{"journal", "--until", "2026-03-29 02:30"}, "--until: '2026-03-29 02:30' does not"},
        {{"intervals", "--since", "-1h", "--until", "-2h"}, "must be later than --since"},
        {{"journal", "--object", "near:xx"}, "unknown object 'near:xx'"},
        {{"journal", "--severity", "warning"}, "--severity must be minor, major or critical"},
        {{"intervals", "--severity", "major"}, "--severity does not go with intervals"},
        {{"journal", "--24h"}, "--24h does not go with journal"},
        {{"journal", "-n", "ten"}, "--lines must be a number of lines, not 'ten'"},
        {{"ack"}, "say which entries to acknowledge: their ids, or --all"},
        {{"ack", "1", "--all"}, "ack takes ids or --all, not both"},
        {{"ack", "--before", "-1h", "3"}, "--before goes with ack --all"},
        {{"ack", "x"}, "a journal entry is named by its id, a number, not 'x'"},
        {{"ack", "--all", "--format", "csv"}, "--format does not go with ack"},
        {{"journal", "--all"}, "--all does not go with journal"},
    };
    for (const auto& [args, message] : usage) {
        const ToolRun run = RunTool(args);
        EXPECT_EQ(run.status, 2) << args[1];
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    // Only a database file is handed to SQLite, which would wait for a FIFO's writer.
    test::TempDir folder;
    ASSERT_EQ(mkfifo((folder / "fifo.sqlite").c_str(), 0600), 0);
    const std::pair<std::string, const char*> databases[] = {
        {"/nonexistent/x.sqlite", "cannot be read: No such file or directory"},
        {folder / "fifo.sqlite", "is a FIFO, not a file"},
        {"/dev/zero", "is a character device, not a file"},
        {folder.path.string(), "is a folder, not a file"},
    };
    for (const auto& [db, why] : databases) {
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"intervals"}, {"ack", "--all"}}) {
            std::vector<std::string> args{"--db=" + db};
            args.insert(args.end(), command.begin(), command.end());
            const ToolRun run = RunTool(args);
            EXPECT_EQ(run.status, 1) << db;
            EXPECT_EQ(run.err, "kestrel-history: " + db + ": " + why + "\n");
        }
    }
}

}  // namespace
}  // namespace kestrel

// kestrel-headless as a real process against real simulators on pseudo-terminals.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QFile>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <thread>

#include "HeadlessFixture.h"

namespace kestrel::e2e {
namespace {

constexpr const char* kAlarmScript =
    "silence 1\n"
    "# four seconds' worth of local AIS with errors at both ends, then quiet\n"
    "20 0003 00 00 00 00 00 0004 00 00 00 00 repeat 8\n"
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 1000\n";

// A line memory as sqlite3 finds it: the integrity verdict, the alarm entries as "object
// start end" (end -1 while open), the near end's measured seconds and how far they go.
struct StoredMemory {
    std::string integrity;
    std::vector<std::array<long long, 2>> times;
    std::vector<std::string> objects;
    long long measured = 0;
    long long through = 0;
};

StoredMemory ReadMemory(const std::string& db, std::time_t since) {
    StoredMemory m;
    for (const std::string& row : test::Sqlite(db, "PRAGMA integrity_check")) {
        m.integrity += row;
    }
    for (const std::string& row :
         test::Sqlite(db,
                      "SELECT object, start_unix, COALESCE(end_unix, -1) FROM journal "
                      "WHERE object NOT LIKE 'link:%' ORDER BY id")) {
        std::array<long long, 2> times{};
        std::istringstream(row) >> m.objects.emplace_back() >> times[0] >> times[1];
        m.times.push_back(times);
    }
    for (const std::string& row :
         test::Sqlite(db,
                      "SELECT SUM(available + unavailable), MAX(through_unix) FROM intervals "
                      "WHERE kind = '15min' AND object = 'near' AND start_unix > " +
                          std::to_string(since - 900))) {
        std::istringstream(row) >> m.measured >> m.through;
    }
    return m;
}

// Two MUXes in one process, recording until SIGTERM. A picture is written when what it shows
// changes: the elapsed time, the moving star and the frame count alone leave south's file as it
// is while north's alarm comes and goes; the closing picture has them all the same.
TEST_F(HeadlessEndToEnd, TwoMuxesRecordUntilSigtermAndAQuietPictureStays) {
    ASSERT_TRUE(a.StartScript(dirA, kAlarmScript, 2) && a.Pause()) << a.Stderr();
    ASSERT_TRUE(b.StartScript(dirB, kQuietScript, 4) && b.Pause()) << b.Stderr();
    ASSERT_TRUE(StartHeadless("[mux/north]\ndevice=" + a.Path() + "\nrecord=" + Path("north.csv") +
                              "\n\n[mux/south]\ndevice=" + b.Path() +
                              "\nrecord=" + Path("south.csv") + "\n"));
    // The frames the test reasons about come once both MUXes count as connected.
    ASSERT_TRUE(WaitFor("north", Connected, 8s));
    ASSERT_TRUE(WaitFor("south", Connected, 4s));
    // A line that sends nothing is told as such, though nothing changed since the start.
    ASSERT_FALSE(WaitForLog(std::regex("(north: No Data)")).empty()) << Log();
    ASSERT_TRUE(a.Resume() && b.Resume());
    ASSERT_TRUE(WaitFor(
        "north", [](const QJsonObject& s) { return AlarmLed(s, 1125) == u"y"; }, 6s));
    ASSERT_TRUE(WaitFor(
        "south", [](const QJsonObject& s) { return Pane(s, "data") != u"No Data"; }, 4s));
    std::this_thread::sleep_for(1500ms);
    // Each picture written has a sequence number of its own: the same text is the same write.
    const std::string shown = ReadFile(Path("south.json"));
    const long long frames = FrameCount(*Status("south"));
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(ReadFile(Path("south.json")), shown);
    ASSERT_FALSE(WaitForLog(std::regex("(north: alarm local AIS off)"), 10s).empty()) << Log();
    Stop();
    EXPECT_GE(FrameCount(*Status("south")), frames + 12);
    for (const char* name : {"north", "south"}) {
        const auto last = Status(name);
        ASSERT_TRUE(last) << name;
        EXPECT_TRUE((*last)[QStringLiteral("closed")].toBool()) << name;
        EXPECT_FALSE((*last)[QStringLiteral("statistics")].toBool()) << name;
    }
    const std::string log = Log();
    for (const char* line :
         {"north: MUX CONNECTED\n", "south: MUX CONNECTED\n", "north: alarm local AIS on\n",
          "north: alarm local AIS off\n", "north: statistics off\n", "south: statistics off\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    }
    EXPECT_EQ(log.find("south: alarm"), std::string::npos) << log;

    // Every alarm frame counted: eight local alarm seconds, 8 x 3 near and 8 x 4 far errors.
    ExpectRecording(Path("north.csv"), ",,,(AIS )?,{7}", ",,8,24,0,32");
    ExpectRecording(Path("south.csv"), ",{10}", nullptr);
}

TEST_F(HeadlessEndToEnd, RestartedSimulatorIsFoundAgainWhileTheOtherGoesOn) {
    const std::string link = Path("north-line");
    const std::vector<std::string> simArgs{"--scenario", "quiet", "--rate", "4", "--link", link};
    ASSERT_TRUE(a.Start(dirA, simArgs)) << a.Stderr();
    ASSERT_TRUE(b.Start(dirB, {"--scenario", "quiet", "--rate", "4"})) << b.Stderr();
    ASSERT_TRUE(
        StartHeadless("[mux/north]\ndevice=" + link + "\n[mux/south]\ndevice=" + b.Path() + "\n"));
    ASSERT_TRUE(WaitFor("north", Connected, 8s));
    ASSERT_TRUE(WaitFor("south", Connected, 4s));

    // Unplugged: the link reconnects while the port stays meant to be open.
    a.child.Kill();
    ASSERT_TRUE(WaitFor(
        "north", [](const QJsonObject& s) { return Link(s) == u"reconnecting"; }, 5s));
    EXPECT_EQ(Pane(*Status("north"), "port"), u"PORT: OPENED");
    const long long southBefore = FrameCount(*Status("south"));
    const long long northBefore = FrameCount(*Status("north"));
    // Plugged in again at the same path: open within 3 s of the device being back, and the
    // frames counted again (the closing picture has the count).
    ASSERT_TRUE(a.Start(dirA, simArgs)) << a.Stderr();
    ASSERT_TRUE(WaitFor(
        "north", [&](const QJsonObject& s) { return Link(s) == u"open"; }, 3s));
    ASSERT_TRUE(WaitFor("north", Connected, 6s));
    std::this_thread::sleep_for(1500ms);
    Stop();
    EXPECT_GT(FrameCount(*Status("north")), northBefore + 2);
    EXPECT_GT(FrameCount(*Status("south")), southBefore + 2);
    const std::string log = Log();
    const auto gone = log.find("north: Link lost, reconnecting to " + link + "\n");
    ASSERT_NE(gone, std::string::npos) << log;
    EXPECT_NE(log.find("north: PORT: OPENED\n", gone), std::string::npos) << log;
    EXPECT_EQ(log.find("south: MUX NOT CONNECTED"), std::string::npos) << log;
}

// The simulator's line behind a real ser2net, raw and with RFC 2217: decoded through it, the
// outage of the server seen and bridged, and the recording going on across it.
class Ser2netEndToEnd : public HeadlessEndToEnd, public ::testing::WithParamInterface<bool> {
protected:
    bool StartSer2net() {
        return server.Start(Which("ser2net"),
                            {"-n", "-u", "-c", Path("ser2net.yaml"), "-P", Path("ser2net.pid")},
                            Path("ser2net.out"), Path("ser2net.err"));
    }
    void TearDown() override {
        HeadlessEndToEnd::TearDown();
        server.Kill();
    }
    Child server;
};

TEST_P(Ser2netEndToEnd, DecodesThroughTheServerAndBridgesItsOutage) {
    if (Which("ser2net").empty()) {
        GTEST_SKIP() << "ser2net is not installed";
    }
    const bool rfc2217 = GetParam();
    const std::string line = Path("mux-line");
    ASSERT_TRUE(a.Start(dirA, {"--scenario", "quiet", "--rate", "4", "--link", line}))
        << a.Stderr();
    const int port = FreePort();
    ASSERT_GT(port, 0);
    std::ofstream(Path("ser2net.yaml"))
        << "connection: &mux\n"
        << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << port
        << "\n  connector: serialdev," << line << ",9600n81,local\n";
    ASSERT_TRUE(StartSer2net());
    const std::string device =
        std::string(rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(RunHeadless({"--device", device, "--name", "mux", "--record", Path("mux.csv")}));
    ASSERT_TRUE(WaitFor("mux", Connected, 8s));

    // The server goes: the link is lost and looked for; the MUX counts as not connected.
    ASSERT_TRUE(server.Signal(SIGTERM) && server.WaitExit(5s));
    ASSERT_TRUE(WaitFor(
        "mux", [](const QJsonObject& s) { return Link(s) == u"reconnecting" && !Connected(s); },
        4s));
    const long long before = FrameCount(*Status("mux"));
    ASSERT_TRUE(StartSer2net());
    ASSERT_TRUE(WaitFor(
        "mux", [&](const QJsonObject& s) { return Connected(s) && FrameCount(s) > before; }, 6s));
    EXPECT_TRUE((*Status("mux"))[QStringLiteral("statistics")].toBool());
    Stop();
    const std::string log = Log();
    EXPECT_NE(log.find("mux: Link lost, reconnecting to " + device + "\n"), std::string::npos)
        << log;
    // One recording across the outage: on, connected, the loss, connected again, off; after
    // each connection the first frame may bring an alarm row with what it carries (none here).
    bool crlf = false;
    const auto rows = Rows(ReadFile(Path("mux.csv")), crlf);
    std::vector<std::size_t> marks;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (Matches(rows[i], ",NC,{10}")) {
            marks.push_back(i);
        } else {
            EXPECT_TRUE(Matches(rows[i], ",{10,11}")) << Show(rows);  // alarm or connected
        }
    }
    ASSERT_EQ(marks.size(), 2u) << Show(rows);
    EXPECT_EQ(marks[0], 0u) << Show(rows);
    EXPECT_TRUE(marks[1] >= 2 && marks[1] + 2 < rows.size()) << Show(rows);
}

INSTANTIATE_TEST_SUITE_P(Modes, Ser2netEndToEnd, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Rfc2217" : "RawTcp"; });

// SIGKILL during a recording of alarms: the database opens whole, every alarm change of the
// script is in the journal, and the figures lack no more than the last ten seconds.
TEST_F(HeadlessEndToEnd, LineMemorySurvivesSigkill) {
    const std::string quiet = "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 2\n";
    const std::string localAis = "20 0000 00 00 00 00 00 0000 00 00 00 00 repeat 2\n";
    const std::string script = quiet + localAis + quiet + localAis + quiet +
                               "00 0000 00 00 00 00 20 0000 00 00 00 00 repeat 1000\n";
    ASSERT_TRUE(a.StartScript(dirA, script, 1) && a.Pause()) << a.Stderr();
    const std::string config = "[mux/north]\ndevice=" + a.Path() + "\n";
    const std::string db = Path("north.sqlite");
    ASSERT_TRUE(StartHeadless(config));
    ASSERT_TRUE(WaitFor("north", Connected, 8s));
    const std::time_t resumed = std::time(nullptr);
    ASSERT_TRUE(a.Resume());
    // The remote AIS holds from the eleventh frame on; its entry is stored when it is told.
    ASSERT_FALSE(WaitForLog(std::regex("(north: alarm remote AIS on)"), 20s).empty()) << Log();
    std::this_thread::sleep_for(3s);
    headless.Kill();
    const std::time_t killed = std::time(nullptr);

    const StoredMemory first = ReadMemory(db, resumed);
    EXPECT_EQ(first.integrity, "ok");
    ASSERT_EQ(first.objects, (std::vector<std::string>{"near:ais", "near:ais", "far:ais"}));
    // Two seconds each (give or take one for the frames' timing), the remote AIS still open.
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(first.times[i][1] - first.times[i][0], 2, 1) << i;
        EXPECT_NEAR(first.times[i + 1][0] - first.times[i][1], 2, 1) << i;
    }
    EXPECT_EQ(first.times[2][1], -1);
    EXPECT_LE(killed - first.through, 11);  // written every 10 s, the last second in grace
    EXPECT_GE(first.measured, first.through - resumed - 2);

    const std::time_t restarted = std::time(nullptr);
    QFile::remove(dir.filePath(QStringLiteral("north.json")));  // the killed run's picture
    ASSERT_TRUE(StartHeadless(config, true));  // as systemd runs it, into the journal
    ASSERT_FALSE(WaitForLog(std::regex("(north: alarm remote AIS on)"), 10s).empty()) << Log();
    std::this_thread::sleep_for(2s);
    Stop();
    const std::time_t stopped = std::time(nullptr);
    const StoredMemory last = ReadMemory(db, resumed);
    EXPECT_EQ(last.integrity, "ok");
    ASSERT_EQ(last.objects,
              (std::vector<std::string>{"near:ais", "near:ais", "far:ais", "far:ais"}));
    EXPECT_EQ(std::vector(last.times.begin(), last.times.begin() + 2),
              std::vector(first.times.begin(), first.times.begin() + 2));
    // The killed monitor's entry ends where its figures end (not before it began); the new one
    // begins anew.
    EXPECT_EQ(last.times[2], (std::array<long long, 2>{
                                 first.times[2][0], std::max(first.times[2][0], first.through)}));
    EXPECT_GE(last.times[3][0], restarted);
    EXPECT_LE(last.times[3][1], stopped);
    EXPECT_GE(last.measured, first.measured + (stopped - restarted) - 4);
    EXPECT_LE(last.measured, first.measured + (stopped - restarted) + 1);
    // Each line with its syslog priority for journald: the major alarm as an error.
    for (const std::string& line : {"<6>north: line memory in " + db + "\n",
                                   std::string("<3>north: alarm remote AIS on\n")}) {
        EXPECT_NE(Log().find(line), std::string::npos) << line << Log();
    }
}

std::string MuxName(std::size_t i) {
    return std::string("m").append(std::to_string(i));  // GCC 12 warns falsely about "m" + ...
}

// Pseudo-terminals that never send, for the tests of many MUXes in one process.
class SilentLines {
public:
    explicit SilentLines(int count) {
        for (int i = 0; i < count; ++i) {
            int master = -1, slave = -1;
            if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
                break;
            }
            paths.emplace_back(::ttyname(slave));
            ::close(slave);  // the monitor opens it by name; ours would only keep it busy
            masters.push_back(master);
        }
    }
    ~SilentLines() {
        for (int fd : masters) {
            ::close(fd);
        }
    }
    // A group per line, named m0, m1, ...; `extra` adds keys for the MUX of that number.
    std::string Config(const std::function<std::string(std::size_t)>& extra = nullptr) const {
        std::string text;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            text.append("[mux/").append(MuxName(i)).append("]\ndevice=").append(paths[i]);
            text.append("\n").append(extra ? extra(i) : std::string()).append("\n");
        }
        return text;
    }
    std::size_t Count() const { return paths.size(); }

private:
    std::vector<int> masters;
    std::vector<std::string> paths;
};

// A stop signal in the middle of the start-up of many recording MUXes: the process ends at
// once, and every recording that had begun ends with its closing rows.
TEST_F(HeadlessEndToEnd, SigtermDuringStartUpClosesEveryRecording) {
    const SilentLines lines(120);
    ASSERT_EQ(lines.Count(), 120u);
    ASSERT_TRUE(StartHeadless(lines.Config(
        [this](std::size_t i) { return "record=" + Path(MuxName(i) + ".csv") + "\n"; })));
    ASSERT_FALSE(WaitForLog(std::regex("(statistics on)")).empty()) << Log();
    ASSERT_NO_FATAL_FAILURE(Stop());
    const std::string log = Log();
    long recorded = 0;
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        const std::string name = MuxName(i);
        if (log.find(name + ": statistics on: ") == std::string::npos) {
            EXPECT_FALSE(std::filesystem::exists(Path(name + ".csv"))) << name;
            continue;
        }
        ++recorded;
        EXPECT_NE(log.find(name + ": statistics off\n"), std::string::npos) << name;
        // The opening row and the closing one in each file.
        for (const std::string& file : {name + ".csv", name + "G821.csv"}) {
            bool crlf = false;
            const auto rows = Rows(ReadFile(Path(file)), crlf);
            EXPECT_TRUE(crlf && rows.size() >= 2 && Matches(rows.back(), ",NC.*")) << Show(rows);
        }
    }
    EXPECT_GT(recorded, 0);
}

// More MUXes than 1,024 descriptors hold: the soft limit goes up to the hard one, and every
// device and database opens.
TEST_F(HeadlessEndToEnd, OpensPastTheDefaultDescriptorLimit) {
    rlimit own{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
    if (own.rlim_max != RLIM_INFINITY && own.rlim_max < 2048) {
        GTEST_SKIP() << "the hard limit of open files is " << own.rlim_max;
    }
    const SilentLines lines(200);
    ASSERT_EQ(lines.Count(), 200u);
    rlimit low = own;
    low.rlim_cur = 1024;  // the usual default, which the child inherits
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const bool started = StartHeadless(lines.Config());
    ::setrlimit(RLIMIT_NOFILE, &own);
    ASSERT_TRUE(started);
    const std::regex opened(": line memory in ");
    ASSERT_TRUE(Eventually(
        [&] {
            const std::string log = Log();
            return std::distance(std::sregex_iterator(log.begin(), log.end(), opened),
                                 std::sregex_iterator()) == 200 ||
                   !headless.Running();
        },
        20s, 100ms))
        << Log();
    const std::filesystem::path fds = "/proc/" + std::to_string(headless.Pid()) + "/fd";
    EXPECT_GT(std::distance(std::filesystem::directory_iterator(fds), {}), 1100);
    EXPECT_EQ(Log().find("cannot"), std::string::npos) << Log();
    Stop();
}

}  // namespace
}  // namespace kestrel::e2e

// One MUX session without Qt: start and close orders, ticks, rows, port checks and the observer.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <thread>

#include "../monitor/TestFrames.h"
#include "../stats/StatsTestSupport.h"
#include "link/FakeSerialDevice.h"
#include "performance/HistoryStore.h"
#include "session/MuxSession.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;

// Everything the session tells, as one line each, in order; BER texts come from the receive
// thread and are only counted.
class Recorder : public SessionObserver {
public:
    void PanelRefreshed(const PanelPicture& p) override {
        picture = p;
        events.push_back("picture");
    }
    void BerTexts(const std::array<std::string, 4>& texts) override {
        std::lock_guard<std::mutex> lock(berMutex);
        ber = texts;
    }
    void ConnectionChanged(bool c) override { events.push_back(c ? "connected" : "not connected"); }
    void DataChanged(bool noData) override { events.push_back(noData ? "no data" : "data"); }
    void StatisticsChanged(bool on) override { events.push_back(on ? "stats on" : "stats off"); }
    void StatisticsNotice(const std::string& m) override { events.push_back("notice: " + m); }
    void HistoryProblem(const std::string& m) override { events.push_back("history: " + m); }
    void LinkStatusChanged(const LinkStatus& l) override {
        static const char* const kStates[] = {"closed", "connecting", "open", "reconnecting"};
        events.push_back(std::string("link ") + kStates[static_cast<int>(l.state)]);
    }
    void PortOpenFailed(const LinkStatus& l) override {
        events.push_back("open failed: " + l.detail);
    }

    std::array<std::string, 4> Ber() {
        std::lock_guard<std::mutex> lock(berMutex);
        return ber;
    }
    std::vector<std::string> Take() { return std::exchange(events, {}); }

    std::vector<std::string> events;
    PanelPicture picture;

private:
    std::mutex berMutex;
    std::array<std::string, 4> ber;
};

constexpr const char* kDevice = "/dev/fake-mux";

class SessionTest : public ::testing::Test {
protected:
    SessionTest() {
        nodes[kDevice] = DeviceIdentity{1, 1};
        MakeSession({});
    }

    void MakeSession(const std::string& historyPath) {
        session.reset();
        SessionOptions o;
        o.historyPath = historyPath;
        o.devices = std::make_unique<FakeSerialDeviceFactory>(ports);
        o.resolver.SetPath(1, kDevice);
        o.wallClock = [this] { return wall.load(); };
        o.clock = [this] { return std::chrono::steady_clock::time_point(elapsed.load()); };
        o.sleep = [](std::chrono::milliseconds) {};
        o.trace = [this](const char* step) { trace.push_back(step); };
        o.identify = [this](const std::string& path) -> std::optional<DeviceIdentity> {
            const auto it = nodes.find(path);
            return it == nodes.end() ? std::nullopt : std::optional(it->second);
        };
        o.startupDelay = 0ms;
        o.retry = RetryPeriods{20ms, 200ms, 100ms};
        o.resolver.SetPath(2, "rfc2217://ts-north:2001");
        o.observer = &recorder;
        session = std::make_unique<MuxSession>(std::move(o));
    }

    void StartConnected() {
        line = ports->Add(kDevice);
        line->SetModemInputs(kLineDsr);
        ASSERT_TRUE(session->StartLink(1, true));
        session->ResumeIfOpen();
        session->LinkWatch();
        ASSERT_EQ(session->State().connected.load(), 1);
    }

    // Sends a frame and waits until the receive thread has parsed it.
    void Receive(const std::string& frame) {
        const auto before = session->State().frameCount.load();
        line->Deliver(frame);
        ASSERT_TRUE(Eventually([&] { return session->State().frameCount.load() > before; }));
        // The count goes up as a pass begins; the pass is over once the frame lock is free.
        std::lock_guard lock(session->FrameMutex());
    }

    // A second of the line: the clocks move on, `text` arrives, and the panel is refreshed.
    void Second(const std::string& text = Clear()) {
        Tick();
        Receive(text);
        session->PanelRefresh();
    }
    std::string Rows(const std::string& name) { return ReadFile(dir / name); }
    // How many of the observer's news are problems of the line memory.
    static long HistoryNotices(const std::vector<std::string>& events) {
        return std::count_if(events.begin(), events.end(),
                             [](const std::string& e) { return e.starts_with("history: "); });
    }
    // Journal entries as "object start..end note", in seconds from t0 (no end while open).
    static std::vector<std::string> Seen(const std::vector<JournalEntry>& journal,
                                         std::time_t t0) {
        std::vector<std::string> seen;
        for (const JournalEntry& e : journal) {
            seen.push_back(e.Object() + " " + std::to_string(e.start - t0) + ".." +
                           (e.end ? std::to_string(*e.end - t0) : "") + e.note);
        }
        return seen;
    }

    std::shared_ptr<FakeSerialPorts> ports = std::make_shared<FakeSerialPorts>();
    std::shared_ptr<FakeSerialLine> line;
    std::map<std::string, DeviceIdentity> nodes;
    // Both clocks move together unless a test steps the wall clock; the receive thread reads
    // the monotonic one to stamp arrivals.
    void Tick(std::chrono::seconds d = 1s) {
        elapsed = elapsed.load() + d;
        wall += d.count();
    }

    std::atomic<std::chrono::steady_clock::duration> elapsed{};
    std::atomic<std::time_t> wall{LocalTime(2024, 3, 5, 14, 7, 9)};
    std::vector<std::string> trace;
    Recorder recorder;
    TempDir dir;
    std::unique_ptr<MuxSession> session;
};

TEST_F(SessionTest, StartAndCloseFollowTheWindowsOrders) {
    line = ports->Add(kDevice);
    ASSERT_TRUE(session->StartLink(1, true));
    // Created suspended: nothing reads the port before the resume.
    EXPECT_EQ(session->Comm()->SuspendCount(), 1);
    EXPECT_TRUE(line->IsOpen());
    session->ResumeIfOpen();
    EXPECT_EQ(session->Comm()->SuspendCount(), 0);
    ASSERT_TRUE(session->StatisticsOn(dir / "day.csv"));
    elapsed = 3725s;
    EXPECT_EQ(session->Elapsed(), 3725s);
    session->Close();
    EXPECT_EQ(trace, (std::vector<std::string>{"CreateThread", "SetPortNumber", "SetPortOpen",
                                               "ResumeThread", "SetClosing", "SuspendThread",
                                               "ClosePortIfOpen", "StopReceiving", "ResumeThread",
                                               "JoinThread", "StatisticsOff"}));
    EXPECT_EQ(session->Comm()->ExitCode(), CComm::kExitOrderly);
    EXPECT_FALSE(line->IsOpen());
    // The rows statistics write at on and off are FramesReachThePictureTheRowsAndTheBerTexts'.
    EXPECT_EQ(recorder.Take(), (std::vector<std::string>{"link open", "stats on", "stats off"}));
}

// The port stored open is meant to be open whether its device is there or not: it is waited
// for, lost and found again by the receive thread, and only "Port Open" unticked ends that.
TEST_F(SessionTest, APortMeantOpenFollowsItsDeviceAwayAndBack) {
    ASSERT_TRUE(session->StartLink(1, true));  // nothing there: still meant to be open
    session->ResumeIfOpen();
    EXPECT_EQ(session->Comm()->SuspendCount(), 0);  // the thread looks for the device
    EXPECT_EQ(session->LastOpenError(), ENOENT);
    EXPECT_EQ(session->Link().path, kDevice);

    // Each step: what happens to the device, the link state it leads to, and what the
    // observer hears at the next poll.
    struct Step {
        const char* change;
        LinkState state;
        std::vector<std::string> heard;
    };
    const Step steps[] = {
        {"none", LinkState::Reconnecting, {"link reconnecting"}},
        {"plug", LinkState::Open, {"link open"}},
        {"unplug", LinkState::Reconnecting, {"link reconnecting"}},
        {"plug", LinkState::Open, {"link open"}},
        {"replace", LinkState::Open, {"link open"}},  // found at once, as another node
        {"close", LinkState::Closed, {"link closed"}},
    };
    for (const Step& s : steps) {
        const std::string change = s.change;
        const auto changes = session->Link().changes;
        if (change == "plug") {
            line = ports->Add(kDevice);
            line->HangUp(false);
            nodes[kDevice] = DeviceIdentity{1, 1};
        } else if (change == "unplug") {
            line->HangUp(true);  // the receive thread sees it hang up
        } else if (change == "replace") {
            nodes[kDevice] = DeviceIdentity{1, 2};  // another node at the same path
            session->LinkWatch();
        } else if (change == "close") {
            session->ClosePort();
        }
        if (change != "none" && change != "close") {
            ASSERT_TRUE(Eventually([&] {
                const LinkStatus l = session->Link();
                return l.changes > changes + (change == "replace") && l.state == s.state;
            })) << change;
        }
        EXPECT_EQ(session->Link().state, s.state) << change;
        session->PollLink();
        auto heard = recorder.Take();
        std::erase_if(heard, [](const std::string& e) { return e.rfind("link", 0) != 0; });
        if (change == "replace") {
            heard.erase(heard.begin(), heard.end() - 1);  // reconnecting, then open
        }
        EXPECT_EQ(heard, s.heard) << change;
        EXPECT_EQ(session->IsPortOpen(), change != "close") << change;
        EXPECT_EQ(session->IsLinkUp(), s.state == LinkState::Open) << change;
    }
    // Closed: the thread is parked and nothing looks for the device any more.
    EXPECT_EQ(session->Comm()->SuspendCount(), 1);
    line->HangUp(true);
    const auto attempts = ports->OpenAttempts().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ports->OpenAttempts().size(), attempts);
}

// "Port Open" is the user's own try: a device that is not there is reported at once (a local
// one) or when the connection failed (a network one), and not tried again.
TEST_F(SessionTest, AUsersOpenThatFailsIsFinal) {
    ASSERT_FALSE(session->StartLink(1, false));
    EXPECT_FALSE(session->OpenPort());
    EXPECT_EQ(session->LastOpenError(), ENOENT);
    session->SetPortNumber(2);
    // A network path is opened on the event loop, which may have failed it already when
    // OpenPort returns: then "connecting" was never seen, and the open counts as failed.
    session->OpenPort();
    ASSERT_TRUE(Eventually([&] { return session->Link().state == LinkState::Closed; }));
    session->PollLink();
    EXPECT_EQ(session->Link().error, ENOENT);
    EXPECT_FALSE(session->IsPortOpen());
    EXPECT_EQ(session->Comm()->SuspendCount(), 1);
    std::vector<std::string> news = recorder.Take();
    std::erase(news, "link connecting");
    EXPECT_EQ(news, (std::vector<std::string>{"link closed", "link closed", "open failed: "}));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ports->OpenAttempts(),
              (std::vector<std::string>{kDevice, "rfc2217://ts-north:2001"}));
}

TEST_F(SessionTest, FramesReachThePictureTheRowsAndTheBerTexts) {
    ASSERT_TRUE(session->StatisticsOn(dir / "day.csv"));
    StartConnected();
    recorder.Take();
    // A frame that changes both status bytes: local AIS (which hides the remote end),
    // tributary 1 local without signal, errors at both ends.
    Receive(Frame(0x20, 5, "00/00/00/01/", 0x10, 7, "00\\00\\00\\00\\"));
    session->PanelRefresh();
    EXPECT_TRUE(recorder.picture.connected);
    EXPECT_EQ(recorder.picture.alarms,
              (AlarmFlags{false, true, false, false, false, false, false, false}));
    EXPECT_TRUE(recorder.picture.tribNoSig[0]);
    EXPECT_TRUE(recorder.Ber()[0].empty());
    // Two busy link-watch intervals clear "No Data"; two silent ones bring it back and clear
    // the indications, which the next refresh shows.
    session->LinkWatch();
    // Only the local byte changes: no alarm row; the remote end shows, the BER is measured.
    Receive(Clear(0x00, 0, 0x10, 0));
    session->PanelRefresh();
    EXPECT_EQ(recorder.picture.alarms,
              (AlarmFlags{false, false, false, false, false, false, false, true}));
    EXPECT_EQ(recorder.Ber()[0], "0.000000e+000");
    session->LinkWatch();
    session->LinkWatch();
    session->LinkWatch();
    session->PanelRefresh();
    EXPECT_EQ(recorder.picture.alarms, AlarmFlags{});
    EXPECT_EQ(recorder.Take(),
              (std::vector<std::string>{"picture", "picture", "data", "no data", "picture"}));
    // The port goes: not connected at the next watch, with its mark row.
    session->ClosePort();
    session->LinkWatch();
    session->PanelRefresh();
    EXPECT_FALSE(recorder.picture.connected);
    session->Close();
    const std::string t = "05/03/24,14:07:09";
    EXPECT_EQ(Rows("day.csv"), t + ",NC,,,,,,,,,,\r\n" +       // on, before the connection
                                   t + ",,,,,,,,,,,\r\n" +     // connected
                                   t + ",,,AIS ,,,,,,,\r\n" +  // both bytes changed
                                   t + ",NC,,,,,,,,,,\r\n" +   // the port closed
                                   t + ",NC,,,,,,,,,,\r\n");   // off at close
    // A counts row at the refresh after the alarm frame only: remote RAI counts no second.
    EXPECT_EQ(Rows("dayG821.csv"),
              t + ",NC\r\n" + t + ",\r\n" + t + ",,1,5,0,7\r\n" + t + ",NC,\r\n" + t + ",NC\r\n");
}

// The line memory: seconds and journal entries reach the database, link states included.
TEST_F(SessionTest, LineMemoryKeepsSecondsAndJournal) {
    const std::string path = dir / "line.sqlite";
    MakeSession(path);
    const std::time_t t0 = wall;
    StartConnected();
    Second(Frame(0x20, 5, "00/00/00/00/", 0x00, 0, "00\\00\\00\\00\\"));  // local AIS
    Second();
    Tick();
    session->ClosePort();
    session->LinkWatch();
    for (int i = 0; i < 3; ++i) {
        Tick();
        session->PanelRefresh();  // the rows are due every 10 s: not yet
    }
    EXPECT_EQ(HistoryNotices(recorder.Take()), 0);
    session->Close();

    HistoryStore reader;
    std::string error;
    ASSERT_TRUE(reader.OpenReadOnly(path, error)) << error;
    EXPECT_EQ(Seen(reader.JournalEntries(0, false), t0),
              (std::vector<std::string>{"near:ais 1..2", "link:port-closed 3..6"}));
    const Figures near = reader.Intervals(BinKind::Quarter, 0, 0).at(0).figures;
    EXPECT_EQ(near.available, 2);
    EXPECT_EQ(near.es, 1);
    EXPECT_EQ(near.ses, 1);
    EXPECT_EQ(near.available + near.notMeasured, 6 + t0 % 900);
}

// What the line did, not the ticks' cadence: a frame counts in the second its last character
// arrived even when the parser decodes it a call later, "no data" runs from the last frame to
// the first after a silence, and a wall clock stepped back loses no second.
TEST_F(SessionTest, LineMemoryFollowsTheFramesNotTheTicksNorTheWallClock) {
    StartConnected();
    const std::time_t t0 = wall;
    // A damaged frame, then one the resynchronisation leaves for the next call, then another.
    Second(std::string(1, 'X').append(Clear()));
    Second();
    Second();
    // Silence from the frame of second 3 until second 16; the ticks go on meanwhile.
    for (int i = 0; i < 12; ++i) {
        Tick();
        session->PanelRefresh();
        if (i % 3 == 2) {
            session->LinkWatch();
        }
    }
    Second();
    // The wall clock is set back a minute; the seconds go on being counted one by one.
    wall -= 60;
    for (int i = 0; i < 4; ++i) {
        Second();
    }
    // Four seconds of noise: the line is not measured, but it is not silent either.
    for (int i = 0; i < 4; ++i) {
        Second(std::string(50, 'x'));
        session->LinkWatch();
    }
    for (int i = 0; i < 3; ++i) {
        Tick();
        session->PanelRefresh();
    }
    EXPECT_EQ(Seen(session->Memory().JournalEntries(), t0),
              (std::vector<std::string>{"link:no-data 3..16",
                                        "clock:step 17..17clock stepped back 60 s",
                                        "link:no-data 24.."}));
    const Figures near = session->Memory().Current(BinKind::Quarter).figures[kNearObject];
    // Seconds 2, 3, 16 and 17 to 20; second 1 lost its frame to the damage.
    EXPECT_EQ(near.available, 7);
    EXPECT_EQ(near.available + near.notMeasured, 25 + t0 % 900);
}

// A database holding seconds later than the clock (set back over a restart, or a replay into
// the future): the monitor says so once and its own seconds go on after the stored ones.
TEST_F(SessionTest, StoredSecondsLaterThanTheClockAreNeverWrittenOver) {
    const std::string path = dir / "ahead.sqlite";
    MakeSession(path);
    StartConnected();
    for (int i = 0; i < 12; ++i) {
        Second();
    }
    session->Close();
    const std::time_t through = session->Memory().Cursor();
    wall -= 3600;  // the clock set back an hour before the restart
    MakeSession(path);
    const auto told = recorder.Take();
    ASSERT_EQ(HistoryNotices(told), 1);
    EXPECT_NE(told.back().find("later than this machine's clock"), std::string::npos);
    StartConnected();
    for (int i = 0; i < 5; ++i) {
        Second();
    }
    EXPECT_GE(session->LineNow(), through + 5);
    const JournalEntry& note = session->Memory().JournalInMemory().back();
    EXPECT_EQ(note.note, "clock stepped back " + std::to_string(through - (wall - 5)) + " s");
    // Every stored second stays, and the new ones come after them.
    const Figures near = session->Memory().Current(BinKind::Quarter).figures[kNearObject];
    EXPECT_GT(near.available, 12);
    EXPECT_LE(near.available, 12 + 5);
    EXPECT_EQ(near.notMeasured + near.available, session->Memory().Cursor() -
                                                     session->Memory().Current(BinKind::Quarter)
                                                         .span.start);
}

}  // namespace
}  // namespace kestrel::test

// Desktop notifications: the rule over a line the engine filled and frames fed second by
// second, and the freedesktop call over a private bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QVariantMap>
#include <deque>
#include <fstream>
#include <optional>

#include "FilledLine.h"
#include "views/DesktopNotifier.h"
#include "views/NotificationRule.h"

namespace kestrel::test {
namespace {

struct Told {
    int second;  // of the case's timeline
    QString summary;
    QString body;
    Notifier::Urgency urgency = Notifier::Urgency::Critical;
    bool operator==(const Told&) const = default;
};

void PrintTo(const Told& t, std::ostream* os) {
    *os << t.second << " \"" << t.summary.toStdString() << "\" \"" << t.body.toStdString() << "\" "
        << static_cast<int>(t.urgency);
}

struct FakeNotifier : Notifier {
    void Notify(const QString& summary, const QString& body, Urgency urgency) override {
        told.push_back({second, summary, body, urgency});
    }
    int second = 0;
    std::vector<Told> told;
};

// From `from`, the line shows `alarms` (the eight 34 Mbit/s indications) and `tribsLost`
// (local tributaries without signal) until the next step; while `link` is not Up no frame
// comes.
struct Step {
    int from;
    std::uint8_t alarms;
    std::uint32_t tribsLost = 0;
    LineCondition link = LineCondition::Up;
};
constexpr LineCondition kNoData = LineCondition::NoData, kClosed = LineCondition::PortClosed;
constexpr std::uint8_t kLocalAis = 0x02, kLocalLof = 0x04, kLocalRai = 0x08, kRemoteAis = 0x20,
                       kRemoteRai = 0x80;

struct RuleCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<Told> told;
    std::vector<std::pair<int, bool>> switches{};        // second, notifications on
    int opens = 0;                                       // the second the window opens
    int delay = NotificationRule::kDefaultDelaySeconds;  // as the settings ask
    int acknowledges = -1;                               // the second the user acknowledges
    int lag = 0;  // frames reach the memory this many seconds after the second they are in
};

// The database ends with the local AIS on; the memory reading it back ends that entry, unseen.
const char* const kHistory =
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 5\n"
    "20 0000 00 00 00 00 00 0000 00 00 00 00 repeat 10\n";
// Second 0 of each case's timeline, when the memory reads the database back.
constexpr std::time_t kOpened = kScriptStart + 15;
constexpr int kSeconds = 30;

// An alarm is judged once the memory has closed the seconds up to its start + delay, so
// notifications come a second after the delay, later by as much as frames are late.
TEST(NotificationRule, TellsNewSeriousAlarmsThatLastSummarisedOnceEach) {
    using U = Notifier::Urgency;
    const QString lofSince = "Critical alarm since 2026-03-29 00:50:17";
    const std::vector<RuleCase> cases{
        {"only the database's entries", {{0, 0}}, {}},
        {"on before the window opened", {{0, 0}, {1, kLocalLof}}, {}, {}, 3},
        {"still on as the memory reads it back: a new entry",
         {{0, kLocalAis}},
         {{6, "Local 34M AIS", "Critical alarm since 2026-03-29 00:50:15"}}},
        {"a flap of four seconds", {{0, 0}, {2, kLocalLof}, {6, 0}, {9, kLocalLof}, {13, 0}}, {}},
        {"five seconds and over at the due second", {{0, 0}, {2, kLocalLof}, {7, 0}}, {}},
        {"over after the due second, told all the same",
         {{0, 0}, {2, kLocalLof}, {8, 0}},
         {{8, "Local 34M LOF", lofSince}}},
        {"many together, listed in part, major",
         {{0, 0}, {3, 0, 0x3F}},
         {{9, "6 new alarms",
           "Local trib 1 no signal, Local trib 2 no signal, Local trib 3 no signal, "
           "Local trib 4 no signal, and 2 more; the first since 2026-03-29 00:50:18",
           U::Normal}}},
        {"one after the other, each once and not before its delay",
         {{0, 0}, {2, kLocalLof}, {4, kLocalLof | kRemoteAis}},
         {{8, "Local 34M LOF", lofSince},
          {10, "Remote 34M AIS", "Major alarm since 2026-03-29 00:50:19", U::Normal}}},
        {"minor ones never", {{0, 0}, {2, kLocalRai | kRemoteRai}}, {}},
        {"off then on tells nothing of the past",
         {{0, 0}, {2, kLocalLof}, {6, kLocalLof | kRemoteAis}, {14, kLocalLof | kRemoteAis, 1}},
         {{20, "Local trib 1 no signal", "Major alarm since 2026-03-29 00:50:29", U::Normal}},
         {{4, false}, {10, true}}},
        {"due while off, never told", {{0, 0}, {2, kLocalLof}}, {}, {{6, false}, {8, true}}},
        {.name = "a delay of its own",
         .steps = {{0, 0}, {2, kLocalLof}},
         .told = {{13, "Local 34M LOF", lofSince}},
         .delay = 10},
        {.name = "no delay is one second",
         .steps = {{0, 0}, {2, kLocalLof}},
         .told = {{4, "Local 34M LOF", lofSince}},
         .delay = 0},
        {.name = "acknowledged before it fell due",
         .steps = {{0, 0}, {2, kLocalLof}},
         .told = {},
         .acknowledges = 5},
        // Frames two seconds late, within the memory's grace: a far-end AIS of four frames was
        // over before its delay ran out; one of six was not.
        {.name = "four frames of AIS, late",
         .steps = {{0, 0}, {2, kRemoteAis}, {6, 0}},
         .told = {},
         .lag = 2},
        {.name = "six frames of AIS, late",
         .steps = {{0, 0}, {2, kRemoteAis}, {8, 0}},
         .told = {{10, "Remote 34M AIS", "Major alarm since 2026-03-29 00:50:17", U::Normal}},
         .lag = 2},
        // The line lost while serious alarms are on is told once, for what it is, once it has
        // lasted the delay; the alarms are unknown, and nothing says they are over.
        {"lost with an alarm on, back without it",
         {{0, 0}, {2, kLocalLof}, {12, 0, 0, kNoData}, {25, 0}},
         {{8, "Local 34M LOF", lofSince},
          {20, "Line unseen: no data",
           "Local 34M LOF was on and is unknown since 2026-03-29 00:50:27"}}},
        {"lost before the alarm was due: only the loss",
         {{0, 0}, {2, kLocalLof}, {4, 0, 0, kNoData}},
         {{12, "Line unseen: no data",
           "Local 34M LOF was on and is unknown since 2026-03-29 00:50:19"}}},
        {"a blip of no data",
         {{0, 0}, {2, kLocalLof}, {12, 0, 0, kNoData}, {14, kLocalLof}},
         {{8, "Local 34M LOF", lofSince}}},
        {"no data, then the port closed: one loss, as it is now",
         {{0, 0}, {2, kRemoteAis | kLocalLof}, {12, 0, 0, kNoData}, {14, 0, 0, kClosed}},
         {{8, "2 new alarms", "Local 34M LOF, Remote 34M AIS; the first since 2026-03-29 00:50:17"},
          {20, "Line unseen: port closed",
           "Local 34M LOF, Remote 34M AIS were on and are unknown since 2026-03-29 00:50:27"}}},
        {"lost with minor alarms only", {{0, 0}, {2, kLocalRai}, {6, 0, 0, kNoData}}, {}},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        EXPECT_EQ(FillDatabase(folder, kHistory), kOpened);
        FilledLine line(folder, kOpened);
        FakeNotifier notifier;
        std::optional<NotificationRule> rule;
        auto step = c.steps.begin();
        auto turn = c.switches.begin();
        LineCondition link = LineCondition::Up;
        std::deque<std::pair<std::time_t, FrameSecond>> late;  // frames not handed over yet
        for (int s = 0; s < kSeconds; ++s) {
            while (std::next(step) != c.steps.end() && std::next(step)->from <= s) {
                ++step;
            }
            line.now = kOpened + s;
            notifier.second = s;
            if (s == c.opens) {
                rule.emplace(line.Source(), notifier, c.delay);
            }
            if (turn != c.switches.end() && turn->first == s) {
                rule->SetEnabled((turn++)->second);
            }
            if (step->link != link) {
                line.memory.OnLinkState(link = step->link, line.now);
            }
            if (link == LineCondition::Up) {
                late.emplace_back(
                    line.now, FrameSecond{.tribNoSig = step->tribsLost, .alarms = step->alarms});
            }
            while (!late.empty() && late.front().first <= line.now - c.lag) {
                line.memory.OnFrameApplied(late.front().second, late.front().first);
                late.pop_front();
            }
            line.memory.Tick(line.now);
            if (s == c.acknowledges) {
                line.memory.AcknowledgeAll(line.now);
            }
            if (rule) {
                rule->Check();
            }
        }
        EXPECT_EQ(notifier.told, c.told);
    }
}

// A notification server of the test's own, on a bus of its own.
class FakeServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app;
        uint replaces;
        QString summary;
        int urgency;
    };
    std::vector<Call> calls;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& /*icon*/, const QString& summary,
                const QString& /*body*/, const QStringList& /*actions*/, const QVariantMap& hints,
                int /*timeout*/) {
        calls.push_back({app, replaces, summary, hints.value("urgency").toInt()});
        return 40 + static_cast<uint>(calls.size());
    }
};

// Qt's messages while `run` runs and its answers come.
int g_messages = 0;
template <typename Run>
int MessagesWhile(Run run) {
    g_messages = 0;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString&) { ++g_messages; });
    run();
    // Whether one comes is what the caller counts.
    static_cast<void>(QTest::qWaitFor([] { return g_messages > 0; }, 2000));
    QTest::qWait(200);
    qInstallMessageHandler(nullptr);
    return g_messages;
}

// A bus daemon of the test's own, which starts no service of the machine's, and two
// connections to it; closed in order however the test ends.
struct PrivateBus {
    explicit PrivateBus(const QString& daemonPath) {
        std::ofstream(folder / "bus.conf")
            << "<busconfig><type>session</type><listen>unix:tmpdir=" << folder.path.string()
            << "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        daemon.start(daemonPath, {QString::fromStdString("--config-file=" + (folder / "bus.conf")),
                                  "--print-address", "--nofork"});
        if (daemon.waitForReadyRead(5000)) {
            const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
            client = QDBusConnection::connectToBus(address, "notify-client");
            server = QDBusConnection::connectToBus(address, "notify-server");
        }
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus("notify-client");
        QDBusConnection::disconnectFromBus("notify-server");
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
    TempDir folder;
    QProcess daemon;
    QDBusConnection client{"notify-client"};
    QDBusConnection server{"notify-server"};
};

TEST(DesktopNotifier, CallsTheServerWithoutWaitingAndReplacesItsOwnWhileShown) {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) {
        GTEST_SKIP() << "no dbus-daemon";
    }
    PrivateBus bus(daemon);
    ASSERT_TRUE(bus.client.isConnected() && bus.server.isConnected());
    DesktopNotifier notifier(bus.client);
    // No server yet: nothing shown, said once.
    EXPECT_EQ(MessagesWhile([&] {
                  notifier.Notify("Local 34M LOF", "body", Notifier::Urgency::Critical);
                  notifier.Notify("Local 34M LOF", "body", Notifier::Urgency::Critical);
              }),
              1);

    FakeServer fake;
    ASSERT_TRUE(bus.server.registerObject("/org/freedesktop/Notifications", &fake,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.server.registerService("org.freedesktop.Notifications"));
    // Summary, urgency, closed by the user before it, replaces.
    struct Sent {
        const char* summary;
        Notifier::Urgency urgency;
        bool closedBefore;
        uint replaces;
    };
    const std::vector<Sent> sent{
        {"Local 34M LOF", Notifier::Urgency::Critical, false, 0},
        {"2 new alarms", Notifier::Urgency::Critical, false, 41},  // still shown: replaced
        {"Remote 34M AIS", Notifier::Urgency::Normal, false, 0},   // less urgent: beside
        {"Local 34M AIS", Notifier::Urgency::Normal, true, 0},     // closed: a new one
    };
    for (const Sent& s : sent) {
        SCOPED_TRACE(s.summary);
        if (s.closedBefore) {
            QDBusMessage closed =
                QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "NotificationClosed");
            closed << notifier.Shown() << 2u;
            bus.server.send(closed);
            ASSERT_TRUE(QTest::qWaitFor([&] { return notifier.Shown() == 0; }));
        }
        const std::size_t before = fake.calls.size();
        const uint shownBefore = notifier.Shown();
        notifier.Notify(s.summary, "body", s.urgency);
        EXPECT_EQ(fake.calls.size(), before);  // the answer comes later
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return fake.calls.size() > before && notifier.Shown() != shownBefore; }));
        const FakeServer::Call& call = fake.calls.back();
        EXPECT_EQ(call.app, "Kestrel");
        EXPECT_EQ(call.summary, s.summary);
        EXPECT_EQ(call.urgency, static_cast<int>(s.urgency));
        EXPECT_EQ(call.replaces, s.replaces);
    }
}

TEST(DesktopNotifier, WithoutASessionBusNothingHappensAndItIsSaidOnce) {
    TempDir folder;
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            QByteArray("unix:path=") + QByteArray::fromStdString(folder / "nothing"));
    DesktopNotifier notifier;
    QElapsedTimer timer;
    timer.start();
    EXPECT_LE(MessagesWhile([&] {
                  for (int i = 0; i < 3; ++i) {
                      notifier.Notify("Local 34M LOF", "body", Notifier::Urgency::Critical);
                  }
                  EXPECT_LT(timer.elapsed(), 1000);
              }),
              1);
    EXPECT_EQ(notifier.Shown(), 0u);
}

}  // namespace
}  // namespace kestrel::test

#include "NotificationTest.moc"

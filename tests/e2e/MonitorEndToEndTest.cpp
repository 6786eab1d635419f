// The kestrel program against the MUX simulator over a pseudo-terminal, watched through its
// status file: connection, decoding, LEDs, the data watchdog and the close on a stop signal.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>

#include "E2eFixture.h"

namespace kestrel::e2e {
namespace {

const QString kQuietAlarms = QStringLiteral("oooooooo");

// The eight alarm-bar LEDs in the order of their ids, 1124 to 1131.
QString AlarmLeds(const QJsonObject& s) {
    QString leds;
    for (int id = 1124; id <= 1131; ++id) {
        leds += AlarmLed(s, id);
    }
    return leds;
}

// All LEDs of a status in one text: the alarm bar, then the four tributary rows.
QString LedPicture(const QJsonObject& s) {
    return QStringList{AlarmLeds(s), TribRow(s, "localNoSig"), TribRow(s, "localCErr"),
                       TribRow(s, "remoteNoSig"), TribRow(s, "remoteCErr")}
        .join(u' ');
}

// A row of sixteen LEDs, dark but for tributary `lit` in `colour`.
QString Row(int lit = 0, QChar colour = u'o') {
    QString row(16, u'o');
    if (lit > 0) {
        row[lit - 1] = colour;
    }
    return row;
}

TEST_F(EndToEnd, ConnectsThenDecodesAlarmsTributariesAndErrors) {
    StartHeld(
        // Held during the first line, so that no frame goes before the monitor listens.
        "silence 1\n"
        "# local LOF, local tributary 1 without signal\n"
        "40 0000 00 00 00 01 00 0000 00 00 00 00 repeat 8\n"
        "# remote RAI, remote tributary 5 with code errors, errors at both ends\n"
        "00 0005 00 00 00 00 10 0007 00 00 02 00 repeat 8\n"
        "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 1000\n",
        2);
    // Connected while the line is still silent: the port is open, no data yet.
    EXPECT_EQ(Pane(atConnection, "com"), u"COM: 1");
    EXPECT_EQ(Pane(atConnection, "port"), u"PORT: OPENED");
    EXPECT_EQ(Pane(atConnection, "data"), u"No Data");
    EXPECT_EQ(FrameCount(atConnection), 0);
    EXPECT_FALSE(atConnection[QStringLiteral("statistics")].toBool());

    // Whole pictures are awaited: a refresh that runs while a frame is being applied may show
    // a mix of two frames, the next one shows the frame as it is.
    const QString lof =
        QStringList{QStringLiteral("oorooooo"), Row(1, u'r'), Row(), Row(), Row()}.join(u' ');
    ASSERT_TRUE(monitor.WaitFor([&](const QJsonObject& s) { return LedPicture(s) == lof; }, 8s))
        << "never showed " << lof.toStdString();
    const QString rai =
        QStringList{QStringLiteral("oooooooy"), Row(), Row(), Row(), Row(5, u'y')}.join(u' ');
    ASSERT_TRUE(monitor.WaitFor([&](const QJsonObject& s) { return LedPicture(s) == rai; }, 8s))
        << "never showed " << rai.toStdString();

    // The errors of frames without a local alarm reach the totals and the BER figures, with
    // the moving star and the elapsed time.
    const auto s = monitor.WaitFor(
        [](const QJsonObject& s) {
            return Pane(s, "nearErrors") != u"Near Errors =      0" &&
                   Pane(s, "farErrors") != u"Far Errors =      0" && Flowing(s);
        },
        5s);
    ASSERT_TRUE(s);
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^ \d+:\d\d:\d\d:\d\d$)"))
                    .match(Pane(*s, "time"))
                    .hasMatch())
        << Pane(*s, "time").toStdString();
    const QJsonObject ber = (*s)[QStringLiteral("ber")].toObject();
    // Each a BER text (FormatBer's own tests have its every form).
    for (const char* field : {"nearTotal", "nearIntermediate", "farTotal", "farIntermediate"}) {
        EXPECT_EQ(ber[QLatin1String(field)].toString().size(), 13) << field;
    }
    EXPECT_GT(ber[QStringLiteral("nearTotal")].toString().toDouble(), 0);
    EXPECT_GT(ber[QStringLiteral("farTotal")].toString().toDouble(), 0);
    EXPECT_TRUE(ChildrenOf(monitor.child.Pid()).empty()) << "kestrel started processes of its own";
    CloseBoth(SIGINT);
}

TEST_F(EndToEnd, NoDataShowsDuringSilenceAndTheLedsGoDark) {
    // Frames flow from the start here: the watchdog's two-tick hysteresis on both edges makes
    // this the longest test, and a held start would add a tick to it.
    ASSERT_TRUE(sim.StartScript(dir,
                                "# remote RAI, remote tributary 16 without signal\n"
                                "00 0000 00 00 00 00 10 0000 40 00 00 00 repeat 100000\n",
                                2))
        << sim.Stderr();
    // This one names its status file in the environment instead of the command line.
    ASSERT_TRUE(monitor.Start(dir, sim.Path(), {}, true));
    auto s = monitor.WaitFor(
        [](const QJsonObject& s) {
            return IsSpinner(Pane(s, "data")) && AlarmLed(s, 1131) == u"y" &&
                   TribRow(s, "remoteNoSig") == Row(16, u'y');
        },
        10s);
    ASSERT_TRUE(s);

    // The line goes silent.
    ASSERT_TRUE(sim.Pause());
    const auto silentFrom = Clock::now();
    s = monitor.WaitFor(
        [](const QJsonObject& s) {
            return Pane(s, "data") == u"No Data" && AlarmLeds(s) == kQuietAlarms &&
                   TribRow(s, "remoteNoSig") == Row();
        },
        11s);
    ASSERT_TRUE(s) << "no \"No Data\" during the silence";
    // Two whole silent intervals of 2.5 s pass before the watchdog speaks; the last frame
    // went at most half a second before the pause.
    EXPECT_GE(Clock::now() - silentFrom, 4s);
    // The port stays open and the line counts as connected.
    EXPECT_EQ(Pane(*s, "mux"), u"MUX CONNECTED ");
    EXPECT_EQ(Pane(*s, "port"), u"PORT: OPENED");
    ASSERT_TRUE(sim.Resume());
    CloseBoth(SIGHUP);
}

}  // namespace
}  // namespace kestrel::e2e

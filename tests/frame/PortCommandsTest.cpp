// "Port Open" and "Port Settings..." over a pseudo-terminal on COM1 and an absent COM2, and a
// pseudo-terminal mapped to COM3 in the settings.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>

#include "FrameFixture.h"
#include "frame/CDeviceDlg.h"
#include "frame/CPortSettingsDlg.h"
#include "frame/CommandIds.h"
#include "frame/OpenFailure.h"
#include "link/SerialDevice.h"
#include "monitor/FrameWriter.h"
#include "../link/LinkTestSupport.h"

namespace kestrel::test {
namespace {

// An answer for the port settings dialog: pick a list index (or leave it) and press OK.
std::function<int(QDialog&)> ChoosePort(int index) {
    return [index](QDialog& d) {
        auto& dialog = dynamic_cast<CPortSettingsDlg&>(d);
        if (index >= 0) {
            qobject_cast<QComboBox*>(dialog.Control(544))->setCurrentIndex(index);
        }
        dialog.accept();
        return static_cast<int>(QDialog::Accepted);
    };
}

class PortCommands : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        ASSERT_FALSE(pty.path.empty());
        resolver = DeviceResolver();
        resolver.SetPath(1, pty.path);
        resolver.SetPath(2, dir.filePath(QStringLiteral("no-such-device")).toStdString());
        resolver.SetPath(3, "/fake/never");
        resolver.SetPath(4, "/fake/never");
    }
    CMainFrame& CreateOnPty() { return Create(MakePosixSerialDeviceFactory()); }
    bool FramesFlow() {
        const auto before = state.frameCount.load();
        return pty.Send(WriteFrame(StatusFrame{})) &&
               QTest::qWaitFor([&] { return state.frameCount.load() > before; });
    }

    PtyPair pty;  // the test writes to the master what a MUX would send
};

// A missing device says so and why, and the port stays closed; opens and closes keep the
// thread's suspension count in step.
TEST_F(PortCommands, OpenAndCloseKeepTheSuspensionCountInStep) {
    CMainFrame& f = CreateOnPty();
    EXPECT_EQ(f.Session().Comm()->SuspendCount(), 1);
    // Changing the port while closed is silent; the number reaches the driver at the open.
    prompts.dialogAnswers.push_back(ChoosePort(1));
    Trigger(cmd::kPortSettings);
    EXPECT_EQ(f.Settings().portNumber, 2);
    EXPECT_EQ(f.PaneText(59142), u"COM: 2");
    EXPECT_TRUE(prompts.shown.empty());
    Trigger(cmd::kPortOpen);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, u"Device Not Availlable");
    EXPECT_EQ(prompts.shown[0].caption, u"Port Open Error");
    EXPECT_TRUE(prompts.shown[0].detail.contains(dir.filePath(QStringLiteral("no-such-device"))));
    EXPECT_TRUE(prompts.shown[0].detail.contains(u"does not exist"));
    EXPECT_FALSE(f.Action(cmd::kPortOpen)->isChecked());
    EXPECT_EQ(f.Settings().portOpen, 0);
    EXPECT_EQ(f.Session().Comm()->SuspendCount(), 1);
    prompts.dialogAnswers.push_back(ChoosePort(0));
    Trigger(cmd::kPortSettings);
    for (int round = 0; round < 2; ++round) {
        Trigger(cmd::kPortOpen);
        EXPECT_TRUE(f.Action(cmd::kPortOpen)->isChecked());
        EXPECT_EQ(f.PaneText(59143), u"PORT: OPENED");
        EXPECT_EQ(f.Session().Comm()->SuspendCount(), 0);
        EXPECT_EQ(f.Session().Comm()->DevicePath(), pty.path);
        EXPECT_TRUE(FramesFlow());
        Trigger(cmd::kPortOpen);
        EXPECT_FALSE(f.Action(cmd::kPortOpen)->isChecked());
        EXPECT_EQ(f.PaneText(59143), u"PORT: CLOSED");
        EXPECT_EQ(f.Session().Comm()->SuspendCount(), 1);
    }
    EXPECT_EQ(prompts.shown.size(), 1u);
}

// Cancel, or OK on the same port, changes nothing; another port while open closes it first.
TEST_F(PortCommands, PortSettingsWhileOpen) {
    CMainFrame& f = CreateOnPty();
    Trigger(cmd::kPortOpen);
    const PortSettings before = f.Settings();
    prompts.dialogAnswers.push_back([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
    prompts.dialogAnswers.push_back(ChoosePort(0));
    // OK with the same port, whatever else came back, stores nothing.
    prompts.dialogAnswers.push_back([](QDialog& d) {
        auto& dialog = dynamic_cast<CPortSettingsDlg&>(d);
        dialog.accept();
        dialog.baudIndex = 0;
        return static_cast<int>(QDialog::Accepted);
    });
    for (int i = 0; i < 3; ++i) {
        Trigger(cmd::kPortSettings);
        EXPECT_EQ(f.Settings(), before);
        EXPECT_EQ(f.Session().Comm()->SuspendCount(), 0);
    }
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(FramesFlow());

    // Another port while open closes it first. What the user sees while the box is up, and
    // what a link-watch tick meets then.
    int portOpenDuringBox = -1;
    prompts.onExclamation = [&] {
        portOpenDuringBox = f.Settings().portOpen;
        f.LinkWatch();
    };
    prompts.dialogAnswers.push_back(ChoosePort(1));
    Trigger(cmd::kPortSettings);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, u"Plese Set Port Open");
    EXPECT_EQ(prompts.shown[0].caption, u"Port Open");
    EXPECT_EQ(portOpenDuringBox, 0);
    EXPECT_EQ(state.connected.load(), 0);
    EXPECT_EQ(f.PaneText(59142), u"COM: 2");
    EXPECT_EQ(f.PaneText(59143), u"PORT: CLOSED");
    EXPECT_FALSE(f.Action(cmd::kPortOpen)->isChecked());
    EXPECT_EQ(f.Session().Comm()->SuspendCount(), 1);
    // At the next close: the new port, closed.
    f.close();
    EXPECT_EQ(Setting(QStringLiteral("Settings/ActivePort")), u"2");
    EXPECT_EQ(Setting(QStringLiteral("Settings/PortOpen")), u"0");
}

TEST_F(FrameFixture, PortSettingsDialogShowsTheTemplate) {
    PortSettings s;
    s.portNumber = 3;
    CPortSettingsDlg dialog(s, nullptr);
    auto* port = qobject_cast<QComboBox*>(dialog.Control(544));
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->isEnabled());
    EXPECT_EQ(port->currentIndex(), 2);
    // The line's fixed settings, shown and not to be changed.
    for (const auto& [id, shown] : {std::pair{545, "9600 bit/s"}, std::pair{546, "8 bits"},
                                    std::pair{547, "None"}, std::pair{548, "1"}}) {
        auto* box = qobject_cast<QComboBox*>(dialog.Control(id));
        ASSERT_NE(box, nullptr) << id;
        EXPECT_EQ(box->currentText(), QString::fromLatin1(shown));
        EXPECT_FALSE(box->isEnabled());
    }
    for (int id : {549, 550, 551}) {
        auto* c = qobject_cast<QCheckBox*>(dialog.Control(id));
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->isChecked());
        EXPECT_FALSE(c->isEnabled());
    }
    // A stored number outside the list: no selection, and OK without a choice gives 0.
    s.portNumber = 7;
    CPortSettingsDlg outside(s, nullptr);
    EXPECT_EQ(qobject_cast<QComboBox*>(outside.Control(544))->currentIndex(), -1);
    outside.accept();
    EXPECT_EQ(outside.GetSettings().portNumber, 0);
}

TEST(OpenFailure, DetailNamesTheDeviceAndTheFix) {
    struct Case {
        std::string path;
        int error;
        const char* says;
        const char* neverSays;
    };
    const Case cases[] = {
        {"/dev/ttyUSB7", ENOENT, "--device", nullptr},
        {"/dev/ttyS1", EBUSY, "in use", nullptr},
        {"/x", EIO, "/x", nullptr},
        // No path: the port is named, and no double blank stands where the path would.
        {"", ENOENT, "COM0", "  "},
        // A device that exists but belongs to root: no advice to join root's group.
        {"/dev/null", EACCES, "udev rule", "usermod"},
    };
    for (const auto& c : cases) {
        const QString detail = OpenFailureDetail(c.path, c.error);
        EXPECT_TRUE(detail.contains(QString::fromUtf8(c.says))) << detail.toStdString();
        if (c.neverSays) {
            EXPECT_FALSE(detail.contains(QString::fromUtf8(c.neverSays))) << detail.toStdString();
        }
    }
}

// A device that goes while the port is meant to be open: the pane keeps "PORT: OPENED", its
// tooltip and a short status-bar message say what is going on, a lasting indicator beside the
// panes when the next try is, and all clear when it is back. Unticking "Port Open" ends the
// looking.
TEST_F(PortCommands, ALostDeviceIsShownUntilItIsBack) {
    resolver.SetPath(1, "/fake/com1");
    retry.first = std::chrono::milliseconds(20);
    SetSetting(QStringLiteral("Settings/PortOpen"), QStringLiteral("1"));
    CMainFrame& f = Create();
    QLabel* port = f.Pane(59143);
    auto* retrying = f.statusBar()->findChild<QLabel*>(QStringLiteral("linkRetry"));
    ASSERT_NE(retrying, nullptr);
    const QRegularExpression nextTry(
        QStringLiteral("^Reconnecting: next try at \\d\\d:\\d\\d:\\d\\d$"));
    const QString lost = QStringLiteral("Link lost, reconnecting to /fake/com1");
    struct Step {
        bool gone;
        LinkState state;
        QString shown;
    };
    for (const Step& s : {Step{true, LinkState::Reconnecting, lost}, Step{false, LinkState::Open, {}},
                          Step{true, LinkState::Reconnecting, lost}}) {
        com1->HangUp(s.gone);
        // The news come through the event loop alone: no tick runs here.
        ASSERT_TRUE(QTest::qWaitFor([&] { return port->toolTip() == s.shown; })) << s.gone;
        EXPECT_EQ(f.Session().Link().state, s.state);
        EXPECT_EQ(f.statusBar()->currentMessage(), s.shown);
        EXPECT_EQ(f.PaneText(59143), u"PORT: OPENED");
        EXPECT_EQ(retrying->isVisibleTo(&f), s.gone);
        if (s.gone) {
            EXPECT_TRUE(nextTry.match(retrying->text()).hasMatch())
                << retrying->text().toStdString();
            // Still there once the message has gone.
            f.statusBar()->clearMessage();
            f.LinkWatch();
            EXPECT_TRUE(retrying->isVisibleTo(&f));
        }
    }
    Trigger(cmd::kPortOpen);
    EXPECT_FALSE(retrying->isVisibleTo(&f));
    EXPECT_TRUE(port->toolTip().isEmpty());
    EXPECT_EQ(f.PaneText(59143), u"PORT: CLOSED");
    EXPECT_TRUE(prompts.shown.empty());
}

// "Device...": the adapters present (built-in ports never), read again while the dialog is
// open, and the one chosen stored for the port selected, by its stable name.
TEST_F(PortCommands, TheDeviceChosenIsStoredForTheSelectedPort) {
    const std::string byId = "/dev/serial/by-id/usb-Acme_Cable_A1-if00-port0";
    deviceList = {{byId, "/dev/ttyUSB0", "Acme", "Cable", "A1", "0403", "6001"},
                  {"/dev/ttyS0", "/dev/ttyS0", "", "", "", "", ""}};
    CMainFrame& f = Create();
    QStringList listed;
    prompts.dialogAnswers.push_back([&](QDialog& d) {
        auto& dialog = dynamic_cast<CPortSettingsDlg&>(d);
        qobject_cast<QComboBox*>(dialog.Control(544))->setCurrentIndex(2);
        dialog.findChild<QPushButton*>(QStringLiteral("device"))->click();
        return static_cast<int>(QDialog::Rejected);
    });
    prompts.dialogAnswers.push_back([&](QDialog& d) {
        auto& dialog = dynamic_cast<CDeviceDlg&>(d);
        deviceList.push_back({"/dev/ttyACM0", "/dev/ttyACM0", "", "Modem", "", "", ""});
        dialog.Refresh();  // what the timer does while the dialog is open
        for (int i = 0; i < dialog.List()->count(); ++i) {
            listed << dialog.List()->item(i)->text();
        }
        dialog.List()->setCurrentRow(0);
        dialog.accept();
        return static_cast<int>(QDialog::Accepted);
    });
    Trigger(cmd::kPortSettings);
    EXPECT_EQ(listed, (QStringList{QString::fromStdString(byId) +
                                       QStringLiteral(" (/dev/ttyUSB0)\n    Acme, Cable, serial A1"),
                                   QStringLiteral("/dev/ttyACM0\n    Modem")}));
    EXPECT_EQ(Setting(QStringLiteral("Devices/COM3")), QString::fromStdString(byId));
    EXPECT_EQ(f.Settings().portNumber, 1);  // the port settings themselves were cancelled
}

TEST(OpenFailure, JoiningTheGroupIsAdvisedOnlyWhenItIsSafeAndWorks) {
    struct Case {
        const char* group;
        unsigned mode;
        bool joinAdvised;
    };
    const Case cases[] = {
        {"dialout", 0660, true},  {"uucp", 0660, true},     {"dialout", 0600, false},
        {"dialout", 0640, false}, {"dialout", 0620, false}, {"root", 0660, false},
        {"root", 0600, false},    {"wheel", 0660, false},   {"sudo", 0660, false},
        {"adm", 0660, false},     {"shadow", 0660, false},  {"disk", 0660, false},
    };
    for (const auto& c : cases) {
        const DeviceOwner owner{QStringLiteral("root"), QString::fromLatin1(c.group), c.mode};
        const QString advice = PermissionAdvice("/dev/ttyUSB0", owner);
        const QString join = QStringLiteral("usermod -aG %1").arg(owner.group);
        EXPECT_EQ(advice.contains(join), c.joinAdvised) << c.group << " " << c.mode;
        if (!c.joinAdvised) {
            EXPECT_FALSE(advice.contains(u"usermod -aG")) << advice.toStdString();
            // Who owns it, and the rule that would let the user in.
            EXPECT_TRUE(advice.contains(u"\"root\"")) << advice.toStdString();
            EXPECT_TRUE(advice.contains(u"KERNEL==\"ttyUSB0\"")) << advice.toStdString();
        }
    }
}

}  // namespace
}  // namespace kestrel::test

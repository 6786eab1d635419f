// A main window built from fakes: settings in a temporary folder, fake serial ports, a clock
// and a sleep the test controls, and a record of the start-up and close steps.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/CKestrelDoc.h"
#include "store/SettingsStore.h"
#include "display/LedIcons.h"
#include "frame/CMainFrame.h"
#include "frame/UserPrompts.h"
#include "link/FakeSerialDevice.h"
#include "monitor/MonitorState.h"
#include "performance/HistoryStore.h"
#include "session/MuxSession.h"

namespace kestrel::test {

// Answers every prompt from a queue the test fills beforehand, and records what was asked.
class ScriptedPrompts : public UserPrompts {
public:
    struct Shown {
        QString text, caption, detail;
        bool modal;
    };
    void Exclamation(QWidget*, const QString& text, const QString& caption,
                     const QString& detail) override {
        shown.push_back({text, caption, detail, true});
        if (onExclamation) {
            onExclamation();
        }
    }
    void Notice(QWidget*, const QString& text, const QString& caption) override {
        shown.push_back({text, caption, {}, false});
    }
    QString FileName(QWidget*, const FileDialogRequest& request) override {
        requests.push_back(request);
        if (fileNames.empty()) {
            return {};
        }
        QString n = fileNames.front();
        fileNames.pop_front();
        return n;
    }
    int Exec(QDialog& dialog) override {
        dialogs.push_back(dialog.objectName());
        if (dialogAnswers.empty()) {
            return QDialog::Rejected;
        }
        auto answer = std::move(dialogAnswers.front());
        dialogAnswers.pop_front();
        return answer(dialog);
    }

    std::vector<Shown> shown;
    std::vector<FileDialogRequest> requests;
    std::deque<QString> fileNames;
    std::deque<std::function<int(QDialog&)>> dialogAnswers;
    std::vector<QString> dialogs;
    std::function<void()> onExclamation;
};

inline const LedIcons& TestIcons() {
    static const LedIcons icons = LedIcons::Load();
    return icons;
}

// The application's font at `scale` times its normal size for as long as this lives.
class ScaledAppFont {
public:
    explicit ScaledAppFont(double scale) : normal(QApplication::font()) {
        QFont font = normal;
        font.setPointSizeF(normal.pointSizeF() * scale);
        QApplication::setFont(font);
    }
    ~ScaledAppFont() { QApplication::setFont(normal); }
    ScaledAppFont(const ScaledAppFont&) = delete;
    ScaledAppFont& operator=(const ScaledAppFont&) = delete;

private:
    QFont normal;
};

class FrameFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Each test starts without a line memory, as on a fresh machine: one left by a test
        // before may hold seconds ahead of the machine's clock, which a window tells the user.
        for (const char* port : {"COM1", "COM2", "COM3", "COM4"}) {
            for (const char* suffix : {"", "-wal", "-shm"}) {
                QFile::remove(QString::fromStdString(DefaultHistoryPath(port) + suffix));
            }
        }
        settings = std::make_unique<SettingsStore>(dir.path());
        ports = std::make_shared<FakeSerialPorts>();
        // COM1 and COM2 exist behind test paths; nothing ever resolves to a real device.
        com1 = ports->Add("/fake/com1");
        com2 = ports->Add("/fake/com2");
        resolver.SetPath(1, "/fake/com1");
        resolver.SetPath(2, "/fake/com2");
        resolver.SetPath(3, "/fake/com3-absent");
        resolver.SetPath(4, "/fake/com4-absent");
        document.OnNewDocument();
    }

    void TearDown() override {
        if (frame) {
            frame->close();
            frame.reset();
        }
    }

    // Builds and creates the window; the timers are left to the test.
    CMainFrame& Create(std::unique_ptr<SerialDeviceFactory> devices = nullptr) {
        FrameEnvironment env;
        env.state = &state;
        env.icons = &TestIcons();
        env.settings = settings.get();
        env.document = &document;
        env.prompts = &prompts;
        env.devices =
            devices ? std::move(devices) : std::make_unique<FakeSerialDeviceFactory>(ports);
        env.resolver = resolver;
        env.sleep = [this](std::chrono::milliseconds ms) {
            steps.push_back("Sleep " + std::to_string(ms.count()));
        };
        env.clock = [this] { return now.Now(); };
        env.wallClock = wallClock;
        env.trace = [this](const char* step) { steps.emplace_back(step); };
        env.runTimers = runTimers;
        env.retry = retry;
        env.listDevices = [this] { return deviceList; };
        env.deviceThere = [this](const std::string& path) {
            return ports->Find(path) != nullptr;
        };
        // One record serves several windows in a test; each starts like a fresh process. The
        // window before goes first, as its process would, letting go of its line memory.
        frame.reset();
        state.keepReceiving = 1;
        frame = std::make_unique<CMainFrame>(std::move(env));
        EXPECT_EQ(frame->OnCreate(), 0);
        return *frame;
    }

    // A command as the user gives it, and the update handlers that follow.
    void Trigger(int id) {
        frame->Action(id)->trigger();
        frame->RunUpdateHandlers();
    }
    void SetSetting(const QString& key, const QVariant& value) {
        settings->Raw().setValue(key, value);
        settings->Sync();
    }
    QString Setting(const QString& key) {
        settings->Sync();
        return ValueText(settings->Raw().value(key));
    }

    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> settings;
    std::shared_ptr<FakeSerialPorts> ports;
    std::shared_ptr<FakeSerialLine> com1, com2;
    DeviceResolver resolver;
    CKestrelDoc document;
    ScriptedPrompts prompts;
    MonitorState state;
    // The monotonic clock; the receive thread reads it too, to stamp arrivals.
    struct SharedClock {
        std::atomic<std::chrono::steady_clock::duration> since{std::chrono::hours(1)};
        void operator+=(std::chrono::steady_clock::duration d) { since = since.load() + d; }
        std::chrono::steady_clock::time_point Now() const {
            return std::chrono::steady_clock::time_point(since.load());
        }
    } now;
    // Calendar time of the window's session; empty: the system clock.
    std::function<std::time_t()> wallClock;
    std::vector<std::string> steps;
    RetryPeriods retry;
    bool runTimers = false;  // the window's own timers, for tests of its waking
    std::vector<SerialDeviceInfo> deviceList;
    std::unique_ptr<CMainFrame> frame;
};

}  // namespace kestrel::test

// The application object: LED icons, settings store, document, main window, start-up.
#pragma once

#include <QString>
#include <memory>

#include "store/CKestrelDoc.h"
#include "app/CommandLine.h"
#include "store/SettingsStore.h"
#include "display/LedIcons.h"
#include "frame/UserPrompts.h"
#include "monitor/MonitorState.h"

namespace kestrel {

class CMainFrame;
class SignalCloser;
class StatusFile;

class CKestrelApp {
public:
    // prompts: who answers the program's questions; empty for the real dialogs.
    explicit CKestrelApp(UserPrompts* prompts = nullptr);
    ~CKestrelApp();

    // Start-up: icons, settings store, document, main window (whose creation starts the
    // monitoring), the document of the command line, the recording and the status file asked
    // for, then the window is shown. False ends the process at once.
    bool InitInstance(const CommandLine& commandLine);

    const LedIcons& Icons() const { return icons; }
    CMainFrame* MainFrame() const { return frame.get(); }
    SettingsStore* Settings() const { return settings.get(); }
    CKestrelDoc& Document() { return document; }

private:
    MonitorState state;
    LedIcons icons;
    std::unique_ptr<SettingsStore> settings;
    CKestrelDoc document;
    QtUserPrompts qtPrompts;
    UserPrompts* prompts;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<SignalCloser> signalCloser;
    std::unique_ptr<StatusFile> statusFile;
};

}  // namespace kestrel

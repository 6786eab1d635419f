// The application object and its start-up routine.
#include "app/CKestrelApp.h"

#include <QApplication>
#include <cstdio>

#include "app/AppIcon.h"
#include "app/SignalCloser.h"
#include "frame/CMainFrame.h"
#include "link/LinkDebug.h"

namespace kestrel {

CKestrelApp::CKestrelApp(UserPrompts* prompts) : prompts(prompts ? prompts : &qtPrompts) {}

CKestrelApp::~CKestrelApp() {
    signalCloser.reset();
    frame.reset();
}

bool CKestrelApp::InitInstance(const CommandLine& commandLine) {
    // The six LED pictures are loaded once and shared by every LED of the program.
    icons = LedIcons::Load();
    QApplication::setWindowIcon(AppIcon());

    QString folder = commandLine.settingsDir;
    if (folder.isEmpty()) {
        folder = SettingsStore::FolderFromEnvironment();
    }
    settings = std::make_unique<SettingsStore>(folder);

    // A document named on the command line is opened before the window exists: if it cannot
    // be opened, start-up fails as it would for a window that cannot be created.
    if (!commandLine.document.isEmpty()) {
        QString error;
        if (!document.OnOpenDocument(commandLine.document, &error)) {
            prompts->Exclamation(nullptr, QStringLiteral("Failed to open document."),
                                 QStringLiteral("Kestrel"),
                                 commandLine.document + QStringLiteral(": ") + error);
            return false;
        }
    } else {
        document.OnNewDocument();
    }

    FrameEnvironment env;
    env.state = &state;
    env.icons = &icons;
    env.settings = settings.get();
    env.document = &document;
    env.prompts = prompts;
    env.devices = MakePosixSerialDeviceFactory();
    if (LinkDebugEnabled()) {
        env.trace = [](const char* step) { std::fprintf(stderr, "kestrel: %s\n", step); };
    }
    for (const auto& [n, path] : settings->ReadDevicePaths()) {
        env.resolver.SetPath(n, path);
    }
    for (const auto& [n, path] : commandLine.devices) {
        env.resolver.SetPath(n, path);
    }
    frame = std::make_unique<CMainFrame>(std::move(env));
    // From here on a termination signal closes the window the ordinary way, also one that
    // arrives while the window is still being created.
    signalCloser = std::make_unique<SignalCloser>(frame.get());
    if (frame->OnCreate() != 0) {
        signalCloser.reset();
        frame.reset();
        return false;
    }
    if (!commandLine.document.isEmpty()) {
        frame->OpenDocumentFile(commandLine.document);
    }
    // Help pages or notices left open do not keep the program alive once the window has gone.
    QObject::connect(frame.get(), &CMainFrame::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    frame->show();
    return true;
}

}  // namespace kestrel

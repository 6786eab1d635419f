// The application object and its start-up routine.
#include "app/CKestrelApp.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "app/SignalCloser.h"
#include "app/StatusFile.h"
#include "frame/AppIcon.h"
#include "frame/CMainFrame.h"
#include "link/LinkDebug.h"
#include "metrics/MetricsExporter.h"

namespace kestrel {

CKestrelApp::CKestrelApp(UserPrompts* prompts) : prompts(prompts ? prompts : &qtPrompts) {}

CKestrelApp::~CKestrelApp() {
    statusFile.reset();
    signalCloser.reset();
    frame.reset();
}

// Serves the window's MUX as Prometheus metrics, published after each panel refresh. The
// server lives as long as the connection that publishes, that is as long as the window.
// While the window keeps its own parser, its figures are read from its monitor state; once it
// runs a MuxSession, FiguresOf(name, session) gives the same with the line memory's totals.
bool AttachMetrics(CMainFrame& frame, const QString& listen) {
    std::string error;
    std::shared_ptr<MetricsExporter> exporter = MetricsExporter::Start(listen.toStdString(), error);
    if (!exporter) {
        std::fprintf(stderr, "kestrel: --metrics: %s\n", error.c_str());
        return false;
    }
    std::fprintf(stderr, "kestrel: metrics at http://%s/metrics\n", exporter->Address().c_str());
    auto publish = [exporter, window = &frame] {
        const PortSettings port = window->Settings();
        exporter->Publish({FiguresOf("COM" + std::to_string(port.portNumber), window->Session())});
    };
    QObject::connect(&frame.PanelRefreshTimer(), &QTimer::timeout, &frame, publish);
    publish();
    return true;
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
    if (!settings->Problem().isEmpty()) {
        std::fprintf(stderr, "kestrel: cannot read the settings in %s (%s); starting with the "
                     "defaults, and this run's changes are not saved\n",
                     QFile::encodeName(settings->FileName()).constData(),
                     settings->Problem().toLocal8Bit().constData());
    }

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
    // An unattended recording that cannot be made is no reason to watch the line unrecorded.
    if (!commandLine.recordFile.isEmpty()) {
        QString reason;
        if (!frame->StartStatistics(commandLine.recordFile, &reason)) {
            std::fprintf(stderr, "kestrel: cannot record statistics in %s: %s\n",
                         QFile::encodeName(commandLine.recordFile).constData(),
                         reason.toLocal8Bit().constData());
            signalCloser.reset();
            frame.reset();
            return false;
        }
    }
    QString statusPath = commandLine.statusFile;
    if (statusPath.isEmpty()) {
        statusPath = qEnvironmentVariable("KESTREL_STATUS_FILE");
    }
    if (!statusPath.isEmpty()) {
        // Connected after the window's own handlers, so each write shows the tick's outcome.
        statusFile = std::make_unique<StatusFile>(*frame, statusPath);
        StatusFile* file = statusFile.get();
        QObject::connect(&frame->PanelRefreshTimer(), &QTimer::timeout, frame.get(),
                         [file] { file->Write(); });
        QObject::connect(&frame->LinkWatchTimer(), &QTimer::timeout, frame.get(),
                         [file] { file->Write(); });
        QObject::connect(frame.get(), &CMainFrame::Closed, frame.get(),
                         [file] { file->Write(true); });
    }
    if (!commandLine.metrics.isEmpty() && !AttachMetrics(*frame, commandLine.metrics)) {
        signalCloser.reset();
        frame.reset();
        return false;
    }
    // Help pages or notices left open do not keep the program alive once the window has gone.
    QObject::connect(frame.get(), &CMainFrame::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    frame->show();
    return true;
}

}  // namespace kestrel

// kestrel-headless: watches MUXes without a window, driven by a QtCore event loop.
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "headless/Config.h"
#include "headless/MuxHost.h"
#include "metrics/MetricsExporter.h"

namespace {

using kestrel::headless::MuxHost;

using kestrel::headless::Priority;

// Standard error goes to journald when systemd says so (JOURNAL_STREAM names the very stream):
// only then do the lines carry their syslog priority, which journald takes off and keeps.
bool ToJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    if (stream == nullptr || ::fstat(STDERR_FILENO, &st) != 0) {
        return false;
    }
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) == stream;
}

void LogLine(Priority priority, const std::string& line) {
    static const bool journal = ToJournal();
    // One write per line, so lines of a busy moment never interleave in the journal.
    std::string text;
    if (journal) {
        text.append(1, '<').append(std::to_string(static_cast<int>(priority))).append(1, '>');
    }
    text.append(line).append(1, '\n');
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
}

// Every MUX shares the same few timers: the process wakes a handful of times a second
// however many MUXes it watches.
class Monitor {
public:
    Monitor(const kestrel::headless::Config& config) {
        for (const auto& mux : config.muxes) {
            hosts.push_back(std::make_unique<MuxHost>(mux, config.statusDir, LogLine));
        }
        Every(panel, kestrel::Supervision::kPanelRefreshMs, &MuxHost::PanelTick);
        Every(link, kestrel::Supervision::kLinkWatchMs, &MuxHost::LinkTick);
        Every(flush, kestrel::MonitorState::logFlushPeriodMs, &MuxHost::FlushTick);
    }

    void Start() {
        for (auto& h : hosts) {
            h->Start();
        }
        panel.start();
        link.start();
        flush.start();
        // As the window does: the line settles for a second before the threads read it.
        QTimer::singleShot(1000, [this] {
            for (auto& h : hosts) {
                h->Resume();
            }
        });
    }

    void Stop() {
        for (QTimer* t : {&panel, &link, &flush}) {
            t->stop();
        }
        for (auto& h : hosts) {
            h->Close();
        }
    }

    // Metrics: after every panel refresh, the figures of every MUX as a scrape shows them.
    void PublishTo(kestrel::MetricsExporter& exporter) {
        auto publish = [this, &exporter] {
            std::vector<kestrel::MuxFigures> figures;
            figures.reserve(hosts.size());
            for (auto& h : hosts) {
                figures.push_back(
                    kestrel::FiguresOf(h->Config().name, h->Session(), h->Config().device));
            }
            exporter.Publish(std::move(figures));
        };
        QObject::connect(&panel, &QTimer::timeout, publish);
        publish();
    }

private:
    void Every(QTimer& timer, int ms, void (MuxHost::*tick)()) {
        timer.setInterval(ms);
        QObject::connect(&timer, &QTimer::timeout, [this, tick] {
            for (auto& h : hosts) {
                (h.get()->*tick)();
            }
        });
    }

    std::vector<std::unique_ptr<MuxHost>> hosts;
    QTimer panel, link, flush;
};

}  // namespace

int main(int argc, char** argv) {
    kestrel::headless::Config config;
    std::string error;
    if (!kestrel::headless::ParseHeadless(std::vector<std::string>(argv + 1, argv + argc), config,
                                          error)) {
        LogLine(Priority::Error, "kestrel-headless: " + error);
        return 2;
    }
    if (config.help) {
        std::fputs(kestrel::headless::HeadlessUsage().c_str(), stdout);
        return 0;
    }
    if (config.version) {
        std::printf("%s\n", kestrel::headless::kHeadlessVersion);
        return 0;
    }
    // Everything that can be known before a start was checked above; opening the devices
    // and listening for metrics are what a start does, so --check stops short of them.
    if (config.check) {
        return 0;
    }

    // The stop signals are taken from a descriptor in the event loop. They are blocked before
    // any thread exists, so every receive thread inherits the mask and none of them is ever
    // interrupted by one.
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stops, s);
    }
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int stopFd = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    if (stopFd < 0) {
        std::perror("kestrel-headless: signalfd");
        return 1;
    }

    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    Monitor monitor(config);
    // Metrics: the server's thread starts here, after the stop signals were blocked.
    std::unique_ptr<kestrel::MetricsExporter> metrics;
    if (!config.metrics.empty()) {
        metrics = kestrel::MetricsExporter::Start(config.metrics, config.metricsWeb, error);
        if (!metrics) {
            LogLine(Priority::Error, "kestrel-headless: metrics: " + error);
            return 1;
        }
        std::string where = "kestrel-headless: metrics at ";
        where += config.metricsWeb.Tls() ? "https://" : "http://";
        where += metrics->Address();
        where += config.metricsWeb.users.empty() ? "/metrics" : "/metrics (basic authentication)";
        LogLine(Priority::Info, where);
        monitor.PublishTo(*metrics);
    }
    QSocketNotifier notifier(stopFd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        signalfd_siginfo info{};
        if (::read(stopFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            LogLine(Priority::Info, std::string("kestrel-headless: ") +
                    strsignal(static_cast<int>(info.ssi_signo)) + "; stopping");
        }
        notifier.setEnabled(false);
        QCoreApplication::quit();
    });
    monitor.Start();
    const int status = QCoreApplication::exec();
    monitor.Stop();
    ::close(stopFd);
    return status;
}

// kestrel-headless: watches MUXes without a window, driven by a QtCore event loop.
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "headless/Config.h"
#include "headless/MuxHost.h"
#include "link/LinkDebug.h"
#include "metrics/MetricsExporter.h"
#include "snmp/SnmpAgent.h"
#include "snmp/SwitchedOff.h"

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

// The soft limit of open files is often 1,024, which a few hundred MUXes pass (device, database
// with its journal and lock, recording files): it goes up to the hard limit, and a limit too
// low even then is said at the start rather than as a hundred failed opens later.
void RaiseOpenFiles(std::size_t muxes) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    constexpr rlim_t kPerMux = 10;   // device, wake-up, database, journal, memory, lock, CSVs
    // The metrics server's clients (up to 1024), the event loop, the standard streams.
    constexpr rlim_t kProcess = 1024 + 64;
    const rlim_t needed = kProcess + kPerMux * muxes;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        LogLine(Priority::Warning,
                "kestrel-headless: " + std::to_string(muxes) + " MUXes need up to " +
                    std::to_string(needed) + " open files, but only " +
                    std::to_string(limit.rlim_cur) +
                    " are allowed: some devices, databases or recordings will fail to open. "
                    "Raise the hard limit (LimitNOFILE= in the service unit, ulimit -Hn).");
    }
}

// Every MUX shares the same few timers: the process wakes a handful of times a second
// however many MUXes it watches.
class Monitor {
public:
    explicit Monitor(const kestrel::headless::Config& config) : config(config) {
        for (std::size_t i = 0; i < config.muxes.size(); ++i) {
            positions[config.muxes[i].name] = static_cast<int>(i) + 1;
        }
        panel.setInterval(kestrel::Supervision::kPanelRefreshMs);
        QObject::connect(&panel, &QTimer::timeout, [this] { PanelTick(); });
        Every(link, kestrel::Supervision::kLinkWatchMs, &MuxHost::LinkTick);
        Every(flush, kestrel::MonitorState::logFlushPeriodMs, &MuxHost::FlushTick);
    }

    // The MUXes open on a few threads of their own: opening a database waits for the disk,
    // so a thousand of them open in parallel, and the event loop hears a stop signal at any
    // moment of the start-up. Each MUX is handed over to the event loop's thread once open,
    // and only that thread touches it from then on.
    void Start() {
        startedAt = std::chrono::steady_clock::now();
        panel.start();
        link.start();
        flush.start();
        for (std::size_t i = 0; i < std::min<std::size_t>(kWorkers, config.muxes.size()); ++i) {
            openers.emplace_back([this] { OpenSome(); });
        }
    }

    // Every MUX opened so far closes, each writing its closing rows, and goes; those not yet
    // opened are left alone. The closes run in parallel too: each waits for its files and its
    // database to be written.
    void Stop() {
        stopping = true;
        for (auto& t : openers) {
            t.join();
        }
        openers.clear();
        TakeOpened();
        for (QTimer* t : {&panel, &link, &flush}) {
            t->stop();
        }
        std::atomic<std::size_t> next{0};
        std::vector<std::thread> closers;
        for (std::size_t i = 0; i < std::min<std::size_t>(kWorkers, hosts.size()); ++i) {
            closers.emplace_back([this, &next] {
                for (std::size_t h; (h = next++) < hosts.size();) {
                    hosts[h]->Close();
                    hosts[h].reset();  // the database closes, its last write on disk
                }
            });
        }
        for (auto& t : closers) {
            t.join();
        }
    }

    // Metrics: after every panel refresh, the figures of every MUX as a scrape shows them.
    void PublishTo(kestrel::MetricsExporter& to) {
        exporter = &to;
        std::vector<kestrel::MuxFigures> figures;
        for (auto& h : hosts) {
            figures.push_back(FiguresOf(*h));
        }
        exporter->Publish(std::move(figures));
    }

    // SNMP: after every panel refresh, every MUX's lines as the subagent answers them. The
    // notifications managers switched off stay off across restarts, in the state folder.
    void ServeSnmp(kestrel::snmp::SnmpAgent& to) {
        agent = &to;
        switched = std::make_unique<kestrel::snmp::SwitchedOff>(config.stateDir +
                                                                "/snmp-notifications-off");
        if (!switched->Fault().empty()) {
            LogLine(Priority::Warning, "kestrel-headless: snmp: " + switched->Fault() +
                                           "; every line's notifications are on");
        }
    }

private:
    static constexpr std::size_t kWorkers = 8;

    void OpenSome() {
        for (std::size_t i; !stopping && (i = nextToOpen++) < config.muxes.size();) {
            auto host = std::make_unique<MuxHost>(config.muxes[i], config.statusDir, LogLine);
            host->Start();
            {
                std::lock_guard<std::mutex> lock(openedMutex);
                opened.push_back(std::move(host));
            }
            QMetaObject::invokeMethod(
                &panel, [this] { TakeOpened(); }, Qt::QueuedConnection);
        }
    }

    void TakeOpened() {
        std::vector<std::unique_ptr<MuxHost>> batch;
        {
            std::lock_guard<std::mutex> lock(openedMutex);
            batch.swap(opened);
        }
        if (batch.empty()) {
            return;
        }
        const std::size_t from = hosts.size();
        for (auto& h : batch) {
            if (agent != nullptr) {
                const int position = positions.at(h->Config().name);
                trackers.push_back(
                    std::make_unique<kestrel::snmp::LineTracker>(h->Config().name, position));
                for (int line = 0; line < kestrel::snmp::kLinesPerMux; ++line) {
                    if (switched->Off(h->Config().name, line)) {
                        trackers.back()->SetTrapEnable(line, false);
                    }
                }
                trackerAt[position] = trackers.back().get();
            }
            hosts.push_back(std::move(h));
        }
        // As the window does: the line settles for a second before the threads read it.
        QTimer::singleShot(1000, &panel, [this, from, to = hosts.size()] {
            for (std::size_t h = from; h < to; ++h) {
                hosts[h]->Resume();
            }
        });
        if (hosts.size() == config.muxes.size()) {
            char took[32];
            std::snprintf(
                took, sizeof took, "%.1f",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt)
                    .count());
            LogLine(Priority::Info, "kestrel-headless: watching " + std::to_string(hosts.size()) +
                                        " MUXes, opened in " + took + " s");
            // Opening left each opener thread's heap with the room its parsing took and gave
            // back; a thousand MUXes leave tens of megabytes of it.
            ::malloc_trim(0);
        }
    }

    static kestrel::MuxFigures FiguresOf(MuxHost& h) {
        return kestrel::FiguresOf(h.Config().name, h.Session(), h.Config().device);
    }

    // Each MUX's figures are taken right after its refresh, while what they are read from is
    // still in the processor's cache: a second walk over a thousand MUXes cost nearly as much
    // again.
    void PanelTick() {
        const auto began = std::chrono::steady_clock::now();
        std::vector<kestrel::MuxFigures> figures;
        if (exporter != nullptr) {
            figures.reserve(hosts.size());
        }
        std::shared_ptr<kestrel::snmp::Snapshot> lines;
        std::vector<kestrel::snmp::Notification> notifications;
        if (agent != nullptr) {
            TakeSnmpWrites();
            lines = std::make_shared<kestrel::snmp::Snapshot>();
            lines->muxes.reserve(hosts.size());
        }
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            MuxHost& h = *hosts[i];
            h.PanelTick();
            if (exporter != nullptr) {
                figures.push_back(FiguresOf(h));
            }
            if (agent != nullptr) {
                lines->muxes.push_back(trackers[i]->Take(
                    h.Session().Memory(), h.Session().LineNow(), began, notifications));
            }
        }
        if (exporter != nullptr) {
            exporter->Publish(std::move(figures));
        }
        if (agent != nullptr) {
            std::sort(lines->muxes.begin(), lines->muxes.end(),
                      [](const auto& a, const auto& b) { return a.position < b.position; });
            agent->Publish(std::move(lines), std::move(notifications));
        }
        // With KESTREL_DEBUG, how late each refresh came and how long it took: what a load on
        // the process (a walk, a scrape) costs the monitoring.
        if (kestrel::LinkDebugEnabled()) {
            using ms = std::chrono::duration<double, std::milli>;
            const double late =
                lastTick ? ms(began - *lastTick).count() - kestrel::Supervision::kPanelRefreshMs
                         : 0.0;
            kestrel::LinkDebug("panel tick late %.1f ms, took %.1f ms", late,
                               ms(std::chrono::steady_clock::now() - began).count());
        }
        lastTick = began;
    }

    // A manager's SET of a line's notification switch reaches its MUX's tracker.
    void TakeSnmpWrites() {
        for (const auto& w : agent->TakeWrites()) {
            const auto offset = w.line - kestrel::snmp::kIndexBase;
            const auto t =
                trackerAt.find(static_cast<int>(offset / kestrel::snmp::kIndexStride));
            if (t == trackerAt.end()) {
                continue;
            }
            const int line = static_cast<int>(offset % kestrel::snmp::kIndexStride);
            t->second->SetTrapEnable(line, w.enable);
            const std::string& name = config.muxes[static_cast<std::size_t>(t->first - 1)].name;
            if (const std::string fault = switched->Set(name, line, !w.enable); !fault.empty()) {
                LogLine(Priority::Warning, "kestrel-headless: snmp: " + fault +
                                               "; the switch holds until the monitor stops");
            }
        }
    }

    void Every(QTimer& timer, int ms, void (MuxHost::*tick)()) {
        timer.setInterval(ms);
        QObject::connect(&timer, &QTimer::timeout, [this, tick] {
            for (auto& h : hosts) {
                (h.get()->*tick)();
            }
        });
    }

    const kestrel::headless::Config& config;
    std::vector<std::unique_ptr<MuxHost>> hosts;
    kestrel::MetricsExporter* exporter = nullptr;
    kestrel::snmp::SnmpAgent* agent = nullptr;
    std::unique_ptr<kestrel::snmp::SwitchedOff> switched;
    std::optional<std::chrono::steady_clock::time_point> lastTick;
    std::map<std::string, int> positions;  // each MUX's place in the configuration, from 1
    std::vector<std::unique_ptr<kestrel::snmp::LineTracker>> trackers;  // beside hosts
    std::map<int, kestrel::snmp::LineTracker*> trackerAt;                // by position
    QTimer panel, link, flush;
    std::chrono::steady_clock::time_point startedAt;
    std::vector<std::thread> openers;
    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> nextToOpen{0};
    std::mutex openedMutex;
    std::vector<std::unique_ptr<MuxHost>> opened;  // open, not yet taken by the event loop
};

}  // namespace

int main(int argc, char** argv) {
    // Each MUX's many small blocks are made on the opener threads, and what opening needed only
    // for a while is freed there too: one heap keeps that tidier than one per thread (15 MB less
    // at a thousand MUXes), and large blocks (a scrape's text) go back to the system when freed.
    ::mallopt(M_ARENA_MAX, 1);
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
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
    RaiseOpenFiles(config.muxes.size());

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
    // SNMP first: the agent sets the environment it starts with while no other thread runs.
    std::unique_ptr<kestrel::snmp::SnmpAgent> snmpAgent;
    if (!config.snmp.empty()) {
        kestrel::snmp::SnmpAgent::Options options;
        options.master = config.snmp;
        options.muxes = static_cast<int>(config.muxes.size());
        options.interfaces = config.snmpInterfaces;
        snmpAgent = kestrel::snmp::SnmpAgent::Start(options, [](bool problem, const std::string& line) {
            LogLine(problem ? Priority::Warning : Priority::Info, "kestrel-headless: " + line);
        });
        if (snmpAgent) {
            monitor.ServeSnmp(*snmpAgent);
        }
    }
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
    // The master drops the lines at once rather than when it next finds the subagent gone.
    snmpAgent.reset();
    // Everything is written and closed; what is left (the metrics server and its clients, the
    // event loop) holds nothing to keep, and a service manager counts every moment of the
    // stop, so the process ends here.
    ::_exit(status);
}

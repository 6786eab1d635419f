// What SNMP walks cost kestrel-headless as an AgentX subagent of a real snmpd, watching N quiet
// simulated MUXes with line memory and status pictures on, the first with a day of intervals:
// the time and varbinds of bulk walks of every current table, of the first MUX's interval
// tables and of the ifTable; how late and how long the panel refreshes were during the walks
// against a quiet window as long; CPU over both and RSS. One Markdown table row per measure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>

#include "bench/fleet/SimFleet.h"
#include "snmp/MibModel.h"

namespace {

using namespace kestrel::bench;
namespace snmp = kestrel::snmp;

struct Options {
    std::string headless;
    std::string muxSim;
    std::string replay;
    std::string dir;
    int muxes = 50;
    int rounds = 5;  // each walk this many times
};

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) {
            out.append(buffer, n);
        }
        ::pclose(p);
    }
    return out;
}

// A child with stdout and stderr to `log`; `debug` turns on the monitor's tick lines.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& log, bool debug = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::freopen(log.c_str(), "w", stderr) == nullptr ||
            std::freopen("/dev/null", "w", stdout) == nullptr) {
            ::_exit(127);
        }
        if (debug) {
            ::setenv("KESTREL_DEBUG", "1", 1);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::perror("exec");
        ::_exit(127);
    }
    return pid;
}

bool Stop(pid_t pid, std::chrono::seconds limit) {
    ::kill(pid, SIGTERM);
    const auto t = Clock::now();
    int status = 0;
    while (Clock::now() - t < limit) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
}

std::string Dotted(const snmp::Oid& oid) {
    std::string s;
    for (const auto sub : oid) {
        s.append(".").append(std::to_string(sub));
    }
    return s;
}

const snmp::Table& TableOf(const std::string& name) {
    for (const auto& t : snmp::Tables()) {
        if (t.name == name) {
            return t;
        }
    }
    std::abort();
}

class Agent {
public:
    Agent(std::string dir, int port) : dir(std::move(dir)), port(port) {}

    struct Count {
        long all = 0;
        long lineRows = 0;  // of the MUXes' lines: the host's own interfaces left out
    };
    // The varbinds of a bulk walk under `oid`.
    Count Walk(const std::string& oid) const {
        const std::string out = Output("SNMP_PERSISTENT_DIR=" + dir +
                                       "/client MIBS= snmpbulkwalk -v2c -c public "
                                       "-On -Oqt -t 5 -r 0 -Cr50 127.0.0.1:" +
                                       std::to_string(port) + " " + oid + " 2>/dev/null");
        Count n;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            const auto blank = line.find(' ');
            if (blank == std::string::npos || line.rfind(oid + ".", 0) != 0 ||
                line.find(" No Such ") != std::string::npos) {
                continue;
            }
            const auto dot = line.rfind('.', blank);
            ++n.all;
            if (std::strtoul(line.c_str() + dot + 1, nullptr, 10) >= snmp::kIndexBase) {
                ++n.lineRows;
            }
        }
        return n;
    }
    bool Answers() const {
        return Output("SNMP_PERSISTENT_DIR=" + dir +
                      "/client MIBS= snmpget -v2c -c public -On "
                      "-Oqt -t 1 -r 0 127.0.0.1:" +
                      std::to_string(port) + " .1.3.6.1.2.1.1.3.0 2>/dev/null")
                   .rfind(".1.3.6.1.2.1.1.3.0 ", 0) == 0;
    }

private:
    std::string dir;
    int port;
};

// One group of walks: what it asks for and how many varbinds it must return.
struct Walks {
    std::string name;
    std::vector<std::string> oids;
    long expected = 0;
    bool lineRows = false;  // count only the MUXes' rows against `expected`
    std::vector<double> seconds;
    long varbinds = 0;  // of the last round
    long total = 0;     // every row, the host's own too
};

struct Ticks {
    std::vector<double> late, took;
};

// The panel tick lines the monitor wrote between two offsets of its log.
Ticks TicksBetween(const std::string& log, std::size_t from, std::size_t to) {
    Ticks t;
    const std::string text = ReadAll(log);
    std::istringstream in(text.substr(std::min(from, text.size()), to - from));
    const std::string mark = "panel tick late ";
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find(mark);
        double late = 0, took = 0;
        if (at != std::string::npos && std::sscanf(line.c_str() + at + mark.size(),
                                                   "%lf ms, took %lf ms", &late, &took) == 2) {
            t.late.push_back(late);
            t.took.push_back(took);
        }
    }
    return t;
}

std::size_t Size(const std::string& path) {
    std::error_code e;
    const auto n = std::filesystem::file_size(path, e);
    return e ? 0 : static_cast<std::size_t>(n);
}

// Nearest rank.
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100 * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

std::string Spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    char b[64];
    std::snprintf(b, sizeof b, "%.2f / %.2f / %.2f s", v.front(), v[v.size() / 2], v.back());
    return b;
}

std::string TickCell(const Ticks& t) {
    char b[96];
    std::snprintf(b, sizeof b, "late %.0f / %.0f ms, took %.1f / %.1f ms (%zu ticks)",
                  Percentile(t.late, 99), Percentile(t.late, 100), Percentile(t.took, 99),
                  Percentile(t.took, 100), t.late.size());
    return b;
}

// A day of line memory for the first MUX: the errors scenario over 86,400 s, replayed into
// its database as if it had ended just before the monitor starts, so that every interval
// table holds its 96 quarters.
bool DayOfMemory(const Options& o, const std::string& database) {
    const std::string capture = o.dir + "/day.cap";
    const std::time_t start = std::time(nullptr) - 86500;
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&start));
    const std::string command = "'" + o.muxSim + "' --scenario errors --seconds 86400 --capture '" +
                                capture + "' > /dev/null 2>&1 && '" + o.replay +
                                "' --performance --start " + when + " --db '" + database + "' '" +
                                capture + "' > /dev/null";
    return std::system(command.c_str()) == 0;
}

int Run(const Options& o) {
    RaiseOpenFiles();
    for (const char* sub : {"/status", "/state", "/persist/cert_indexes", "/client"}) {
        std::filesystem::create_directories(o.dir + sub);
    }
    ::chmod((o.dir + "/persist").c_str(), 0700);
    const int port = FreeLoopbackPort(SOCK_DGRAM);
    const std::string socket = o.dir + "/agentx.sock";
    std::ofstream(o.dir + "/snmpd.conf")
        << "[snmp] persistentDir " << o.dir << "/persist\n"
        << "agentAddress udp:127.0.0.1:" << port << "\n"
        << "master agentx\nagentXSocket " << socket << "\nagentXPerms 0660 0770\n"
        << "rocommunity public 127.0.0.1\ndontLogTCPWrappersConnects yes\n";
    const pid_t snmpd = Spawn({"snmpd", "-f", "-C", "-c", o.dir + "/snmpd.conf", "-m", "", "-I",
                               "-smux", "-Lf", o.dir + "/snmpd.log"},
                              o.dir + "/snmpd.err");
    Agent agent(o.dir, port);
    const auto waitFor = [](auto done, std::chrono::seconds limit) {
        for (const auto t = Clock::now(); Clock::now() - t < limit;) {
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(200ms);
        }
        return false;
    };
    if (!waitFor([&] { return agent.Answers(); }, 10s)) {
        std::cerr << "bench: snmpd does not answer\n" << ReadAll(o.dir + "/snmpd.err");
        Stop(snmpd, 5s);
        return 1;
    }
    if (!DayOfMemory(o, o.dir + "/state/m0.sqlite")) {
        std::cerr << "bench: the day of line memory could not be made\n";
        Stop(snmpd, 5s);
        return 1;
    }

    Fleet fleet;
    std::string error;
    if (!fleet.Open(o.muxes, error)) {
        std::cerr << "bench: " << error << "\n";
        Stop(snmpd, 5s);
        return 1;
    }
    fleet.Run();
    std::ostringstream config;
    config << "[general]\nstatus-dir=" << o.dir << "/status\nsnmp=" << socket << "\n";
    for (int i = 0; i < o.muxes; ++i) {
        config << "\n[mux/m" << i << "]\ndevice=" << fleet.Path(i) << "\n";
    }
    std::ofstream(o.dir + "/kestrel.ini") << config.str();
    const std::string log = o.dir + "/headless.err";
    const pid_t headless =
        Spawn({o.headless, "--config", o.dir + "/kestrel.ini", "--state-dir", o.dir + "/state"},
              log, true);

    const auto& ifTable = TableOf("ifTable");
    const std::string ifIndexColumn = Dotted(ifTable.entry) + ".1";
    const long lines = static_cast<long>(o.muxes) * snmp::kLinesPerMux;
    const long e1Lines = static_cast<long>(o.muxes) * (snmp::kLinesPerMux - 1);
    const std::string firstE1Column = Dotted(TableOf("dsx1CurrentTable").entry) + ".1";
    const auto attachedAt = Clock::now();
    if (!waitFor(
            [&] {
                return ReadAll(log).find("snmp: attached") != std::string::npos &&
                       agent.Walk(ifIndexColumn).lineRows == lines &&
                       agent.Walk(firstE1Column).all == e1Lines;
            },
            180s)) {
        std::cerr << "bench: not every line in the walk within 180 s\n" << ReadAll(log);
        Stop(headless, 30s);
        Stop(snmpd, 5s);
        return 1;
    }
    const double attached = Since(attachedAt);
    std::this_thread::sleep_for(5s);  // past the first flushes of the databases

    // The walks: every current table; the first MUX's interval tables, column by column and
    // line by line (each column prefix holds one line's 96 quarters); the whole ifTable.
    std::vector<Walks> groups(3);
    groups[0].name = "4 current tables, all MUXes";
    for (const char* id : {"dsx3CurrentTable", "dsx3FarEndCurrentTable", "dsx1CurrentTable",
                           "dsx1FarEndCurrentTable"}) {
        const auto& t = TableOf(id);
        const long rows = t.lines == snmp::Table::Lines::E3 ? o.muxes : e1Lines;
        groups[0].oids.push_back(Dotted(snmp::Oid(t.entry.begin(), t.entry.end() - 1)));
        groups[0].expected += rows * static_cast<long>(t.columns.size());
    }
    groups[1].name = "4 interval tables, MUX 1";
    const snmp::SubId first = snmp::FirstIndexOf(1);
    for (const char* id : {"dsx3IntervalTable", "dsx3FarEndIntervalTable", "dsx1IntervalTable",
                           "dsx1FarEndIntervalTable"}) {
        const auto& t = TableOf(id);
        for (const int column : t.columns) {
            for (int line = 0; line < snmp::kLinesPerMux; ++line) {
                if ((t.lines == snmp::Table::Lines::E3) != (line == 0)) {
                    continue;
                }
                groups[1].oids.push_back(Dotted(t.entry) + "." + std::to_string(column) + "." +
                                         std::to_string(first + static_cast<snmp::SubId>(line)));
                groups[1].expected += snmp::kQuarters;
            }
        }
    }
    groups[2].name = "ifTable";
    groups[2].oids.push_back(Dotted(snmp::Oid(ifTable.entry.begin(), ifTable.entry.end() - 1)));
    groups[2].expected = lines * static_cast<long>(ifTable.columns.size());
    groups[2].lineRows = true;

    const std::size_t walkFrom = Size(log);
    const ProcSample c0 = Sample(headless), s0 = Sample(snmpd);
    const auto walksStart = Clock::now();
    for (int round = 0; round < o.rounds; ++round) {
        for (Walks& g : groups) {
            const auto t = Clock::now();
            long varbinds = 0, total = 0;
            for (const auto& oid : g.oids) {
                const auto n = agent.Walk(oid);
                varbinds += g.lineRows ? n.lineRows : n.all;
                total += n.all;
            }
            g.seconds.push_back(Since(t));
            g.varbinds = round == 0 ? varbinds : std::min(g.varbinds, varbinds);
            g.total = total;
        }
    }
    const double walkWindow = Since(walksStart);
    const ProcSample c1 = Sample(headless), s1 = Sample(snmpd);
    const std::size_t walkTo = Size(log);

    const std::size_t quietFrom = Size(log);
    const ProcSample q0 = Sample(headless), sq0 = Sample(snmpd);
    const auto quietStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(walkWindow));
    const double quietWindow = Since(quietStart);
    const ProcSample q1 = Sample(headless), sq1 = Sample(snmpd);
    const std::size_t quietTo = Size(log);

    const bool stopped = Stop(headless, 60s);
    fleet.Stop();
    Stop(snmpd, 10s);

    const Ticks during = TicksBetween(log, walkFrom, walkTo);
    const Ticks quiet = TicksBetween(log, quietFrom, quietTo);
    std::printf(
        "%d MUXes (%ld lines), attached and every line in the walk %.1f s after the "
        "start; %d rounds of walks in %.1f s\n\n",
        o.muxes, lines, attached, o.rounds, walkWindow);
    std::printf("| walk | time min / median / max | varbinds (expected) |\n");
    std::printf("|------|-------------------------|---------------------|\n");
    int status = stopped ? 0 : 1;
    for (const Walks& g : groups) {
        char extra[64] = "";
        if (g.lineRows) {
            std::snprintf(extra, sizeof extra, ", %ld with the host's", g.total);
        }
        std::printf("| %s (%zu walk%s) | %s | %ld (%ld)%s |\n", g.name.c_str(), g.oids.size(),
                    g.oids.size() == 1 ? "" : "s", Spread(g.seconds).c_str(), g.varbinds,
                    g.expected, extra);
        if (g.varbinds < g.expected) {
            status = 1;
        }
    }
    // The monitor's CPU and RSS; snmpd's CPU beside it tells which side a walk costs.
    std::printf("\n| window | seconds | panel ticks: p99 / max | CPU | RSS | snmpd CPU |\n");
    std::printf("|--------|---------|------------------------|-----|-----|-----------|\n");
    const auto row = [](const char* name, double window, const Ticks& ticks, const ProcSample& a,
                        const ProcSample& b, const ProcSample& sa, const ProcSample& sb) {
        std::printf("| %s | %.1f | %s | %.1f %% | %.1f MB | %.1f %% |\n", name, window,
                    TickCell(ticks).c_str(), 100 * (b.cpuSeconds - a.cpuSeconds) / window,
                    static_cast<double>(b.rssKb) / 1024,
                    100 * (sb.cpuSeconds - sa.cpuSeconds) / window);
    };
    row("walks", walkWindow, during, c0, c1, s0, s1);
    row("quiet", quietWindow, quiet, q0, q1, sq0, sq1);
    if (!stopped) {
        std::cerr << "bench: kestrel-headless did not stop cleanly\n";
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--headless") {
            o.headless = value;
        } else if (key == "--mux-sim") {
            o.muxSim = value;
        } else if (key == "--replay") {
            o.replay = value;
        } else if (key == "--dir") {
            o.dir = value;
        } else if (key == "--muxes") {
            o.muxes = std::stoi(value);
        } else if (key == "--rounds") {
            o.rounds = std::stoi(value);
        } else {
            std::cerr << "bench: unknown option " << key << "\n";
            return 2;
        }
    }
    if (o.headless.empty() || o.muxSim.empty() || o.replay.empty() || o.dir.empty() ||
        o.muxes < 1 || o.rounds < 1) {
        std::cerr << "usage: kestrel-bench-snmp --headless PROGRAM --mux-sim PROGRAM --replay "
                     "PROGRAM --dir EMPTY-FOLDER [--muxes N] [--rounds R]\n";
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    return Run(o);
}

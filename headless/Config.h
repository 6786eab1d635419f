// The headless monitor's configuration: the command line and the INI file of MUXes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "metrics/WebConfig.h"
#include "snmp/SnmpAgent.h"

namespace kestrel::headless {

// One MUX to watch.
struct MuxConfig {
    std::string name;    // from [mux/NAME] or --name; names the log lines and the status file
    std::string device;  // as written: a path or "COMn"
    int portNumber = 1;  // n of "COMn"; 1 for a plain path
    std::string path;    // the device path the port number resolves to
    std::string record;  // the statistics file chosen for "On"; empty: no recording
    // A timed capture of the line's characters, for kestrel-replay; empty: none.
    std::string capture;
    std::string history;  // the line memory's database: STATE-DIR/NAME.sqlite
    // Completed quarters kept in memory: the last one (which late frames may still change),
    // or a day's for the interval tables of SNMP.
    int quartersInMemory = 1;
};

struct Config {
    std::vector<MuxConfig> muxes;
    std::string statusDir;  // empty: no status files
    std::string stateDir;   // where the line memories live; never empty after a parse
    // "[ADDRESS:]PORT" of the Prometheus metrics, as checked; empty: none served.
    std::string metrics;
    // TLS and users for the metrics, as read from metrics-web-config; none by default.
    WebConfig metricsWeb;
    // The AgentX address of the host's SNMP master agent, as checked; empty: no subagent.
    std::string snmp;
    // The lines with IF-MIB rows.
    snmp::Interfaces snmpInterfaces = snmp::Interfaces::All;
    bool help = false;
    bool version = false;
    // --check: the configuration is only read and checked; nothing is opened or started.
    bool check = false;
};

// The largest configuration file read. A thousand MUXes with long device paths, statistics
// files and comments come to some 300 kB; a larger file is not a configuration someone wrote.
inline constexpr std::size_t kMaxConfigBytes = 1024 * 1024;

// Where the line memories live without --state-dir or state-dir=: $STATE_DIRECTORY (the first
// of its folders, as systemd's StateDirectory= sets it), else $XDG_DATA_HOME/kestrel, else
// ~/.local/share/kestrel. Created at the start when missing.
std::string DefaultStateDir();

// Reads the command line (without the program name) and the file it names. False on any
// fault: `error` is then one line naming the file, line, group and key where they apply, and
// nothing has been started. Checks everything that can be known before a start: unknown
// groups, keys and options, a MUX without device, two MUXes with one name, one device or one
// statistics file (the derived G.821 file counts), folders that do not exist or cannot be
// written.
bool ParseHeadless(const std::vector<std::string>& args, Config& config, std::string& error);

std::string HeadlessUsage();
inline constexpr const char* kHeadlessVersion = "kestrel-headless 1.0";

}  // namespace kestrel::headless

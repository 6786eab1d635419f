// Command line and configuration file of the headless monitor, checked before anything starts.
#include "headless/Config.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "files/RegularFile.h"
#include "link/CComm.h"
#include "link/NetworkSerialDevice.h"
#include "metrics/MetricsExporter.h"
#include "snmp/SnmpAgent.h"
#include "performance/HistoryStore.h"
#include "stats/StatisticsLog.h"

namespace kestrel::headless {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Names end up in file names and at the head of log lines: keep them plain.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.' || name[0] == '-') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

// "COM" and a number, as the window names its ports.
std::optional<int> ComNumber(const std::string& device) {
    if (device.size() < 4 || device.compare(0, 3, "COM") != 0 || device.size() > 6 ||
        !std::all_of(device.begin() + 3, device.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoi(device.substr(3));
}

// A value from the configuration as a message shows it: a broken or binary file must not put
// terminal controls or a megabyte of one line into the log.
std::string Shown(const std::string& value) {
    return Printable(value, 80);
}

// Where a file really goes, for telling two names of one file apart: the folder with its
// links followed, then the file name.
std::string Canonical(const std::string& file) {
    std::error_code ec;
    const fs::path p = fs::absolute(file, ec);
    const fs::path dir = fs::weakly_canonical(p.parent_path(), ec);
    return (dir / p.filename()).lexically_normal().string();
}

// The name of a MUX given by --device alone: the device's file name, or for a network link
// its host and port ("ts-north-2001").
std::string DefaultName(const std::string& device) {
    if (const auto a = ParseNetworkPath(device)) {
        std::string name = a->host + "-" + a->port;
        std::replace(name.begin(), name.end(), ':', '-');  // an IPv6 address
        return name;
    }
    return fs::path(device).filename().string();
}

// Empty when the folder of `file` (or the folder itself) can take new files.
std::string FolderFault(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return "the folder " + Shown(folder.string()) + " does not exist";
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "the folder " + Shown(folder.string()) + " cannot be written";
    }
    return {};
}

fs::path FolderOf(const std::string& file) {
    const fs::path p = fs::absolute(file);
    return p.parent_path();
}

// The line without its comment: a '#' or ';' at the start or after whitespace begins one, as
// operators write them after a value. Inside double quotes, and glued to a word ("port#2"),
// both are part of the value.
std::string WithoutComment(const std::string& line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == '#' || c == ';') &&
                   (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
            return line.substr(0, i);
        }
    }
    return line;
}

// One MUX group as read, with where each key came from for the messages.
struct Group {
    std::string name;
    int line = 0;
    std::map<std::string, std::pair<std::string, int>> keys;  // key -> value, line
};

class Reader {
public:
    Reader(std::string file, std::string& error) : file(std::move(file)), error(error) {}

    bool Read(std::vector<Group>& muxes, std::map<std::string, std::string>& generalKeys) {
        RegularFile in(file, kMaxConfigBytes);
        std::string text;
        if (!in.ReadAll(text)) {
            return Fail(0, in.Fault());
        }
        int number = 0;
        Group* current = nullptr;
        bool general = false;
        std::set<std::string> seenGroups;
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            const std::string raw = text.substr(start, end - start);
            start = end + 1;
            ++number;
            if (raw.find('\0') != std::string::npos) {
                return Fail(number, "not a text file (a NUL byte)");
            }
            const std::string line = Trim(WithoutComment(raw));
            if (line.empty()) {
                continue;
            }
            if (line.front() == '[') {
                if (line.back() != ']') {
                    return Fail(number, "a group name must end with ']'");
                }
                const std::string group = Trim(line.substr(1, line.size() - 2));
                if (!seenGroups.insert(group).second) {
                    return Fail(number, "[" + Shown(group) + "] appears twice");
                }
                general = group == "general";
                current = nullptr;
                if (general) {
                    continue;
                }
                if (group.rfind("mux/", 0) != 0) {
                    return Fail(number,
                                "unknown group [" + Shown(group) + "] ([general] or [mux/NAME])");
                }
                const std::string name = group.substr(4);
                if (!IsPlainName(name)) {
                    return Fail(number, "[" + Shown(group) +
                                            "]: a MUX name is 1 to 64 letters, digits, '-', '_' or "
                                            "'.', not starting with '.' or '-'");
                }
                muxes.push_back(Group{name, number, {}});
                current = &muxes.back();
                continue;
            }
            const auto eq = line.find('=');
            if (eq == std::string::npos) {
                return Fail(number, "expected KEY=VALUE or [GROUP]");
            }
            const std::string key = Trim(line.substr(0, eq));
            std::string value = Trim(line.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            if (general) {
                if (key != "status-dir" && key != "metrics" && key != "state-dir" &&
                    key != "metrics-web-config" && key != "snmp" && key != "snmp-interfaces") {
                    return Fail(number, "[general]: unknown key '" + Shown(key) +
                                            "' (status-dir, state-dir, metrics, "
                                            "metrics-web-config, snmp, snmp-interfaces)");
                }
                generalKeys[key] = value;
            } else if (current) {
                if (key != "device" && key != "record" && key != "capture") {
                    return Fail(number, "[mux/" + current->name + "]: unknown key '" + Shown(key) +
                                            "' (device, record, capture)");
                }
                if (!current->keys.emplace(key, std::make_pair(value, number)).second) {
                    return Fail(number,
                                "[mux/" + current->name + "]: " + Shown(key) + " given twice");
                }
            } else {
                return Fail(number, "key '" + Shown(key) + "' outside a group");
            }
        }
        return true;
    }

    bool Fail(int line, const std::string& what) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely about the operator+ chain.
        error = file;
        if (line > 0) {
            error += ':';
            error += std::to_string(line);
        }
        error += ": ";
        error += what;
        return false;
    }

private:
    std::string file;
    std::string& error;
};

}  // namespace

std::string DefaultStateDir() {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && state[0] == '/') {
        const std::string folders = state;
        return folders.substr(0, folders.find(':'));
    }
    return fs::path(DefaultHistoryPath("line")).parent_path().string();
}

bool ParseHeadless(const std::vector<std::string>& args, Config& config, std::string& error) {
    std::optional<std::string> configFile, device, record, capture, name, statusDir, stateDir,
        metrics, webConfig, snmp, snmpInterfaces;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> value;
        if (const auto eq = option.find('=');
            option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
        }
        if (option == "--help" || option == "-h" || option == "--version" || option == "--check") {
            if (value) {
                error = "option " + option + " takes no value";
                return false;
            }
            (option == "--version" ? config.version
             : option == "--check" ? config.check
                                   : config.help) = true;
            continue;
        }
        std::optional<std::string>* target = option == "--config"       ? &configFile
                                             : option == "--device"     ? &device
                                             : option == "--record"     ? &record
                                             : option == "--capture"    ? &capture
                                             : option == "--name"       ? &name
                                             : option == "--status-dir" ? &statusDir
                                             : option == "--state-dir"  ? &stateDir
                                             : option == "--metrics"    ? &metrics
                                             : option == "--metrics-web-config" ? &webConfig
                                             : option == "--snmp"       ? &snmp
                                             : option == "--snmp-interfaces" ? &snmpInterfaces
                                                                        : nullptr;
        if (!target) {
            error = "unknown option '" + args[i] + "'";
            return false;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                error = "option " + option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (value->empty()) {
            error = "option " + option + " needs a value";
            return false;
        }
        if (*target) {
            error = "option " + option + " given twice";
            return false;
        }
        *target = *value;
    }
    if (config.help || config.version) {
        return true;
    }

    std::vector<Group> groups;
    std::map<std::string, std::string> general;  // [general] key -> value
    std::string where;  // names the origin of the MUXes in messages
    if (configFile) {
        if (device || record || capture || name) {
            error = "--config cannot be combined with --device, --record, --capture or --name";
            return false;
        }
        if (!Reader(*configFile, error).Read(groups, general)) {
            return false;
        }
        if (groups.empty()) {
            error = *configFile + ": no [mux/NAME] group";
            return false;
        }
        where = *configFile + ":";
    } else if (device) {
        Group g{name ? *name : DefaultName(*device), 0, {}};
        if (!IsPlainName(g.name)) {
            error = "--name '" + g.name +
                    "': 1 to 64 letters, digits, '-', '_' or '.', not starting with '.' or '-'";
            return false;
        }
        g.keys["device"] = {*device, 0};
        if (record) {
            g.keys["record"] = {*record, 0};
        }
        if (capture) {
            g.keys["capture"] = {*capture, 0};
        }
        groups.push_back(std::move(g));
    } else {
        error = record || capture || name ? "--record, --capture and --name need --device"
                               : "nothing to watch: give --config FILE or --device PATH";
        return false;
    }

    const std::string fileStatusDir = general["status-dir"], fileStateDir = general["state-dir"],
                      fileMetrics = general["metrics"], fileWebConfig = general["metrics-web-config"];
    config.statusDir = statusDir ? *statusDir : fileStatusDir;
    if (!config.statusDir.empty()) {
        if (const std::string fault = FolderFault(config.statusDir); !fault.empty()) {
            error = (statusDir ? "--status-dir: " : where + " [general] status-dir: ") + fault;
            return false;
        }
    }

    if (const std::string listen = metrics ? *metrics : fileMetrics; !listen.empty()) {
        std::string fault;
        if (!ParseListenAddress(listen, fault)) {
            error = (metrics ? "--metrics: " : where + " [general] metrics: ") + fault;
            return false;
        }
        config.metrics = listen;
    }
    // Read whole here, so that a wrong file stops the start (and --check) rather than the
    // first scrape.
    if (const std::string web = webConfig ? *webConfig : fileWebConfig; !web.empty()) {
        const std::string origin =
            webConfig ? "--metrics-web-config: " : where + " [general] metrics-web-config: ";
        if (config.metrics.empty()) {
            error = origin + "needs metrics as well";
            return false;
        }
        std::string fault;
        auto read = ReadWebConfig(web, fault);
        if (!read) {
            error = origin + fault;
            return false;
        }
        config.metricsWeb = std::move(*read);
    }

    if (const std::string master = snmp ? *snmp : general["snmp"]; !master.empty()) {
        std::string fault;
        config.snmp = snmp::ParseMasterAddress(master, fault);
        if (config.snmp.empty()) {
            error = (snmp ? "--snmp: " : where + " [general] snmp: ") + fault;
            return false;
        }
    }
    if (const std::string rows = snmpInterfaces ? *snmpInterfaces : general["snmp-interfaces"];
        !rows.empty()) {
        const std::string origin =
            snmpInterfaces ? "--snmp-interfaces: " : where + " [general] snmp-interfaces: ";
        std::string fault;
        const auto interfaces = snmp::ParseInterfaces(rows, fault);
        if (!interfaces || config.snmp.empty()) {
            error = origin + (interfaces ? "needs snmp as well" : fault);
            return false;
        }
        config.snmpInterfaces = *interfaces;
    }

    config.stateDir = stateDir ? *stateDir : fileStateDir;
    if (!config.stateDir.empty()) {
        if (const std::string fault = FolderFault(config.stateDir); !fault.empty()) {
            error = (stateDir ? "--state-dir: " : where + " [general] state-dir: ") + fault;
            return false;
        }
    } else {
        config.stateDir = DefaultStateDir();
    }

    // Every file a MUX writes, by where it really goes, and who writes it.
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> devices;
    for (const Group& g : groups) {
        const std::string label = configFile ? "[mux/" + g.name + "]" : "--device";
        auto at = [&](const char* key) {
            const auto it = g.keys.find(key);
            const int line = it == g.keys.end() ? g.line : it->second.second;
            return configFile ? *configFile + ":" + std::to_string(line) + ": " + label + " " + key
                              : "--" + std::string(key);
        };
        MuxConfig mux;
        mux.name = g.name;
        mux.history = (fs::path(config.stateDir) / (g.name + ".sqlite")).string();
        mux.quartersInMemory = config.snmp.empty() ? 1 : snmp::kQuarters;
        const auto dev = g.keys.find("device");
        if (dev == g.keys.end() || dev->second.first.empty()) {
            error = at("device") + ": no device given";
            return false;
        }
        mux.device = dev->second.first;
        DeviceResolver resolver;
        if (const auto n = ComNumber(mux.device)) {
            mux.portNumber = *n;
            mux.path = resolver.Resolve(mux.device);
            if (mux.path.empty()) {
                error = at("device") + ": " + Shown(mux.device) + " names no port";
                return false;
            }
        } else {
            mux.path = mux.device;
        }
        if (IsNetworkPath(mux.path) && !ParseNetworkPath(mux.path)) {
            error = at("device") + ": " + Shown(mux.device) +
                    ": a network device is tcp://HOST:PORT or rfc2217://HOST:PORT";
            return false;
        }
        const std::string devKey = IsNetworkPath(mux.path) ? mux.path : Canonical(mux.path);
        if (const auto [it, fresh] = devices.emplace(devKey, g.name); !fresh) {
            error =
                at("device") + ": " + Shown(mux.device) + " is already watched by " + it->second;
            return false;
        }
        if (const auto rec = g.keys.find("record"); rec != g.keys.end()) {
            mux.record = rec->second.first;
            if (mux.record.empty()) {
                error = at("record") + ": no file given";
                return false;
            }
            if (const std::string fault = FolderFault(FolderOf(mux.record)); !fault.empty()) {
                error = at("record") + ": " + fault;
                return false;
            }
            for (const std::string& file :
                 {mux.record, StatisticsLog::G821LogNameFor(mux.record)}) {
                if (const auto [it, fresh] = files.emplace(Canonical(file), g.name); !fresh) {
                    error = at("record") + ": " + Shown(file) + " is also recorded into by " +
                            it->second;
                    return false;
                }
                if (const std::string fault = RegularFileFault(file, true); !fault.empty()) {
                    error = at("record") + ": " + Shown(file) + " " + fault;
                    return false;
                }
            }
        }
        if (const auto cap = g.keys.find("capture"); cap != g.keys.end()) {
            mux.capture = cap->second.first;
            if (const std::string fault = FolderFault(FolderOf(mux.capture)); !fault.empty()) {
                error = at("capture") + ": " + fault;
                return false;
            }
            if (const auto [it, fresh] = files.emplace(Canonical(mux.capture), g.name); !fresh) {
                error =
                    at("capture") + ": " + Shown(mux.capture) + " is also written by " + it->second;
                return false;
            }
            if (const std::string fault = RegularFileFault(mux.capture, true); !fault.empty()) {
                error = at("capture") + ": " + Shown(mux.capture) + " " + fault;
                return false;
            }
        }
        // SQLite would wait in its open on a FIFO there, as it would on any file it is given.
        if (const std::string fault = RegularFileFault(mux.history, true); !fault.empty()) {
            error =
                (configFile ? *configFile + ": [mux/" + g.name + "]" : std::string("--device")) +
                ": the line memory " + mux.history + " " + fault;
            return false;
        }
        config.muxes.push_back(std::move(mux));
    }
    return true;
}

}  // namespace kestrel::headless

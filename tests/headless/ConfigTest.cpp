// The headless command line and configuration file: what is taken, and one line for each fault.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "headless/Config.h"

namespace kestrel::headless {
namespace {

TEST(HeadlessConfig, CommandLineAndFile) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string ini = d + "/k.ini";
    // Comments after values as operators write them; quoted or glued to a word, '#' and ';'
    // are the value's own.
    std::ofstream(ini) << "# two MUXes\n[general]\nmetrics = 9464   # a port alone\nstate-dir="
                       << d << "\t; the line memories\nstatus-dir = " << d
                       << "\n\n[mux/north]  # the first\ndevice = COM3\nrecord=\"" << d
                       << "/n #1;2.csv\" ; quoted\n; comment\n[mux/south.2]\ndevice=/dev/null#x\n";
    // Accepted: the arguments, the status folder, the metrics address (the command line's over
    // the file's) and the MUXes as "name path port record".
    struct Accepted {
        std::vector<std::string> args;
        std::string statusDir;
        std::vector<std::string> muxes;
        std::string metrics = "";
        std::string snmp = "";  // and with it a day of quarters in memory
    };
    const Accepted accepted[] = {
        {{"--config", ini},
         d,
         {"north /dev/ttyS2 3 " + d + "/n #1;2.csv", "south.2 /dev/null#x 1 "},
         "9464"},
        {{"--config=" + ini, "--status-dir", "/tmp", "--metrics", "[::]:80"},
         "/tmp",
         {},
         "[::]:80"},
        {{"--device", "/dev/pts/7", "--record", d + "/x.csv"},
         "",
         {"7 /dev/pts/7 1 " + d + "/x.csv"}},
        {{"--device=COM1", "--name", "lab", "--snmp", "on"},
         "",
         {"lab /dev/ttyS0 1 "},
         "",
         "/var/agentx/master"},
        {{"--device=/dev/null", "--snmp", "tcp:localhost:705", "--snmp-interfaces", "e3"},
         "",
         {},
         "",
         "tcp:localhost:705"},
        {{"--device", "rfc2217://ts-north:2001"}, "", {"ts-north-2001 rfc2217://ts-north:2001 1 "}},
        {{"--device", "tcp://[fe80::1]:4001"}, "", {"fe80--1-4001 tcp://[fe80::1]:4001 1 "}},
    };
    for (const Accepted& c : accepted) {
        Config config;
        std::string error;
        ASSERT_TRUE(ParseHeadless(c.args, config, error)) << c.args[0] << ": " << error;
        EXPECT_EQ(config.statusDir, c.statusDir) << c.args[0];
        EXPECT_EQ(config.metrics, c.metrics) << c.args[0];
        EXPECT_EQ(config.snmp, c.snmp) << c.args[0];
        EXPECT_EQ(config.muxes[0].quartersInMemory, c.snmp.empty() ? 1 : 96) << c.args[0];
        if (c.muxes.empty()) {
            continue;
        }
        std::vector<std::string> got;
        for (const MuxConfig& m : config.muxes) {
            got.push_back(m.name + " " + m.path + " " + std::to_string(m.portNumber) + " " +
                          m.record);
        }
        EXPECT_EQ(got, c.muxes) << c.args[0];
        // The line memories: state-dir= of the file, else the default.
        EXPECT_EQ(config.muxes[0].history, (c.args[0] == "--config" ? d : DefaultStateDir()) + "/" +
                                               config.muxes[0].name + ".sqlite");
    }

    // Refused, with one line that says why.
    int files = 0;  // configuration files with faults, each of its own
    const auto file = [&](const std::string& text) {
        const std::string path = d + "/bad" + std::to_string(++files) + ".ini";
        std::ofstream(path) << text;
        return path;
    };
    // What is not a configuration someone wrote, and files the monitor would wait on.
    const std::string fifo = d + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string large(kMaxConfigBytes + 1, '#');
    large[0] = '\n';
    const std::string states = d + "/states";
    std::filesystem::create_directory(states);
    ASSERT_EQ(::mkfifo((states + "/a.sqlite").c_str(), 0600), 0);
    const std::string mux = "[mux/a]\ndevice=/dev/null\n";
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--config", fifo}, "/fifo: is a FIFO, not a file"},
        {{"--config", "/dev/zero"}, "/dev/zero: is a character device, not a file"},
        {{"--config", d}, d + ": is a folder, not a file"},
        {{"--config", file(large)}, ": is too large: 1048577 bytes, at most 1048576"},
        {{"--config", file(std::string("ELF\x02\x01\x01\0\0\0", 9))}, ":1: not a text file"},
        {{"--config", file("[\x1b]2;owned\x07\xff\xc3" + std::string(500, 'A') + "]\n")},
         ":1: unknown group [\\x1B]2;owned\\x07\\xFF\\xC3AAAA"},
        {{"--config", file(mux + "record=" + fifo + "\n")},
         ":3: [mux/a] record: " + fifo + " is a FIFO"},
        {{"--config", file(mux + "recrod=x.csv\n")},
         ":3: [mux/a]: unknown key 'recrod' (device, record, capture)"},
        {{"--config", file(mux + "capture=" + d + "\n")},
         ":3: [mux/a] capture: " + d + " is a folder"},
        {{"--device", "/dev/null", "--name", "a", "--state-dir", states},
         "--device: the line memory " + states + "/a.sqlite is a FIFO, not a file"},
        {{"--device", "tcp://ts-north", "--name", "n"}, "tcp://HOST:PORT or rfc2217://"},
        {{}, "nothing to watch"},
        {{"--record", "x.csv"}, "--record, --capture and --name need --device"},
        {{"--device", "/dev/null", "--capture", d + "/none/l.cap"}, "--capture: the folder"},
        {{"--config", file("[mux/a]\ndevice=/dev/null\ncapture=" + d + "/l.cap\n[mux/b]\n" +
                           "device=/dev/zero\nrecord=" + d + "/l.cap\n")},
         ":6: [mux/b] record: " + d + "/l.cap is also"},
        {{"--config", ini, "--device", "/dev/null"}, "cannot be combined"},
        {{"--device", "COM0"}, "--device: COM0 names no port"},
        {{"--device", "/dev/null", "--name", ".hidden"}, "--name '.hidden'"},
        {{"--device", "/dev/null", "--device", "/dev/zero"}, "--device given twice"},
        {{"--device"}, "--device needs a value"},
        {{"--verbose"}, "unknown option '--verbose'"},
        {{"--device", "/dev/null", "--metrics", "host:9464"}, "--metrics: 'host:9464'"},
        {{"--device", "/dev/null", "--metrics-web-config", ini}, "needs metrics as well"},
        {{"--device", "/dev/null", "--snmp", "localhost:705"},
         "--snmp: 'localhost:705' is not an AgentX address"},
        {{"--config", file("[general]\nsnmp=tcp:host:0\n" + mux)},
         "[general] snmp: 'tcp:host:0' is not an AgentX address"},
        {{"--device", "/dev/null", "--snmp-interfaces", "e3"}, "--snmp-interfaces: needs snmp"},
        {{"--config", file("[general]\nsnmp=on\nsnmp-interfaces=some\n" + mux)},
         "[general] snmp-interfaces: 'some': all, e3 or none"},
        {{"--config", file("[general]\nmetrics=0\nmetrics-web-config=" + ini + "\n[mux/a]\n" +
                           "device=/dev/null\n")},
         "[general] metrics-web-config: " + ini + ": expected keys at the top"},
        {{"--config", d + "/none.ini"}, "none.ini: cannot be read"},
        {{"--device", "/dev/null", "--state-dir", ini}, "--state-dir: the folder"},
        {{"--device", "/dev/null", "--record", ini + "/x.csv"},
         "folder " + ini + " does not exist"},
        {{"--config", file("[mux/a]\nrecord=" + d + "/a.csv\n")},
         ":1: [mux/a] device: no device given"},
        {{"--config", file("[mux/a]\ndevice=/dev/null\nrecord=" + d + "/d.csv\n[mux/b]\n" +
                           "device=/dev/zero\nrecord=" + d + "/d.x.csv\n")},
         ":6: [mux/b] record: " + d + "/dG821.csv is also recorded into by a"},
        {{"--config", file("[mux/a]\ndevice=/dev/null\n[mux/a]\ndevice=/dev/zero\n")},
         ":3: [mux/a] appears twice"},
        {{"--config", file("[general]\nstatus-dir=/nonexistent\n[mux/a]\ndevice=/dev/null\n")},
         "[general] status-dir: the folder /nonexistent does not exist"},
    };
    for (const auto& [args, fault] : refused) {
        Config config;
        std::string error;
        const std::string what = args.empty() ? "(none)" : args.back();
        EXPECT_FALSE(ParseHeadless(args, config, error)) << what;
        EXPECT_NE(error.find(fault), std::string::npos) << what << ": " << error;
        // One line, without the terminal controls a broken file may hold, and of a length a
        // log line can take.
        EXPECT_TRUE(std::none_of(error.begin(), error.end(), [](char c) {
            return c >= 0 && c < ' ';
        })) << error;
        EXPECT_LT(error.size(), 300u) << error;
    }
    // systemd's StateDirectory= may name several folders; the first is ours.
    ::setenv("STATE_DIRECTORY", "/var/lib/kestrel:/var/lib/other", 1);
    EXPECT_EQ(DefaultStateDir(), "/var/lib/kestrel");
    ::unsetenv("STATE_DIRECTORY");
}

}  // namespace
}  // namespace kestrel::headless

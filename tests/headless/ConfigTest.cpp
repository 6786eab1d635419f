// The headless command line and configuration file: what is taken, and one line for each fault.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "headless/Config.h"

namespace kestrel::headless {
namespace {

TEST(HeadlessConfig, CommandLineAndFile) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string ini = d + "/k.ini";
    std::ofstream(ini) << "# two MUXes\n[general]\nmetrics = 9464\nstate-dir=" << d
                       << "\nstatus-dir = " << d << "\n\n[mux/north]\ndevice = COM3\nrecord=\"" << d
                       << "/n.csv\"\n; comment\n[mux/south.2]\ndevice=/dev/null\n";

    // Arguments, then the fault expected ("" for none) and the MUXes as "name path port record".
    struct Case {
        std::vector<std::string> args;
        std::string fault;
        std::vector<std::string> muxes;
        std::string statusDir;
    };
    const Case cases[] = {
        {{"--config", ini}, "", {"north /dev/ttyS2 3 " + d + "/n.csv", "south.2 /dev/null 1 "}, d},
        {{"--config=" + ini, "--status-dir", "/tmp"}, "", {}, "/tmp"},
        {{"--device", "/dev/pts/7", "--record", d + "/x.csv"},
         "",
         {"7 /dev/pts/7 1 " + d + "/x.csv"},
         ""},
        {{"--device=COM1", "--name", "lab"}, "", {"lab /dev/ttyS0 1 "}, ""},
        {{"--device", "rfc2217://ts-north:2001"},
         "",
         {"ts-north-2001 rfc2217://ts-north:2001 1 "},
         ""},
        {{"--device", "tcp://[fe80::1]:4001"}, "", {"fe80--1-4001 tcp://[fe80::1]:4001 1 "}, ""},
        {{"--device", "tcp://ts-north", "--name", "n"}, "tcp://HOST:PORT or rfc2217://", {}, ""},
        {{}, "nothing to watch", {}, ""},
        {{"--record", "x.csv"}, "--record and --name need --device", {}, ""},
        {{"--config", ini, "--device", "/dev/null"}, "cannot be combined", {}, ""},
        {{"--device", "COM0"}, "--device: COM0 names no port", {}, ""},
        {{"--device", "/dev/null", "--name", ".hidden"}, "--name '.hidden'", {}, ""},
        {{"--device", "/dev/null", "--device", "/dev/zero"}, "--device given twice", {}, ""},
        {{"--device"}, "--device needs a value", {}, ""},
        {{"--verbose"}, "unknown option '--verbose'", {}, ""},
        {{"--device", "/dev/null", "--metrics", "host:9464"}, "--metrics: 'host:9464'", {}, ""},
        {{"--config", d + "/none.ini"}, "none.ini: cannot be read", {}, ""},
        {{"--device", "/dev/null", "--state-dir", ini}, "--state-dir: the folder", {}, ""},
        {{"--device", "/dev/null", "--record", ini + "/x.csv"},
         "folder " + ini + " does not exist",
         {},
         ""},
    };
    for (const Case& c : cases) {
        Config config;
        std::string error;
        const bool ok = ParseHeadless(c.args, config, error);
        const std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(ok, c.fault.empty()) << what << ": " << error;
        if (!c.fault.empty()) {
            EXPECT_NE(error.find(c.fault), std::string::npos) << what << ": " << error;
            EXPECT_EQ(error.find('\n'), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(config.statusDir, c.statusDir) << what;
        if (c.muxes.empty()) {
            continue;
        }
        std::vector<std::string> got;
        for (const MuxConfig& m : config.muxes) {
            got.push_back(m.name + " " + m.path + " " + std::to_string(m.portNumber) + " " +
                          m.record);
        }
        EXPECT_EQ(got, c.muxes) << what;
        // The line memories: state-dir= of the file, else the default.
        EXPECT_EQ(config.muxes[0].history, (c.args[0] == "--config" ? d : DefaultStateDir()) + "/" +
                                               config.muxes[0].name + ".sqlite");
    }
    // The metrics address: the command line's over the file's.
    for (const auto& [args, metrics] :
         {std::pair<std::vector<std::string>, std::string>{{"--config", ini}, "9464"},
          {{"--config", ini, "--metrics", "[::]:80"}, "[::]:80"}}) {
        Config config;
        std::string error;
        ASSERT_TRUE(ParseHeadless(args, config, error)) << error;
        EXPECT_EQ(config.metrics, metrics);
    }
    // systemd's StateDirectory= may name several folders; the first is ours.
    ::setenv("STATE_DIRECTORY", "/var/lib/kestrel:/var/lib/other", 1);
    EXPECT_EQ(DefaultStateDir(), "/var/lib/kestrel");
    ::unsetenv("STATE_DIRECTORY");
}

}  // namespace
}  // namespace kestrel::headless

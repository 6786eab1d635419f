// kestrel-headless attached to a real snmpd (AgentX master on a socket in the test's folder,
// SNMP on a free UDP port of the loopback) and a real snmptrapd, as an NMS sees it: the line
// status bits follow the line, the interval tables say what kestrel-history says, notifications
// come in order and an unreachable MUX is never a cleared one; the master may come and go.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "tests/headless/HeadlessFixture.h"

namespace kestrel::e2e {
namespace {

const std::string kDs3Status = ".1.3.6.1.2.1.10.30.5.1.10.";
const std::string kDs1Status = ".1.3.6.1.2.1.10.18.6.1.10.";
const std::string kIfOperStatus = ".1.3.6.1.2.1.2.2.1.8.";
const std::string kDs3Change = ".1.3.6.1.2.1.10.30.15.0.1";
const std::string kDs1Change = ".1.3.6.1.2.1.10.18.15.0.1";
const std::string kLinkDown = ".1.3.6.1.6.3.1.1.5.3";
const std::string kLinkUp = ".1.3.6.1.6.3.1.1.5.4";
// The first MUX's lines: its E3 line, then tributary N at + N.
constexpr long kE3 = 1000100;

// At two frames a second: three seconds of a working line, five of local AIS, then a working
// 34 Mbit/s line with local tributaries 1, 2, 9, 10 and 16 without signal.
constexpr const char* kAisThenTributaries =
    "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 6\n"
    "20 0003 00 00 00 00 00 0001 00 00 00 00 repeat 10\n"
    "00 0000 40 05 00 05 00 0000 00 00 00 00 repeat 1000\n";

// A notification as snmptrapd logged it: its type and its objects by name.
struct Trap {
    std::string type;
    std::map<std::string, std::string> objects;
};

class SnmpEndToEnd : public HeadlessEndToEnd {
protected:
    void SetUp() override {
        for (const char* program : {"snmpd", "snmptrapd", "snmpget", "snmpbulkwalk"}) {
            if (Which(program).empty()) {
                GTEST_SKIP() << program << " (Debian packages snmpd, snmptrapd, snmp) not installed";
            }
        }
        port = FreePort(SOCK_DGRAM);
        trapPort = FreePort(SOCK_DGRAM);
        ::mkdir(Path("persist").c_str(), 0700);
        ::mkdir(Path("persist/cert_indexes").c_str(), 0700);
        std::ofstream(Path("snmpd.conf"))
            << "[snmp] persistentDir " << Path("persist") << "\n"
            << "agentAddress udp:127.0.0.1:" << port << "\n"
            << "master agentx\nagentXSocket " << Path("agentx.sock") << "\n"
            << "agentXPerms 0660 0770\n"
            << "rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
            << "createUser noc SHA \"noc-auth-secret\" AES \"noc-priv-secret\"\n"
            << "rouser noc priv\n"
            << "trap2sink 127.0.0.1:" << trapPort << " public\n"
            << "dontLogTCPWrappersConnects yes\n";
        std::ofstream(Path("snmptrapd.conf"))
            << "[snmp] persistentDir " << Path("persist") << "\n"
            << "snmpTrapdAddr udp:127.0.0.1:" << trapPort << "\nauthCommunity log public\n";
        ASSERT_TRUE(trapd.Start(Which("snmptrapd"),
                                {"-f", "-C", "-c", Path("snmptrapd.conf"), "-m", "", "-On", "-Oqt",
                                 "-F", "%V~%v\n", "-Lf", Path("traps.log")},
                                Path("trapd.out"), Path("trapd.err")));
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "--- snmpd:\n" << ReadFile(Path("snmpd.log"));
            std::cerr << "--- traps:\n" << ReadFile(Path("traps.log"));
        }
        snmpd.Kill();
        trapd.Kill();
        HeadlessEndToEnd::TearDown();
    }

    bool StartSnmpd() {
        return snmpd.Start(Which("snmpd"),
                           {"-f", "-C", "-c", Path("snmpd.conf"), "-m", "", "-I", "-smux",
                            "-Lf", Path("snmpd.log")},
                           Path("snmpd.out"), Path("snmpd.err")) &&
               Eventually([&] { return !Get(".1.3.6.1.2.1.1.3.0").empty(); }, 10s, 100ms);
    }
    std::string Monitoring(const std::string& mux = "north") {
        return "[general]\nsnmp=" + Path("agentx.sock") + "\n[mux/" + mux + "]\ndevice=";
    }

    // A client of the snmp package: numeric names, bare values, no MIB files.
    std::string Client(const std::string& tool, const std::string& what, bool v3 = false) {
        const std::string security =
            v3 ? "-v3 -l authPriv -u noc -a SHA -A noc-auth-secret -x AES -X noc-priv-secret"
               : "-v2c -c public";
        return test::Output(
            "SNMP_PERSISTENT_DIR=" + Path("client") + " MIBS= " + Which(tool) + " " + security +
            " -On -Oqt -t 2 -r 1 127.0.0.1:" + std::to_string(port) + " " + what + " 2>/dev/null");
    }
    // The value of one instance; empty when there is none.
    std::string Get(const std::string& oid, bool v3 = false) {
        std::istringstream in(Client("snmpget", oid, v3));
        std::string name, value;
        in >> name >> value;
        return name == oid && value.find("No") != 0 ? value : std::string();
    }
    // Every instance under `oid` by a bulk walk, name to value.
    std::map<std::string, std::string> Walk(const std::string& oid, bool v3 = false) {
        std::map<std::string, std::string> values;
        for (const std::string& line : test::Lines(Client("snmpbulkwalk", "-Cr50 " + oid, v3))) {
            const auto blank = line.find(' ');
            if (blank != std::string::npos && line.rfind(oid, 0) == 0 &&
                line.find(" No Such ") == std::string::npos) {
                values[line.substr(0, blank)] = line.substr(blank + 1);
            }
        }
        return values;
    }
    std::vector<Trap> Traps() const {
        std::vector<Trap> traps;
        for (const std::string& line : test::Lines(ReadFile(Path("traps.log")))) {
            Trap t;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, '~');) {
                const auto blank = field.find(' ');
                if (blank == std::string::npos) {
                    continue;
                }
                const std::string name = field.substr(0, blank), value = field.substr(blank + 1);
                if (name == ".1.3.6.1.6.3.1.1.4.1.0") {
                    t.type = value;
                } else {
                    t.objects[name] = value;
                }
            }
            if (!t.type.empty()) {
                traps.push_back(std::move(t));
            }
        }
        return traps;
    }
    // The status bits the line status notifications of `line` carried, in order.
    std::vector<long> StatusTraps(const std::string& type, const std::string& status, long line) {
        std::vector<long> bits;
        for (const Trap& t : Traps()) {
            const auto it = t.objects.find(status + std::to_string(line));
            if (t.type == type && it != t.objects.end()) {
                bits.push_back(std::stol(it->second));
            }
        }
        return bits;
    }

    Child snmpd, trapd;
    int port = 0, trapPort = 0;
};

// The E3 line's status bits follow a scripted AIS over SNMPv2c, and the tributaries' loss of
// signal reads the same over SNMPv3 with authentication and privacy; the lines are in the IF-MIB
// beside the host's own interfaces. The notifications come in the line's order. When the
// simulator is killed the line is unknown: Other Failure and never No Alarm, ifOperStatus
// unknown with a linkDown, and no notification for each tributary.
TEST_F(SnmpEndToEnd, StatusBitsAndNotificationsFollowTheLineUntilItIsLost) {
    ASSERT_TRUE(StartSnmpd()) << ReadFile(Path("snmpd.err"));
    ASSERT_TRUE(a.StartScript(dirA, kAisThenTributaries, 2)) << a.Stderr();
    ASSERT_TRUE(StartHeadless(Monitoring() + a.Path() + "\n"));
    std::vector<long> seen;
    const std::string e3 = kDs3Status + std::to_string(kE3);
    ASSERT_TRUE(Eventually(
        [&] {
            const std::string v = Get(e3);
            if (!v.empty() && (seen.empty() || seen.back() != std::stol(v))) {
                seen.push_back(std::stol(v));
            }
            return seen.size() >= 2 && seen.back() == 1 && std::count(seen.begin(), seen.end(), 8);
        },
        15s, 100ms))
        << ::testing::PrintToString(seen) << Log();
    ASSERT_TRUE(Eventually([&] { return Get(kDs1Status + std::to_string(kE3 + 1), true) == "64"; },
                           5s, 100ms));
    EXPECT_EQ(Get(kDs1Status + std::to_string(kE3 + 3), true), "1") << "tributary 3 has signal";
    const auto descriptions = Walk(".1.3.6.1.2.1.2.2.1.2");
    EXPECT_EQ(descriptions.at(".1.3.6.1.2.1.2.2.1.2.1"), "\"lo\"") << "the host's own interface";
    EXPECT_EQ(descriptions.at(".1.3.6.1.2.1.2.2.1.2." + std::to_string(kE3)),
              "\"Kestrel MUX north 34 Mbit/s line\"");
    EXPECT_EQ(std::count_if(descriptions.begin(), descriptions.end(),
                            [](const auto& d) { return d.second.find("Kestrel MUX") == 1; }),
              17);
    EXPECT_EQ(Get(kIfOperStatus + std::to_string(kE3)), "1");
    EXPECT_EQ(Get(kIfOperStatus + std::to_string(kE3 + 1)), "2");
    EXPECT_EQ(Get(".1.3.6.1.2.1.31.1.1.1.18." + std::to_string(kE3 + 16)), "\"north\"");
    ASSERT_TRUE(Eventually(
        [&] { return StatusTraps(kDs1Change, kDs1Status, kE3 + 1) == std::vector<long>{64}; },
        5s, 100ms))
        << ReadFile(Path("traps.log"));
    const auto e3Traps = StatusTraps(kDs3Change, kDs3Status, kE3);
    ASSERT_GE(e3Traps.size(), 2U);
    EXPECT_EQ(std::vector<long>(e3Traps.end() - 2, e3Traps.end()), (std::vector<long>{8, 1}));

    // The E3 line's status notifications switched off by a manager with write access (the
    // master's access control: the read-only community may not).
    const std::string enable = ".1.3.6.1.2.1.10.30.5.1.15." + std::to_string(kE3);
    const std::string refused = test::Output(
        "SNMP_PERSISTENT_DIR=" + Path("client") + " " + Which("snmpset") +
        " -v2c -c public -On 127.0.0.1:" + std::to_string(port) + " " + enable + " i 2 2>&1");
    EXPECT_NE(refused.find("Reason: noAccess"), std::string::npos) << refused;
    ASSERT_NE(test::Output("SNMP_PERSISTENT_DIR=" + Path("client") + " " + Which("snmpset") +
                           " -v2c -c private -On -Oqt 127.0.0.1:" + std::to_string(port) + " " +
                           enable + " i 2"),
              "");
    EXPECT_EQ(Get(enable), "2");

    const std::size_t before = Traps().size();
    a.child.Kill();
    ASSERT_TRUE(Eventually([&] { return Get(kIfOperStatus + std::to_string(kE3)) == "4"; }, 8s,
                           100ms));
    EXPECT_EQ(Get(e3), "512") << "Other Failure: the line is unknown, not clear";
    EXPECT_EQ(Get(kDs1Status + std::to_string(kE3 + 1)), std::to_string(64 | 4096));
    EXPECT_EQ(Get(kIfOperStatus + std::to_string(kE3 + 1)), "4");
    ASSERT_TRUE(Eventually([&] { return Traps().size() >= before + 1; }, 5s, 100ms));
    std::this_thread::sleep_for(1500ms);
    const auto after = Traps();
    std::vector<std::string> types;
    for (std::size_t i = before; i < after.size(); ++i) {
        types.push_back(after[i].type);
    }
    EXPECT_EQ(types, std::vector<std::string>{kLinkDown})
        << "the E3 line's status notification is switched off; no tributary tells";
    EXPECT_EQ(after.back().objects.at(kIfOperStatus + std::to_string(kE3)), "4");
}

// A day's line memory made by kestrel-replay: the interval tables show each completed quarter
// as kestrel-history does, near end, far end and a tributary, valid only when every second of
// it was seen; the totals add the valid ones.
TEST_F(SnmpEndToEnd, IntervalAndTotalTablesSayWhatTheHistorySays) {
    ASSERT_TRUE(StartSnmpd()) << ReadFile(Path("snmpd.err"));
    const std::string capture = Path("line.cap");
    const std::time_t start = std::time(nullptr) - 3100;
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&start));
    ASSERT_EQ(std::system((std::string(KESTREL_MUX_SIM_PROGRAM) + " --scenario errors --seconds 3000 --capture " +
                           capture + " > /dev/null 2>&1 && " + KESTREL_REPLAY_PROGRAM +
                           " --performance --start " + when + " --db " + Path("north.sqlite") +
                           " " + capture + " > /dev/null")
                              .c_str()),
              0);
    ASSERT_TRUE(a.StartScript(dirA, kQuietScript, 1)) << a.Stderr();
    ASSERT_TRUE(StartHeadless(Monitoring() + a.Path() + "\n"));
    const std::string e3 = std::to_string(kE3), trib = std::to_string(kE3 + 3);
    std::map<std::string, std::string> near, far, tributary, totals;
    std::time_t quarter = 0;
    ASSERT_TRUE(Eventually(
        [&] {
            quarter = std::time(nullptr) / 900 * 900;
            near = Walk(".1.3.6.1.2.1.10.30.7.1", true);
            far = Walk(".1.3.6.1.2.1.10.30.11.1", true);
            tributary = Walk(".1.3.6.1.2.1.10.18.8.1");
            totals = Walk(".1.3.6.1.2.1.10.30.8.1");
            return near.count(".1.3.6.1.2.1.10.30.7.1.13." + e3 + ".1") != 0 &&
                   quarter == std::time(nullptr) / 900 * 900;
        },
        10s, 200ms));
    const std::string valid = Get(".1.3.6.1.2.1.10.30.5.1.4." + e3);
    const std::string invalid = Get(".1.3.6.1.2.1.10.30.5.1.12." + e3);
    Stop();

    // kind,object,start_unix,...,not_measured(9),es(10),ses(11),dm,minutes,errors(14)
    const std::string csv =
        test::Output(std::string(KESTREL_HISTORY_PROGRAM) + " --db " + Path("north.sqlite") +
                     " intervals --15min --object near --object far "
                     "--object local-trib-3 --format csv");
    // Each object's table walked, its line, and its columns with the CSV field each shows (0:
    // whether the quarter is valid).
    struct Columns {
        std::map<std::string, std::string>* walked;
        std::string entry, line;
        std::vector<std::pair<int, int>> fields;
    };
    const std::map<std::string, Columns> tables{
        {"near",
         {&near, ".1.3.6.1.2.1.10.30.7.1.", e3, {{3, 10}, {4, 11}, {6, 8}, {8, 14}, {13, 0}}}},
        {"far", {&far, ".1.3.6.1.2.1.10.30.11.1.", e3, {{3, 10}, {4, 11}, {5, 14}, {7, 0}}}},
        {"local-trib-3",
         {&tributary, ".1.3.6.1.2.1.10.18.8.1.", trib, {{3, 10}, {4, 11}, {13, 0}}}}};
    long long esTotal = 0, intervals = 0, invalidCount = 0;
    int compared = 0;
    for (const std::string& row : test::Lines(csv)) {
        std::vector<std::string> f;
        std::istringstream fields(row);
        for (std::string x; std::getline(fields, x, ',');) {
            f.push_back(x);
        }
        if (f.size() < 15 || f[0] != "15min" || f[5] != "1" || std::stoll(f[2]) >= quarter) {
            continue;
        }
        const std::string n = std::to_string((quarter - std::stoll(f[2])) / 900);
        const bool seenWhole = f[9] == "0";
        const std::string validData = seenWhole ? "1" : "2";
        SCOPED_TRACE(row);
        const Columns& t = tables.at(f[1]);
        for (const auto& [column, field] : t.fields) {
            EXPECT_EQ((*t.walked)[t.entry + std::to_string(column) + "." + t.line + "." + n],
                      field ? f[field] : validData);
        }
        if (f[1] == "near") {
            intervals = std::max<long long>(intervals, std::stoll(n));
            invalidCount += seenWhole ? 0 : 1;
            esTotal += seenWhole ? std::stoll(f[10]) : 0;
        }
        ++compared;
    }
    EXPECT_GE(compared, 9) << csv;
    EXPECT_GE(intervals, 3);
    EXPECT_EQ(valid, std::to_string(intervals));
    EXPECT_EQ(invalid, std::to_string(invalidCount));
    EXPECT_LT(invalidCount, intervals) << "the errors scenario sees whole quarters";
    EXPECT_EQ(totals[".1.3.6.1.2.1.10.30.8.1.2." + e3], std::to_string(esTotal));
}

// No master at the start: the monitor monitors and says so once. The master comes, goes and
// comes back: the lines are back within seconds each time, said once each time.
TEST_F(SnmpEndToEnd, MasterAbsentThenRestartedIsFoundAgain) {
    ASSERT_TRUE(a.StartScript(dirA, kQuietScript, 1)) << a.Stderr();
    ASSERT_TRUE(StartHeadless(Monitoring() + a.Path() + "\n"));
    ASSERT_FALSE(WaitForLog(std::regex("snmp: (no master agent) at")).empty()) << Log();
    ASSERT_TRUE(WaitFor("north", [](const QJsonObject& s) { return Link(s) == u"open"; }, 10s))
        << Log();
    ASSERT_TRUE(StartSnmpd());
    const std::string lastLine = ".1.3.6.1.2.1.2.2.1.2." + std::to_string(kE3 + 16);
    ASSERT_TRUE(Eventually([&] { return !Get(lastLine).empty(); }, 10s, 200ms)) << Log();
    snmpd.Stop(SIGTERM, 5s);
    ASSERT_FALSE(WaitForLog(std::regex("snmp: (lost) the master agent")).empty()) << Log();
    ASSERT_TRUE(StartSnmpd());
    ASSERT_TRUE(Eventually([&] { return !Get(lastLine).empty(); }, 10s, 200ms)) << Log();
    EXPECT_EQ(Walk(".1.3.6.1.2.1.10.18.6.1.10").size(), 16U);
    const std::string log = Log();
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("snmp: no master agent"), 1U) << log;
    EXPECT_EQ(count("snmp: lost the master agent"), 1U) << log;
    EXPECT_EQ(count("snmp: attached to the master agent"), 2U) << log;
    EXPECT_EQ(count("net-snmp"), 0U) << log;
}

}  // namespace
}  // namespace kestrel::e2e

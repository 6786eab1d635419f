// The network devices (raw TCP, RFC 2217) against scripted servers in the test, the Telnet
// decoder byte by byte, and the discovery of serial devices in a made-up /dev and /sys.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/CComm.h"
#include "link/DeviceDiscovery.h"
#include "link/NetworkSerialDevice.h"
#include "link/Telnet.h"
#include "tests/TestFiles.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
namespace t = telnet;

std::string Bytes(std::initializer_list<int> bytes) {
    return std::string(bytes.begin(), bytes.end());  // each byte value as one char
}

struct DecodeCase {
    const char* name;
    std::string input;
    std::string data;
    std::string replies;
};

class TelnetDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

// Whatever the split of the input, the same data and the same replies.
TEST_P(TelnetDecodeTest, SameResultWholeOrByteByByte) {
    const DecodeCase& c = GetParam();
    for (bool byByte : {false, true}) {
        t::Client client;
        client.Start();
        std::string data, replies;
        if (byByte) {
            for (char ch : c.input) {
                client.Feed(std::string_view(&ch, 1), data, replies);
            }
        } else {
            client.Feed(c.input, data, replies);
        }
        EXPECT_EQ(data, c.data) << c.name << (byByte ? " byte by byte" : "");
        EXPECT_EQ(replies, c.replies) << c.name << (byByte ? " byte by byte" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, TelnetDecodeTest,
    ::testing::Values(
        DecodeCase{"Plain", "abc\r", "abc\r", ""},
        DecodeCase{"DoubledIac", Bytes({'a', 255, 255, 'b'}), Bytes({'a', 255, 'b'}), ""},
        // Before BINARY from the server a bare CR comes as CR NUL; once it is on, NUL is data.
        DecodeCase{"CrNulWithoutBinary", Bytes({'\r', 0, 'x', '\r', '\n'}), "\rx\r\n", ""},
        DecodeCase{"CrNulInBinary", Bytes({255, 251, 0, '\r', 0}), Bytes({'\r', 0}), ""},
        // Answers to our own requests are not answered again; a repeated request neither.
        DecodeCase{"AgreedOptionsAreNotAnswered",
                   Bytes({255, 253, 0, 255, 253, 44, 255, 251, 0, 255, 251, 3, 255, 253, 0}), "",
                   ""},
        DecodeCase{"UnknownOptionsAreDeclinedOnce", Bytes({255, 251, 1, 255, 253, 24, 255, 251, 1}),
                   "", Bytes({255, 254, 1, 255, 252, 24, 255, 254, 1})},
        DecodeCase{"OptionSwitchedOffIsConfirmed", Bytes({255, 251, 0, 255, 252, 0}), "",
                   Bytes({255, 254, 0})},
        DecodeCase{"SignatureAsked", Bytes({255, 250, 44, 100, 255, 240, 'z'}), "z",
                   Bytes({255, 250, 44, 0, 'K', 'e', 's', 't', 'r', 'e', 'l', 255, 240})},
        DecodeCase{"NopAndGoAheadCarryNothing", Bytes({'a', 255, 241, 255, 249, 'b'}), "ab", ""},
        DecodeCase{"BrokenSubnegotiationEndsAtTheNextCommand",
                   Bytes({255, 250, 44, 107, 'x', 255, 251, 1, 'y'}), "y", Bytes({255, 254, 1})}),
    [](const auto& info) { return std::string(info.param.name); });

// One step of a scripted server: wait until the client sent `expect`, then send `send`.
struct Step {
    std::string expect;
    std::string send;
};

// A listening socket on the loopback that plays a script to the first connection, on a thread
// of its own, then ends the connection or holds it until the client goes.
class ScriptedServer {
public:
    ScriptedServer() { listener = test::ListenOnLoopback(port); }
    ~ScriptedServer() {
        Join();
        ::close(client);
        ::close(listener);
    }
    void Join() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    void Serve(const std::vector<Step>& script, bool hangUp) {
        thread = std::thread([this, script, hangUp] {
            client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            scriptOk = true;
            for (const Step& step : script) {
                scriptOk = scriptOk && Expect(step.expect);
                ::send(client, step.send.data(), step.send.size(), MSG_NOSIGNAL);
            }
            if (hangUp) {
                std::this_thread::sleep_for(50ms);
                ::shutdown(client, SHUT_RDWR);
            } else {
                Expect("never");  // holds the connection until the client goes
            }
        });
    }
    std::string Path(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
    }
    int port = 0;
    bool scriptOk = false;

private:
    // Reads until everything received so far contains `wanted`; false after 5 s or at the end.
    bool Expect(const std::string& wanted) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (received.find(wanted, seen) == std::string::npos) {
            pollfd p{client, POLLIN, 0};
            char buffer[512];
            if (std::chrono::steady_clock::now() > end || ::poll(&p, 1, 100) < 0) {
                return false;
            }
            const ssize_t n = p.revents ? ::recv(client, buffer, sizeof buffer, 0) : 0;
            if (p.revents && n <= 0) {
                return false;
            }
            received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        seen = received.find(wanted, seen) + wanted.size();
        return true;
    }

    std::string received;
    int listener = -1;
    int client = -1;
    std::size_t seen = 0;
    std::thread thread;
};

const std::string kOpening = Bytes({255, 251, 0, 255, 251, 44, 255, 253, 0, 255, 253, 3});
const std::string kAgree = Bytes({255, 253, 0, 255, 253, 44, 255, 251, 0, 255, 251, 3});
// 9600 bit/s, 8 data bits, no parity, one stop bit, RTS/CTS.
const std::string kSettings =
    t::ComPortRequest(t::kSetBaudRate, Bytes({0, 0, 0x25, 0x80})) +
    t::ComPortRequest(t::kSetDataSize, 8) + t::ComPortRequest(t::kSetParity, 1) +
    t::ComPortRequest(t::kSetStopSize, 1) + t::ComPortRequest(t::kSetControl, 3);

std::string Answers(std::uint32_t baud) {
    return t::ComPortRequest(101, Bytes({0, 0, static_cast<int>(baud >> 8 & 255),
                                         static_cast<int>(baud & 255)})) +
           t::ComPortRequest(102, 8) + t::ComPortRequest(103, 1) + t::ComPortRequest(104, 1) +
           t::ComPortRequest(105, 3);
}

// Reads what the device has until `n` bytes came or the connection ended.
std::string Receive(SerialDevice& device, std::size_t n, unsigned& events) {
    std::string got;
    events = 0;
    for (int i = 0; i < 50 && got.size() < n && !(events & kWaitHangup); ++i) {
        events |= device.Wait(-1, -1);
        char buffer[80];
        while (device.QueuedBytes() > 0) {
            const long r = device.Read(buffer, sizeof buffer);
            got.append(buffer, static_cast<std::size_t>(std::max(r, 0L)));
        }
    }
    return got;
}

struct ServerCase {
    const char* name;
    const char* scheme;
    bool listens;
    std::vector<Step> script;
    bool hangUp;         // the server ends the connection after its script
    int error;           // of the open, or else of the line settings
    const char* detail;  // in the failure's words
    std::string data;    // read once the line is set up
    unsigned lines;      // modem lines reported with the data, if any
};

class NetworkDeviceTest : public ::testing::TestWithParam<ServerCase> {};

// A network device fails the way a local port that failed the same way does, with words on
// why; once set up, it reads the data with the escapes undone and the modem lines reported.
TEST_P(NetworkDeviceTest, OpensSetsTheLineAndReads) {
    const ServerCase& c = GetParam();
    ScriptedServer server;
    ASSERT_GT(server.port, 0);
    std::string path = server.Path(c.scheme);
    if (c.listens) {
        server.Serve(c.script, c.hangUp);
    } else {
        ScriptedServer gone;  // a port nobody listens on any more
        path = gone.Path(c.scheme);
    }
    NetworkSerialDevice device;
    const auto start = std::chrono::steady_clock::now();
    int error = device.Open(path);
    unsigned lines = 0;
    if (error == 0) {
        EXPECT_EQ(device.GetModemLines(lines), ModemQuery::Unsupported);  // nothing reported yet
        ASSERT_TRUE(device.SetEventMask(kEvRxChar));
        error = device.SetState(CComm::BuildDcb(CommInfo{}, Dcb{}));
    }
    EXPECT_EQ(error, c.error) << device.FailureDetail();
    EXPECT_LT(std::chrono::steady_clock::now() - start, NetworkSerialDevice::kAnswerLimit + 1s);
    if (error != 0) {
        EXPECT_THAT(device.FailureDetail(), ::testing::HasSubstr("127.0.0.1:"));
        EXPECT_THAT(device.FailureDetail(), ::testing::HasSubstr(c.detail));
    } else {
        EXPECT_TRUE(device.SetRts(true));
        EXPECT_TRUE(device.SetDtr(false));
        // All lines low, as ser2net reports a serial side without any, is no line seen on.
        EXPECT_EQ(device.GetModemLines(lines), ModemQuery::Unsupported);
        unsigned events = 0;
        EXPECT_EQ(Receive(device, c.hangUp ? 100 : c.data.size(), events), c.data);
        EXPECT_EQ((events & kWaitHangup) != 0, c.hangUp);
        EXPECT_EQ(device.GetModemLines(lines), c.lines ? ModemQuery::Ok : ModemQuery::Unsupported);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(device.QueuedBytes(), c.hangUp ? -1 : 0);
    }
    device.Close();
    server.Join();
    EXPECT_TRUE(!c.listens || server.scriptOk);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Servers, NetworkDeviceTest, ::testing::Values(
    // Agreement with an option we do not want, which must be declined once; all modem lines
    // low, as ser2net reports them; then data with a 255 in it (doubled) and a modem-state
    // report in the middle.
    ServerCase{"Rfc2217", "rfc2217", true,
               {{kOpening, kAgree + Bytes({255, 251, 1})},
                {Bytes({255, 254, 1}), ""},
                {t::ComPortRequest(t::kSetModemStateMask, 0xF0),
                 t::ComPortRequest(100, "ser2net") + t::ComPortRequest(111, 0xF0) +
                     t::ComPortRequest(107, 0)},
                {kSettings, Answers(9600)},
                {t::ComPortRequest(t::kSetControl, t::kControlDtrOff),
                 "ab" + Bytes({255, 255}) + t::ComPortRequest(107, 0x30) + "cd"}},
               false, 0, "", "ab" + Bytes({255}) + "cd", kLineCts | kLineDsr},
    // Raw TCP passes every byte untouched (the line is set up on the server).
    ServerCase{"RawTcp", "tcp", true, {{"", "ab" + Bytes({255, 255, 0, '\r'})}}, true, 0, "",
               "ab" + Bytes({255, 255, 0, '\r'}), 0},
    ServerCase{"NobodyListens", "rfc2217", false, {}, false, ECONNREFUSED, "refused", "", 0},
    ServerCase{"RefusesTheComPortOption", "rfc2217", true, {{kOpening, Bytes({255, 254, 44})}},
               false, EPROTONOSUPPORT, "COM-PORT", "", 0},
    ServerCase{"RefusesTheSpeed", "rfc2217", true,
               // The speed answered has a 255 in it, which comes doubled.
               {{kOpening, kAgree},
                {kSettings, Bytes({255, 250, 44, 101, 0, 0, 255, 255, 0, 255, 240}) +
                                Answers(9600).substr(10)}},
               false, EINVAL, "refused the speed (answered 65280)", "", 0},
    ServerCase{"AcceptsAndSaysNothing", "rfc2217", true, {}, false, ETIMEDOUT, "did not answer",
               "", 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(NetworkPathTest, Forms) {
    const struct {
        const char* path;
        bool rfc2217;
        const char* host;
    } valid[] = {{"tcp://ts-north:2001", false, "ts-north"},
                 {"rfc2217://10.0.0.7:7000", true, "10.0.0.7"},
                 {"rfc2217://[fe80::1]:7000", true, "fe80::1"}};
    for (const auto& c : valid) {
        const auto a = ParseNetworkPath(c.path);
        ASSERT_TRUE(a) << c.path;
        EXPECT_EQ(a->rfc2217, c.rfc2217) << c.path;
        EXPECT_EQ(a->host, c.host) << c.path;
    }
    for (const char* path : {"tcp://fe80::1:7000", "tcp://ts-north", "tcp://ts-north:0",
                             "tcp://ts-north:70000", "tcp://:2001", "/dev/ttyUSB0"}) {
        EXPECT_FALSE(ParseNetworkPath(path)) << path;
    }
    // The program's factory gives a network link to the receive thread to open.
    auto factory = MakePosixSerialDeviceFactory();
    EXPECT_FALSE(factory->OpensAtOnce("rfc2217://ts-north:2001"));
    EXPECT_TRUE(factory->OpensAtOnce("/dev/ttyUSB0"));
}

TEST(DeviceDiscoveryTest, ByIdFirstThenUsbThenAcmWithWhatSysfsKnows) {
    namespace fs = std::filesystem;
    const test::TempDir root;
    const fs::path dev = root.path / "dev";
    const fs::path sys = root.path / "sys";
    fs::create_directories(dev / "serial" / "by-id");
    for (const char* node :
         {"ttyUSB0", "ttyUSB1", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "tty0"}) {
        std::ofstream(dev / node).put('\0');
    }
    fs::create_symlink("../../ttyUSB1",
                       dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1B2-if00-port0");
    fs::create_symlink("../../ttyS0", dev / "serial" / "by-id" / "pci-serial0");
    fs::create_symlink("../../ttyUSB9", dev / "serial" / "by-id" / "usb-left-behind");
    const fs::path usb = sys / "devices" / "usb1" / "1-1";
    fs::create_directories(usb / "1-1:1.0" / "ttyUSB1");
    for (const auto& [name, value] : {std::pair{"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"},
                                      {"serial", "A1B2"},
                                      {"idVendor", "0403"},
                                      {"idProduct", "6001"}}) {
        std::ofstream(usb / name) << value << "\n";
    }
    fs::create_directories(sys / "class" / "tty" / "ttyUSB1");
    fs::create_symlink(usb / "1-1:1.0" / "ttyUSB1", sys / "class" / "tty" / "ttyUSB1" / "device");

    const auto found = ListSerialDevices(DeviceRoots{dev.string(), sys.string()});
    std::vector<std::string> got;
    for (const auto& d : found) {
        got.push_back(fs::path(d.path).filename().string() + " " +
                      fs::path(d.node).filename().string() + " " + d.vendor + "/" + d.product +
                      "/" + d.serial + "/" + d.vendorId + ":" + d.productId);
    }
    EXPECT_THAT(got,
                ::testing::ElementsAre(
                    "usb-FTDI_FT232R_A1B2-if00-port0 ttyUSB1 FTDI/FT232R USB UART/A1B2/0403:6001",
                    "ttyUSB0 ttyUSB0 ///:", "ttyUSB2 ttyUSB2 ///:", "ttyUSB10 ttyUSB10 ///:",
                    "ttyACM0 ttyACM0 ///:"));
}

}  // namespace
}  // namespace kestrel

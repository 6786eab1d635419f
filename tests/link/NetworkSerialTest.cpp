// The network devices (raw TCP, RFC 2217) against scripted servers in the test, the Telnet
// decoder byte by byte, and the discovery of serial devices in a made-up /dev and /sys.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "link/CComm.h"
#include "link/DeviceDiscovery.h"
#include "link/NetworkSerialDevice.h"
#include "link/Telnet.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
namespace t = telnet;

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) {
        s.push_back(static_cast<char>(b));
    }
    return s;
}

// ---------------------------------------------------------------------------------------
// The decoder alone

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

TEST(TelnetDecode, SettingsAnswersAndModemState) {
    t::Client client;
    client.Start();
    const std::string asked = client.RequestSettings(9600);
    EXPECT_EQ(asked,
              t::ComPortRequest(t::kSetBaudRate, Bytes({0, 0, 0x25, 0x80})) +
                  t::ComPortRequest(t::kSetDataSize, 8) + t::ComPortRequest(t::kSetParity, 1) +
                  t::ComPortRequest(t::kSetStopSize, 1) + t::ComPortRequest(t::kSetControl, 3));
    std::string data, replies;
    // A baud rate with a 255 in it arrives doubled.
    client.Feed(Bytes({255, 250, 44, 101, 0, 0, 255, 255, 0, 255, 240}), data, replies);
    EXPECT_EQ(client.Answer(t::kBaud), 0xFF00u);
    EXPECT_EQ(client.RefusedSetting(), t::kBaud);
    EXPECT_FALSE(client.SettingsAnswered());
    EXPECT_FALSE(client.ModemState());
    client.Feed(t::ComPortRequest(107, 0x31), data, replies);
    EXPECT_EQ(client.ModemState(), 0x31);
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(replies.empty());
}

// ---------------------------------------------------------------------------------------
// Scripted servers

// A listening socket on the loopback; Serve() runs `script` on the first connection, on a
// thread of its own.
class ScriptedServer {
public:
    using Script = std::function<void(ScriptedServer&)>;
    ScriptedServer() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(listener, 4) == 0 &&
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            port = ntohs(a.sin_port);
        }
    }
    ~ScriptedServer() {
        Join();
        CloseClient();
        ::close(listener);
    }
    // Waits for the script to end (a client that went ends an Expect).
    void Join() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    void Serve(Script script) {
        thread = std::thread([this, script] {
            client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            script(*this);
        });
    }
    std::string Path(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
    }
    // Reads until everything received so far contains `wanted`; false after 5 s.
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
    void Send(const std::string& bytes) {
        ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void CloseClient() {
        if (client >= 0) {
            ::close(client);
            client = -1;
        }
    }
    std::string received;
    int port = 0;

private:
    int listener = -1;
    int client = -1;
    std::size_t seen = 0;
    std::thread thread;
};

const std::string kOpening = Bytes({255, 251, 0, 255, 251, 44, 255, 253, 0, 255, 253, 3});
const std::string kAgree = Bytes({255, 253, 0, 255, 253, 44, 255, 251, 0, 255, 251, 3});

std::string Answers(std::uint32_t baud) {
    return t::ComPortRequest(101, Bytes({0, 0, static_cast<int>(baud >> 8 & 255),
                                         static_cast<int>(baud & 255)})) +
           t::ComPortRequest(102, 8) + t::ComPortRequest(103, 1) + t::ComPortRequest(104, 1) +
           t::ComPortRequest(105, 3);
}

Dcb FixedLine() {
    return CComm::BuildDcb(CommInfo{}, Dcb{});
}

// Reads what the device has until `n` bytes came or the connection ended.
std::string Receive(SerialDevice& device, std::size_t n, unsigned& events) {
    std::string got;
    events = 0;
    for (int i = 0; i < 50 && got.size() < n && !(events & kWaitHangup); ++i) {
        events |= device.Wait(-1);
        char buffer[80];
        while (device.QueuedBytes() > 0) {
            const long r = device.Read(buffer, sizeof buffer);
            got.append(buffer, static_cast<std::size_t>(std::max(r, 0L)));
        }
    }
    return got;
}

TEST(Rfc2217Test, NegotiatesSetsTheLineAndReadsDataAndModemState) {
    ScriptedServer server;
    ASSERT_GT(server.port, 0);
    bool scriptOk = false;
    server.Serve([&](ScriptedServer& s) {
        scriptOk = s.Expect(kOpening);
        // Agreement, and an option we do not want, which must be declined once.
        s.Send(kAgree + Bytes({255, 251, 1}));
        scriptOk = scriptOk && s.Expect(Bytes({255, 254, 1}));
        scriptOk = scriptOk && s.Expect(t::ComPortRequest(t::kSetModemStateMask, 0xF0));
        // All lines low, as ser2net reports a serial side without any.
        s.Send(t::ComPortRequest(100, "ser2net") + t::ComPortRequest(111, 0xF0) +
               t::ComPortRequest(107, 0));
        scriptOk = scriptOk && s.Expect(t::ComPortRequest(t::kSetControl, 3));
        s.Send(Answers(9600));
        scriptOk = scriptOk && s.Expect(t::ComPortRequest(t::kSetControl, t::kControlDtrOff));
        // Data with a 255 in it (doubled) and a modem-state report in the middle.
        s.Send("ab" + Bytes({255, 255}) + t::ComPortRequest(107, 0x30) + "cd");
        s.Expect("never");  // holds the connection until the client goes
    });
    NetworkSerialDevice device;
    ASSERT_EQ(device.Open(server.Path("rfc2217")), 0) << device.FailureDetail();
    unsigned lines = 0;
    EXPECT_EQ(device.GetModemLines(lines), ModemQuery::Unsupported);  // nothing reported yet
    ASSERT_TRUE(device.SetEventMask(kEvRxChar));
    ASSERT_EQ(device.SetState(FixedLine()), 0) << device.FailureDetail();
    EXPECT_TRUE(device.SetRts(true));
    EXPECT_TRUE(device.SetDtr(false));
    EXPECT_EQ(device.GetModemLines(lines), ModemQuery::Unsupported);  // no line seen on yet
    unsigned events = 0;
    EXPECT_EQ(Receive(device, 5, events), "ab" + Bytes({255}) + "cd");
    EXPECT_EQ(device.GetModemLines(lines), ModemQuery::Ok);
    EXPECT_EQ(lines, kLineCts | kLineDsr);
    device.Close();
    server.Join();
    EXPECT_TRUE(scriptOk);
}

struct FailureCase {
    const char* name;
    std::function<void(ScriptedServer&)> script;  // null: nobody listens
    bool openFails;
    int error;
    const char* detail;
};

class Rfc2217FailureTest : public ::testing::TestWithParam<FailureCase> {};

// Each fails the way a local port that failed the same way does, with words on why.
TEST_P(Rfc2217FailureTest, ReportedLikeALocalPort) {
    const FailureCase& c = GetParam();
    ScriptedServer server;
    std::string path = server.Path("rfc2217");
    if (c.script) {
        server.Serve(c.script);
    } else {
        ScriptedServer gone;  // a port nobody listens on any more
        path = gone.Path("rfc2217");
    }
    NetworkSerialDevice device;
    const auto start = std::chrono::steady_clock::now();
    int error = device.Open(path);
    if (!c.openFails) {
        ASSERT_EQ(error, 0) << device.FailureDetail();
        error = device.SetState(FixedLine());
    }
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, NetworkSerialDevice::kAnswerLimit + 1s);
    EXPECT_THAT(device.FailureDetail(), ::testing::HasSubstr("127.0.0.1:"));
    EXPECT_THAT(device.FailureDetail(), ::testing::HasSubstr(c.detail));
    device.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, Rfc2217FailureTest,
    ::testing::Values(FailureCase{"NobodyListens", nullptr, true, ECONNREFUSED, "refused"},
                      FailureCase{"RefusesTheComPortOption",
                                  [](ScriptedServer& s) {
                                      s.Expect(kOpening);
                                      s.Send(Bytes({255, 254, 44}));
                                      s.Expect("never");
                                  },
                                  true, EPROTONOSUPPORT, "COM-PORT"},
                      FailureCase{"RefusesTheSpeed",
                                  [](ScriptedServer& s) {
                                      s.Expect(kOpening);
                                      s.Send(kAgree);
                                      s.Expect(t::ComPortRequest(t::kSetControl, 3));
                                      s.Send(Answers(19200));
                                      s.Expect("never");
                                  },
                                  false, EINVAL, "refused the speed (answered 19200)"},
                      FailureCase{"AcceptsAndSaysNothing",
                                  [](ScriptedServer& s) { s.Expect("never"); }, true, ETIMEDOUT,
                                  "did not answer"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RawTcpTest, BytesPassUntouchedAndTheEndIsAHangUp) {
    ScriptedServer server;
    server.Serve([](ScriptedServer& s) {
        s.Send("ab" + Bytes({255, 255, 0, '\r'}));
        std::this_thread::sleep_for(50ms);
        s.CloseClient();
    });
    NetworkSerialDevice device;
    ASSERT_EQ(device.Open(server.Path("tcp")), 0) << device.FailureDetail();
    ASSERT_TRUE(device.SetEventMask(kEvRxChar));
    EXPECT_EQ(device.SetState(FixedLine()), 0);  // set up on the server
    unsigned lines = 0;
    EXPECT_EQ(device.GetModemLines(lines), ModemQuery::Unsupported);
    unsigned events = 0;
    EXPECT_EQ(Receive(device, 100, events), "ab" + Bytes({255, 255, 0, '\r'}));
    EXPECT_TRUE(events & kWaitHangup);
    EXPECT_EQ(device.QueuedBytes(), -1);
}

TEST(NetworkPathTest, Forms) {
    struct Case {
        const char* path;
        bool valid;
        bool rfc2217;
        const char* host;
    };
    const Case cases[] = {
        {"tcp://ts-north:2001", true, false, "ts-north"},
        {"rfc2217://10.0.0.7:7000", true, true, "10.0.0.7"},
        {"rfc2217://[fe80::1]:7000", true, true, "fe80::1"},
        {"tcp://fe80::1:7000", false, false, ""},
        {"tcp://ts-north", false, false, ""},
        {"tcp://ts-north:0", false, false, ""},
        {"tcp://ts-north:70000", false, false, ""},
        {"tcp://:2001", false, false, ""},
        {"/dev/ttyUSB0", false, false, ""},
    };
    for (const Case& c : cases) {
        const auto a = ParseNetworkPath(c.path);
        EXPECT_EQ(a.has_value(), c.valid) << c.path;
        if (a) {
            EXPECT_EQ(a->rfc2217, c.rfc2217) << c.path;
            EXPECT_EQ(a->host, c.host) << c.path;
        }
    }
    // The program's factory gives a network link to the receive thread to open.
    auto factory = MakePosixSerialDeviceFactory();
    EXPECT_FALSE(factory->OpensAtOnce("rfc2217://ts-north:2001"));
    EXPECT_TRUE(factory->OpensAtOnce("/dev/ttyUSB0"));
}

// ---------------------------------------------------------------------------------------
// Discovery

TEST(DeviceDiscoveryTest, ByIdFirstThenUsbThenAcmWithWhatSysfsKnows) {
    namespace fs = std::filesystem;
    const fs::path root =
        fs::temp_directory_path() / ("kestrel-discovery-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path dev = root / "dev";
    const fs::path sys = root / "sys";
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
    fs::remove_all(root);
}

}  // namespace
}  // namespace kestrel

// The client side of Telnet with the COM-PORT-OPTION (RFC 854, 856, 858, 1143, 2217) as a
// pure state machine: bytes from the server in, line data, replies and news out. No sockets
// here, so that every byte of it can be tested and fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptSga = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers with 100 added.
enum ComPortCommand : std::uint8_t {
    kSignature = 0,
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kFlowControlSuspend = 8,
    kFlowControlResume = 9,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Values of the commands that Kestrel sends.
inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kStopOne = 1;
inline constexpr std::uint8_t kControlHardwareFlow = 3;
inline constexpr std::uint8_t kControlDtrOn = 8;
inline constexpr std::uint8_t kControlDtrOff = 9;
inline constexpr std::uint8_t kControlRtsOn = 11;
inline constexpr std::uint8_t kControlRtsOff = 12;
inline constexpr std::uint8_t kPurgeBoth = 3;
// Modem-state bits of NOTIFY-MODEMSTATE.
inline constexpr std::uint8_t kModemCd = 0x80;
inline constexpr std::uint8_t kModemRi = 0x40;
inline constexpr std::uint8_t kModemDsr = 0x20;
inline constexpr std::uint8_t kModemCts = 0x10;

// "IAC SB COM-PORT-OPTION command value IAC SE", with every 255 in the value doubled.
std::string ComPortRequest(std::uint8_t command, std::string_view value);
std::string ComPortRequest(std::uint8_t command, std::uint8_t value);
// The line settings a COM-PORT client asks for, as one request each, in this order.
enum Setting { kBaud, kDataSize, kParity, kStopSize, kFlow, kSettingCount };

// One Telnet connection seen from the client. Feed() takes whatever the socket gave, in any
// split; it appends line data to `data` and protocol answers to `replies`, which the caller
// sends as they are. Option negotiation follows the Q method of RFC 1143, so no sequence of
// requests from the server can make the two ends loop.
class Client {
public:
    // The opening: our requests for BINARY both ways, SUPPRESS-GO-AHEAD from the server and
    // the COM-PORT-OPTION.
    std::string Start();
    void Feed(std::string_view bytes, std::string& data, std::string& replies);

    // The server agreed to the COM-PORT-OPTION (answered our WILL with DO), or refused it.
    bool ComPortAgreed() const { return us[kOptComPort] == Q::Yes; }
    bool ComPortRefused() const { return comPortRefused; }

    // Asks for the fixed line settings and remembers what it asked for, so that the answers
    // can be checked: 9600 bit/s, 8 data bits, no parity, one stop bit, RTS/CTS.
    std::string RequestSettings(std::uint32_t baud);
    // Every setting asked for has been answered.
    bool SettingsAnswered() const;
    // The first answer that differed from what was asked for; nothing while all agree.
    std::optional<Setting> RefusedSetting() const;
    // What the server answered for a setting (the baud rate as it came), if it has.
    std::optional<std::uint32_t> Answer(Setting s) const { return answers[s]; }

    // The modem state of the last NOTIFY-MODEMSTATE, if the server ever sent one.
    std::optional<std::uint8_t> ModemState() const { return modemState; }
    // The server's SIGNATURE text, once it has told it.
    const std::string& ServerSignature() const { return serverSignature; }
    // The server asked us to hold our output (FLOWCONTROL-SUSPEND); we send no data anyway.
    bool OutputSuspended() const { return outputSuspended; }

    // Our own signature, sent when the server asks for it.
    static constexpr std::string_view kOwnSignature = "Kestrel";

private:
    enum class Q : std::uint8_t { No, Yes, WantYes };
    enum class State : std::uint8_t { Data, Iac, Verb, Sb, SbData, SbIac, Cr };
    // Longest subnegotiation kept; a longer one is cut (nothing Kestrel reads is longer).
    static constexpr std::size_t kMaxSub = 64;

    void Negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies);
    void SubNegotiation(std::string& replies);
    static bool WeMay(std::uint8_t option);
    static bool HeMay(std::uint8_t option);
    static std::string Command(std::uint8_t verb, std::uint8_t option);

    State state = State::Data;
    std::uint8_t verb = 0;
    std::string sub;
    Q us[256]{};   // options we perform (our WILL)
    Q him[256]{};  // options the server performs (its WILL)
    bool comPortRefused = false;
    std::optional<std::uint32_t> asked[kSettingCount];
    std::optional<std::uint32_t> answers[kSettingCount];
    std::optional<std::uint8_t> modemState;
    std::string serverSignature;
    bool outputSuspended = false;
};

}  // namespace kestrel::telnet

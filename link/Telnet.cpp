// Telnet client state machine with the COM-PORT-OPTION: decoding, negotiation, settings.
#include "link/Telnet.h"

namespace kestrel::telnet {

std::string ComPortRequest(std::uint8_t command, std::string_view value) {
    std::string out{static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kOptComPort),
                    static_cast<char>(command)};
    for (char c : value) {
        out.push_back(c);
        if (static_cast<std::uint8_t>(c) == kIac) {
            out.push_back(c);  // a 255 in a value is doubled like one in the data
        }
    }
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSe));
    return out;
}

std::string ComPortRequest(std::uint8_t command, std::uint8_t value) {
    const char v = static_cast<char>(value);
    return ComPortRequest(command, std::string_view(&v, 1));
}

std::string Client::Command(std::uint8_t verb, std::uint8_t option) {
    return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

// Binary both ways keeps 0xFF and CR in the frames intact; the COM-PORT-OPTION is ours to
// perform. Anything else we decline.
bool Client::WeMay(std::uint8_t option) {
    return option == kOptBinary || option == kOptComPort || option == kOptSga;
}

bool Client::HeMay(std::uint8_t option) {
    return option == kOptBinary || option == kOptSga;
}

std::string Client::Start() {
    std::string out;
    for (std::uint8_t o : {kOptBinary, kOptComPort}) {
        us[o] = Q::WantYes;
        out += Command(kWill, o);
    }
    for (std::uint8_t o : {kOptBinary, kOptSga}) {
        him[o] = Q::WantYes;
        out += Command(kDo, o);
    }
    return out;
}

void Client::Feed(std::string_view bytes, std::string& data, std::string& replies) {
    for (char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        switch (state) {
            case State::Cr:
                // Without BINARY from the server, a bare CR comes as CR NUL.
                state = State::Data;
                if (b == 0) {
                    break;
                }
                [[fallthrough]];
            case State::Data:
                if (b == kIac) {
                    state = State::Iac;
                } else {
                    data.push_back(ch);
                    if (b == '\r' && him[kOptBinary] != Q::Yes) {
                        state = State::Cr;
                    }
                }
                break;
            case State::Iac:
                if (b == kIac) {
                    data.push_back(ch);  // a doubled IAC is one 255 of data
                    state = State::Data;
                } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                    verb = b;
                    state = State::Verb;
                } else if (b == kSb) {
                    sub.clear();
                    state = State::Sb;
                } else {
                    state = State::Data;  // NOP, GA, AYT and friends carry nothing for us
                }
                break;
            case State::Verb:
                Negotiate(verb, b, replies);
                state = State::Data;
                break;
            case State::Sb:
            case State::SbData:
                if (b == kIac) {
                    state = State::SbIac;
                } else {
                    if (sub.size() < kMaxSub) {
                        sub.push_back(ch);
                    }
                    state = State::SbData;
                }
                break;
            case State::SbIac:
                if (b == kIac) {
                    if (sub.size() < kMaxSub) {
                        sub.push_back(ch);
                    }
                    state = State::SbData;
                } else if (b == kSe) {
                    SubNegotiation(replies);
                    state = State::Data;
                } else {
                    // IAC and anything but SE inside a subnegotiation: the sender broke it
                    // off. Drop what was collected and read the byte as a command.
                    sub.clear();
                    state = State::Iac;
                    Feed(std::string_view(&ch, 1), data, replies);
                }
                break;
        }
    }
}

// RFC 1143: a request is answered only when it changes the state, and an answer to our own
// request is not answered again.
void Client::Negotiate(std::uint8_t v, std::uint8_t option, std::string& replies) {
    if (v == kDo || v == kDont) {
        Q& q = us[option];
        const bool on = v == kDo;
        if (on) {
            if (q == Q::No) {
                const bool may = WeMay(option);
                q = may ? Q::Yes : Q::No;
                replies += Command(may ? kWill : kWont, option);
            } else {
                q = Q::Yes;
            }
        } else {
            if (q == Q::Yes) {
                replies += Command(kWont, option);
            }
            q = Q::No;
            // A server that will not have the option cannot set up its serial side for us.
            comPortRefused = comPortRefused || option == kOptComPort;
        }
        return;
    }
    Q& q = him[option];
    if (v == kWill) {
        if (q == Q::No) {
            const bool may = HeMay(option);
            q = may ? Q::Yes : Q::No;
            replies += Command(may ? kDo : kDont, option);
        } else {
            q = Q::Yes;
        }
    } else {
        if (q == Q::Yes) {
            replies += Command(kDont, option);
        }
        q = Q::No;
    }
}

void Client::SubNegotiation(std::string& replies) {
    if (sub.size() < 2 || static_cast<std::uint8_t>(sub[0]) != kOptComPort) {
        return;
    }
    const auto command = static_cast<std::uint8_t>(sub[1]);
    const std::string_view value = std::string_view(sub).substr(2);
    auto byte = [&]() -> std::optional<std::uint32_t> {
        if (value.empty()) {
            return std::nullopt;
        }
        return static_cast<std::uint8_t>(value[0]);
    };
    auto answer = [&](Setting s, std::optional<std::uint32_t> v) {
        if (v && asked[s] && !answers[s]) {
            answers[s] = v;
        }
    };
    switch (command) {
        case kSignature:
        case kSignature + kServerOffset:
            // An empty signature is a request for ours; text is the server's own.
            if (value.empty()) {
                replies += ComPortRequest(kSignature, kOwnSignature);
            } else {
                serverSignature.assign(value);
            }
            break;
        case kSetBaudRate + kServerOffset:
            if (value.size() >= 4) {
                std::uint32_t baud = 0;
                for (int i = 0; i < 4; ++i) {
                    baud = baud << 8 | static_cast<std::uint8_t>(value[i]);
                }
                answer(kBaud, baud);
            }
            break;
        case kSetDataSize + kServerOffset:
            answer(kDataSize, byte());
            break;
        case kSetParity + kServerOffset:
            answer(kParity, byte());
            break;
        case kSetStopSize + kServerOffset:
            answer(kStopSize, byte());
            break;
        case kSetControl + kServerOffset:
            // Only the answer about flow control is checked; line requests are not waited for.
            if (const auto v = byte(); v && *v <= 3 && v != 0u) {
                answer(kFlow, v);
            }
            break;
        case kNotifyModemState + kServerOffset:
            if (!value.empty()) {
                modemState = static_cast<std::uint8_t>(value[0]);
            }
            break;
        case kFlowControlSuspend + kServerOffset:
            outputSuspended = true;
            break;
        case kFlowControlResume + kServerOffset:
            outputSuspended = false;
            break;
        default:
            break;  // line state, mask and purge acknowledgements carry nothing we use
    }
}

std::string Client::RequestSettings(std::uint32_t baud) {
    const std::string baudValue{static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                                static_cast<char>(baud >> 8), static_cast<char>(baud)};
    const std::uint32_t wanted[kSettingCount] = {baud, 8, kParityNone, kStopOne,
                                                 kControlHardwareFlow};
    for (int s = 0; s < kSettingCount; ++s) {
        asked[s] = wanted[s];
        answers[s].reset();
    }
    return ComPortRequest(kSetBaudRate, baudValue) + ComPortRequest(kSetDataSize, 8) +
           ComPortRequest(kSetParity, kParityNone) + ComPortRequest(kSetStopSize, kStopOne) +
           ComPortRequest(kSetControl, kControlHardwareFlow);
}

bool Client::SettingsAnswered() const {
    for (int s = 0; s < kSettingCount; ++s) {
        if (asked[s] && !answers[s]) {
            return false;
        }
    }
    return true;
}

std::optional<Setting> Client::RefusedSetting() const {
    for (int s = 0; s < kSettingCount; ++s) {
        if (asked[s] && answers[s] && *answers[s] != *asked[s]) {
            return static_cast<Setting>(s);
        }
    }
    return std::nullopt;
}

}  // namespace kestrel::telnet

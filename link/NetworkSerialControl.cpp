// The terminal server's side of a network serial device: the RFC 2217 negotiation that ends an
// open, line settings, control and modem lines.
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "link/LinkDebug.h"
#include "link/NetworkSerialDevice.h"

namespace kestrel {

using Clock = std::chrono::steady_clock;

int NetworkSerialDevice::FinishOpen() {
    if (fd < 0) {
        return EBADF;
    }
    if (rfc2217) {
        if (!Send(client.Start())) {
            return Fail(errno ? errno : EIO, "the connection failed at once");
        }
        const int r = PumpUntil(
            [this] { return client.ComPortAgreed() || client.ComPortRefused(); }, deadline);
        if (r != 0) {
            return Fail(r, r == ETIMEDOUT ? "accepted the connection but did not answer the "
                                            "RFC 2217 negotiation within " +
                                                std::to_string(kAnswerLimit.count()) + " s"
                                          : std::strerror(r));
        }
        if (!client.ComPortAgreed()) {
            return Fail(EPROTONOSUPPORT, "the server refuses the COM-PORT option (RFC 2217)");
        }
        // Its name for the logs, no line-state news (we have no use for them), and the modem
        // lines that tell whether the MUX is there.
        Send(telnet::ComPortRequest(telnet::kSignature, std::string_view()) +
             telnet::ComPortRequest(telnet::kSetLineStateMask, 0) +
             telnet::ComPortRequest(
                 telnet::kSetModemStateMask,
                 telnet::kModemCd | telnet::kModemRi | telnet::kModemDsr | telnet::kModemCts));
    }
    LinkDebug("connected to %s (%s)", name.c_str(), rfc2217 ? "RFC 2217" : "raw TCP");
    return 0;
}

template <class Done>
int NetworkSerialDevice::PumpUntil(Done done, Clock::time_point deadline) {
    for (;;) {
        Pump();
        if (done()) {
            return 0;
        }
        if (hungUp) {
            return ECONNRESET;
        }
        switch (PollSocket(POLLIN, deadline)) {
            case Ready::Yes:
                break;
            case Ready::TimedOut:
                return ETIMEDOUT;
            case Ready::Cancelled:
                return ECANCELED;
            case Ready::Failed:
                return errno;
        }
    }
}

bool NetworkSerialDevice::GetState(Dcb& /*dcb*/) {
    return false;  // the settings live on the server; the driver's record decides them
}

int NetworkSerialDevice::SetState(const Dcb& dcb) {
    if (fd < 0) {
        return EBADF;
    }
    if (!rfc2217) {
        return 0;  // a raw link's serial side is set up on the server
    }
    // What the COM-PORT-OPTION cannot express is refused as a local port refuses it.
    const bool rtsCts = dcb.fOutxCtsFlow || dcb.fRtsControl == 2;
    if (dcb.ByteSize != 8 || dcb.Parity != 0 || dcb.StopBits != 0 || !rtsCts || dcb.fOutxDsrFlow ||
        dcb.fDtrControl == 2 || dcb.fOutX || dcb.fInX) {
        detail = name + ": only 8 data bits, no parity, one stop bit and RTS/CTS are asked for";
        return EINVAL;
    }
    if (!Send(client.RequestSettings(dcb.BaudRate))) {
        return Fail(EIO, "the connection failed");
    }
    const int r = PumpUntil([this] { return client.SettingsAnswered() || client.RefusedSetting(); },
                            Clock::now() + kAnswerLimit);
    if (const auto refused = client.RefusedSetting()) {
        static const char* const kNames[] = {"the speed", "the data size", "the parity",
                                             "the stop bits", "RTS/CTS flow control"};
        detail = name + ": the server refused " + kNames[*refused] + " (answered " +
                 std::to_string(*client.Answer(*refused)) + ")";
        LinkDebug("%s", detail.c_str());
        return EINVAL;
    }
    if (r != 0) {
        detail =
            name + ": " +
            (r == ETIMEDOUT ? std::string("no answer to the line settings") : std::strerror(r));
        return r;
    }
    return 0;
}

bool NetworkSerialDevice::SetEventMask(unsigned mask) {
    if (fd < 0) {
        return false;
    }
    eventMask = mask;
    return true;
}

bool NetworkSerialDevice::Purge() {
    if (fd < 0) {
        return false;
    }
    head = queued = 0;
    return !rfc2217 || Send(telnet::ComPortRequest(telnet::kPurgeData, telnet::kPurgeBoth));
}

bool NetworkSerialDevice::SetControl(std::uint8_t value) {
    return fd >= 0 && (!rfc2217 || Send(telnet::ComPortRequest(telnet::kSetControl, value)));
}

bool NetworkSerialDevice::SetRts(bool on) {
    return SetControl(on ? telnet::kControlRtsOn : telnet::kControlRtsOff);
}

bool NetworkSerialDevice::SetDtr(bool on) {
    return SetControl(on ? telnet::kControlDtrOn : telnet::kControlDtrOff);
}

ModemQuery NetworkSerialDevice::GetModemLines(unsigned& lines) {
    lines = 0;
    if (fd < 0) {
        return ModemQuery::Failed;
    }
    const int state = modemState.load();
    if (state < 0) {
        // A raw link, or a server whose serial side has no modem lines to report.
        return ModemQuery::Unsupported;
    }
    if (state & telnet::kModemCts)
        lines |= kLineCts;
    if (state & telnet::kModemDsr)
        lines |= kLineDsr;
    if (state & telnet::kModemRi)
        lines |= kLineRing;
    if (state & telnet::kModemCd)
        lines |= kLineCd;
    return ModemQuery::Ok;
}
}  // namespace kestrel

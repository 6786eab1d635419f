// Frame parser: cuts status frames off the receive buffer, resynchronises, decodes them.
#include "monitor/FrameParser.h"

#include <algorithm>
#include <cmath>

namespace kestrel {

namespace {

// Frame layout, counted from the first ':' (c) of the head.
constexpr std::size_t kStatusBefore = 2;  // status byte at c - 2
constexpr std::size_t kHalfHead = 6;      // status cut: everything up to and including ';'
constexpr std::size_t kFirstSlash = 10;   // the first '/' of a frame
constexpr std::size_t kSemicolonAfterColon = 5;
constexpr std::size_t kResyncLimit = 180;  // four frames' worth without an 'R' is noise
constexpr std::size_t kResyncSkip = 25;    // from a frame's 'R' to the next frame

// Status bits of either end.
constexpr unsigned kNoInputSignal = 0x08;
constexpr unsigned kAis = 0x20;
constexpr unsigned kLof = 0x40;
constexpr unsigned kRai = 0x10;

// The user-interface thread reads each field on its own and needs no ordering between them,
// so the many stores of a pass need not each be a full fence. The two flags that tell it a
// frame is ready to be written down (alarmSeen, statusChanged) are the exception: they are
// published with release at the end of the pass.
template <typename T, typename V>
void Set(std::atomic<T>& field, V value) {
    field.store(static_cast<T>(value), std::memory_order_relaxed);
}

bool IsCSpace(unsigned char ch) {
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

int HexDigit(unsigned char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

bool IsDigit(unsigned char ch) {
    return ch >= '0' && ch <= '9';
}

struct EndFlags {
    int noInputSignal = 0;
    int ais = 0;
    int lof = 0;
    int rai = 0;
    bool alarm = false;
};

// The rank rule: no input signal over AIS over LOF; RAI only without any of them.
EndFlags DecodeStatus(unsigned v) {
    EndFlags f;
    if (v & kNoInputSignal) {
        f.noInputSignal = 1;
    } else if (v & kAis) {
        f.ais = 1;
    } else if (v & kLof) {
        f.lof = 1;
    }
    f.alarm = f.noInputSignal || f.ais || f.lof;
    f.rai = (!f.alarm && (v & kRai)) ? 1 : 0;
    return f;
}

// Both numeric conversions start alike: blanks, then an optional sign. True for '-'.
bool SkipBlanksAndSign(std::string_view field, std::size_t& i) {
    while (i < field.size() && IsCSpace(static_cast<unsigned char>(field[i]))) {
        ++i;
    }
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        return field[i++] == '-';
    }
    return false;
}

}  // namespace

std::uint8_t ReadHexField(std::string_view field) {
    std::size_t i = 0;
    const bool negative = SkipBlanksAndSign(field, i);
    // "0x" is a prefix only when a hex digit follows; otherwise the '0' is the number.
    if (i + 2 < field.size() && field[i] == '0' && (field[i + 1] == 'x' || field[i + 1] == 'X') &&
        HexDigit(static_cast<unsigned char>(field[i + 2])) >= 0) {
        i += 2;
    }
    unsigned value = 0;
    for (; i < field.size(); ++i) {
        const int d = HexDigit(static_cast<unsigned char>(field[i]));
        if (d < 0)
            break;
        value = value * 16 + static_cast<unsigned>(d);
    }
    if (negative)
        value = 0u - value;
    return static_cast<std::uint8_t>(value & 0xffu);
}

double ReadCountField(std::string_view field) {
    std::size_t i = 0;
    const bool negative = SkipBlanksAndSign(field, i);
    double mantissa = 0;
    int digits = 0;
    int fractionDigits = 0;
    for (; i < field.size() && IsDigit(static_cast<unsigned char>(field[i])); ++i, ++digits) {
        mantissa = mantissa * 10 + (field[i] - '0');
    }
    if (i < field.size() && field[i] == '.') {
        ++i;
        for (; i < field.size() && IsDigit(static_cast<unsigned char>(field[i])); ++i) {
            mantissa = mantissa * 10 + (field[i] - '0');
            ++digits;
            ++fractionDigits;
        }
    }
    if (digits == 0) {
        return 0;  // no number at all
    }
    int exponent = 0;
    if (i < field.size() && (field[i] == 'e' || field[i] == 'E')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < field.size() && (field[j] == '+' || field[j] == '-')) {
            expNegative = field[j] == '-';
            ++j;
        }
        if (j < field.size() && IsDigit(static_cast<unsigned char>(field[j]))) {
            for (; j < field.size() && IsDigit(static_cast<unsigned char>(field[j])); ++j) {
                exponent = exponent * 10 + (field[j] - '0');
            }
            if (expNegative)
                exponent = -exponent;
        }
    }
    if (negative) {
        return 0;
    }
    // Dividing by an exact power of ten rounds as a correct decimal reader does.
    const int scale = exponent - fractionDigits;
    const double value =
        scale >= 0 ? mantissa * std::pow(10.0, scale) : mantissa / std::pow(10.0, -scale);
    return std::min(value, 9999.0);
}

void FrameParser::Consume(std::size_t n) {
    head += std::min(n, Buffered());
}

void FrameParser::Parse(std::string_view text) {
    state.rxIdle.store(0);

    // Bound what noise can pile up, and give back consumed space once it is the larger part,
    // so that compacting costs no more than the text that was consumed.
    if (Buffered() > kMaxCarryOver) {
        const std::size_t excess = Buffered() - kMaxCarryOver;
        dropped += excess;
        head += excess;
    }
    if (head > 0 && head >= rxBuffer.size() / 2) {
        rxBuffer.erase(0, head);
        head = 0;
    }
    rxBuffer.append(text.data(), text.size());
    received += text.size();

    while (Buffered() >= kFrameLength) {
        const bool applied = Pass();
        if (passListener != nullptr)
            passListener->OnPass(applied ? lastPass : PassReport{});
        if (!applied)
            break;
    }
    if (head == rxBuffer.size()) {
        rxBuffer.clear();
        head = 0;
    }
}

void FrameParser::AdvanceSpinner() {
    int i = state.spinnerIndex.load();
    if (i >= kSpinnerWidth) {
        state.spinnerRising.store(0);
        i = 10;
    } else if (i < 0) {
        state.spinnerRising.store(1);
        i = 1;
    }
    state.spinnerIndex.store(state.spinnerRising.load() ? i + 1 : i - 1);
    state.spinnerShown.store(i);
}

bool FrameParser::Pass() {
    state.frameCount.fetch_add(1);
    AdvanceSpinner();
    Set(state.statusChanged, 0);

    const std::string_view buf = BufferedText();

    // The head is a frame when its first '/' stands at 10 and its first ';' five places
    // after its first ':', which must leave room for the status byte before it.
    bool valid = buf.substr(0, kFirstSlash + 1).find('/') == kFirstSlash;
    std::size_t c = std::string_view::npos;
    if (valid) {
        const std::size_t mark = buf.find_first_of(":;");
        valid = mark != std::string_view::npos && buf[mark] == ':' && mark >= kStatusBefore;
        if (valid) {
            c = mark;
            valid = buf.substr(c, kSemicolonAfterColon + 1).find(';') == kSemicolonAfterColon;
        }
    }
    if (!valid) {
        Resynchronise();
        return false;
    }
    // A pass consumes 2c + 41 characters; a head that validates without holding them
    // never comes from a working MUX, and nothing may be read beyond the buffer.
    if (buf.size() < 2 * c + 41) {
        state.resyncCount.fetch_add(1);
        rxBuffer.clear();
        head = 0;
        return false;
    }

    // Local half.
    const std::uint8_t localStatus = ReadHexField(buf.substr(c - 2, 2));
    std::uint8_t changed = 0;
    if (localStatus != state.lastLocalStatus.exchange(localStatus)) {
        changed |= MonitorState::kLocalChanged;
    }
    const EndFlags local = DecodeStatus(localStatus);
    Set(state.localNoInputSignal, local.noInputSignal);
    Set(state.localAis, local.ais);
    Set(state.localLof, local.lof);
    Set(state.localRai, local.rai);
    // This pass keeps its own copy of the decision: the user-interface thread may reset
    // localAlarm meanwhile, and the remote half must still be read as an alarm frame.
    const bool localAlarm = local.alarm;
    Set(state.localAlarm, localAlarm ? 1 : 0);
    if (localAlarm) {
        state.localAlarmSeconds.fetch_add(1);
    }
    const double near = ReadCountField(buf.substr(c + 1, 4));
    state.nearErrorsCumulative.fetch_add(static_cast<std::int64_t>(near));

    std::size_t pos = c + kHalfHead;
    for (int k = 0; k < 4; ++k) {
        const unsigned v = ReadHexField(buf.substr(pos, 2));
        for (int j = 0; j < 4; ++j) {
            const int i = 15 - 4 * k - j;
            Set(state.tribCErr[i], (v >> (7 - 2 * j)) & 1u);
            Set(state.tribNoSig[i], (v >> (6 - 2 * j)) & 1u);
        }
        pos += (k < 3) ? 3 : 4;
    }

    // Remote half, laid out the same way from here.
    const std::size_t r = pos;
    const std::uint8_t remoteStatus = ReadHexField(buf.substr(r + c - 2, 2));
    if (remoteStatus != state.lastRemoteStatus.exchange(remoteStatus)) {
        changed |= MonitorState::kRemoteChanged;
    }
    const EndFlags remote = DecodeStatus(remoteStatus);
    if (remote.alarm) {
        state.remoteAlarmSeconds.fetch_add(1);
    }
    // Under a local alarm the remote end's report cannot be trusted: it is counted above
    // but shown as clear.
    Set(state.remoteNoInputSignal, localAlarm ? 0 : remote.noInputSignal);
    Set(state.remoteAis, localAlarm ? 0 : remote.ais);
    Set(state.remoteLof, localAlarm ? 0 : remote.lof);
    Set(state.remoteRai, localAlarm ? 0 : remote.rai);

    const double far = ReadCountField(buf.substr(r + c + 1, 4));
    state.farErrorsCumulative.fetch_add(static_cast<std::int64_t>(far));

    pos = r + c + kHalfHead;
    for (int k = 0; k < 4; ++k) {
        const unsigned v = localAlarm ? 0u : ReadHexField(buf.substr(pos, 2));
        for (int j = 0; j < 4; ++j) {
            const int i = 31 - 4 * k - j;
            Set(state.tribCErr[i], (v >> (7 - 2 * j)) & 1u);
            Set(state.tribNoSig[i], (v >> (6 - 2 * j)) & 1u);
        }
        pos += (k < 3) ? 3 : 7;
    }
    // The flags go out last, with release: a tick that takes one with acquire finds every
    // count and indication of this frame, so its row cannot miss them.
    state.statusChanged.store(changed, std::memory_order_release);
    if (localAlarm || remote.alarm) {
        state.alarmSeen.store(1, std::memory_order_release);
    }
    Consume(pos);  // 2c + 41
    lastPass = {true, localAlarm, remote.alarm, near, far, received - Buffered()};

    if (!localAlarm) {
        meter.BerUpdate(near, far);
    }
    return true;
}

void FrameParser::Resynchronise() {
    const std::string_view buf = BufferedText();
    const std::size_t r = buf.substr(0, kResyncLimit).find('R');
    if (r == std::string_view::npos) {
        state.resyncCount.fetch_add(1);
        rxBuffer.clear();
        head = 0;
    } else if (buf.size() > r + kFrameLength) {
        state.resyncCount.fetch_add(1);
        Consume(r + kResyncSkip);
    }
    // Otherwise the head waits for more text.
}

}  // namespace kestrel

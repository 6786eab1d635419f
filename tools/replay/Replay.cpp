// Replays a captured byte stream through the frame parser and reports the state as JSON.
#include "tools/replay/Replay.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ostream>
#include <vector>

namespace kestrel {

namespace {

// Appends `s` as a JSON string. Appending (rather than "a" + JsonString(...)) also keeps
// GCC 12 at -O3 from a false -Wrestrict warning on std::string's operator+.
void AppendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            static const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[ch >> 4];
            out += hex[ch & 15];
        } else {
            out += static_cast<char>(ch);
        }
    }
    out += '"';
}

template <typename T>
void Field(std::string& out, const char* name, T value) {
    out += ",\"";
    out += name;
    out += "\":";
    out += std::to_string(value);
}

std::string Bits(const std::array<std::atomic<int>, kTribCount>& flags) {
    std::string s;
    for (const auto& f : flags)
        s += f.load() ? '1' : '0';
    return s;
}

bool ParseNumber(std::string_view text, long long& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Calls are cut every `chunk` bytes of the input, however the reads happen to split it; only
// the bytes of a call not yet complete are carried from one read to the next, so an endless
// input needs no more memory than this one block. False when reading or writing failed.
template <typename Call>
bool ReplayPlain(CaptureReader& capture, const ReplayOptions& options, const Call& call,
                 std::ostream& out, ReplayResult& result) {
    std::vector<char> block(std::max<std::size_t>(kReplayBlock, options.chunk));
    std::size_t held = 0;
    bool any = false;
    for (;;) {
        // Whatever is decoded is out before waiting for more: a live pipe shows each call.
        out.flush();
        if (!out)
            return false;
        const long n = capture.ReadPlain(block.data() + held, block.size() - held);
        if (n < 0) {
            result.readError = errno;
            return false;
        }
        if (n == 0)
            break;
        any = true;
        held += static_cast<std::size_t>(n);
        std::size_t pos = 0;
        for (; held - pos >= options.chunk; pos += options.chunk) {
            call(std::string_view(block.data() + pos, options.chunk));
        }
        std::copy(block.begin() + static_cast<std::ptrdiff_t>(pos),
                  block.begin() + static_cast<std::ptrdiff_t>(held), block.begin());
        held -= pos;
    }
    // The short last call, or the one call of an empty input.
    if (held > 0 || !any) {
        call(std::string_view(block.data(), held));
    }
    return true;
}

}  // namespace

std::string StateJson(const Decoder& d, long long call) {
    const MonitorState& s = d.state;
    std::string out = "{\"call\":" + std::to_string(call);
    Field(out, "frameCount", s.frameCount.load());
    Field(out, "buffered", d.parser.Buffered());
    Field(out, "localNoInputSignal", s.localNoInputSignal.load());
    Field(out, "localAis", s.localAis.load());
    Field(out, "localLof", s.localLof.load());
    Field(out, "localRai", s.localRai.load());
    Field(out, "remoteNoInputSignal", s.remoteNoInputSignal.load());
    Field(out, "remoteAis", s.remoteAis.load());
    Field(out, "remoteLof", s.remoteLof.load());
    Field(out, "remoteRai", s.remoteRai.load());
    Field(out, "localAlarm", s.localAlarm.load());
    Field(out, "localStatusChanged", s.localStatusChanged());
    Field(out, "remoteStatusChanged", s.remoteStatusChanged());
    Field(out, "lastLocalStatus", static_cast<int>(s.lastLocalStatus.load()));
    Field(out, "lastRemoteStatus", static_cast<int>(s.lastRemoteStatus.load()));
    Field(out, "alarmSeen", static_cast<int>(s.alarmSeen.load()));
    Field(out, "localAlarmSeconds", s.localAlarmSeconds.load());
    Field(out, "nearErrorsCumulative", s.nearErrorsCumulative.load());
    Field(out, "remoteAlarmSeconds", s.remoteAlarmSeconds.load());
    Field(out, "farErrorsCumulative", s.farErrorsCumulative.load());
    Field(out, "nearErrorsTotal", s.nearErrorsTotal.load());
    Field(out, "farErrorsTotal", s.farErrorsTotal.load());
    out += ",\"tribNoSig\":";
    AppendJsonString(out, Bits(s.tribNoSig));
    out += ",\"tribCErr\":";
    AppendJsonString(out, Bits(s.tribCErr));
    out += ",\"spinnerText\":";
    AppendJsonString(out, s.spinnerText());
    out += ",\"ber\":[";
    for (std::size_t i = 0; i < d.ber.texts.size(); ++i) {
        if (i > 0)
            out += ',';
        AppendJsonString(out, d.ber.texts[i]);
    }
    out += "]}";
    return out;
}

bool ParseReplayArgs(int argc, char** argv, ReplayOptions& options, std::string& error) {
    bool haveFile = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            options.help = true;
            continue;
        }
        if (!optionsEnded && arg == "--version") {
            options.version = true;
            continue;
        }
        std::string_view value;
        bool isChunk = arg == "--chunk" || arg.starts_with("--chunk=");
        bool isInterval = arg == "--interval" || arg.starts_with("--interval=");
        if (optionsEnded) {
            isChunk = isInterval = false;
        }
        if (isChunk || isInterval) {
            const auto eq = arg.find('=');
            if (eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                error = "option " + std::string(arg) + " needs a value";
                return false;
            }
            long long n = 0;
            if (isChunk) {
                if (!ParseNumber(value, n) || n < 1 || n > 4096) {
                    error = "--chunk must be a whole number from 1 to 4096, not '" +
                            std::string(value) + "'";
                    return false;
                }
                options.chunk = static_cast<std::size_t>(n);
                options.chunkGiven = true;
            } else {
                if (!ParseNumber(value, n) || (n != 1 && n != 3 && n != 10 && n != 30)) {
                    error = "--interval must be 1, 3, 10 or 30 seconds, not '" +
                            std::string(value) + "'";
                    return false;
                }
                options.intervalSeconds = static_cast<int>(n);
            }
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-' && arg != "-") {
            error = "unknown option '" + std::string(arg) + "'";
            return false;
        } else if (haveFile) {
            error = "only one input file may be given";
            return false;
        } else {
            options.file = std::string(arg);
            haveFile = true;
        }
    }
    return true;
}

ReplayResult Replay(const ByteReader& read, const ReplayOptions& options, std::ostream& out) {
    Decoder decoder;
    for (std::size_t i = 0; i < BerIntervalSeconds.size(); ++i) {
        if (BerIntervalSeconds[i] == options.intervalSeconds) {
            decoder.meter.OnBerInterval(kCmdBerInterval1 + static_cast<int>(i));
        }
    }
    ReplayResult result;
    auto call = [&](std::string_view piece) {
        decoder.parser.Parse(piece);
        out << StateJson(decoder, ++result.calls) << '\n';
    };
    CaptureReader capture(read);
    // A read error is told as errno, like one of a plain stream; damage in words.
    auto failed = [&] {
        result.readError = capture.ReadErrno();
        if (result.readError == 0)
            result.error = capture.Error();
        return result;
    };
    if (!capture.Start())
        return failed();
    if (capture.Timed()) {
        if (options.chunkGiven) {
            result.error =
                "a timed capture is decoded one second per call; --chunk is for plain "
                "byte captures";
            return result;
        }
        for (std::string second;;) {
            out.flush();
            if (!out)
                return result;
            if (!capture.NextSecond(second))
                break;
            call(second);
        }
        if (!capture.Error().empty())
            return failed();
    } else if (!ReplayPlain(capture, options, call, out, result)) {
        return result;
    }
    // A resynchronisation ends a call and leaves what follows for the next one. On a live
    // line that call comes with the next burst; at the end of a capture we make it ourselves,
    // as long as each call still consumes something.
    for (std::size_t before = decoder.parser.Buffered(); before >= kFrameLength;) {
        call({});
        const std::size_t after = decoder.parser.Buffered();
        if (after >= before)
            break;
        before = after;
    }
    result.dropped = decoder.parser.Dropped();
    return result;
}

ReplayResult Replay(std::string_view input, const ReplayOptions& options, std::ostream& out) {
    return Replay(
        [&input](char* buffer, std::size_t size) {
            const std::size_t n = std::min(size, input.size());
            std::copy_n(input.data(), n, buffer);
            input.remove_prefix(n);
            return static_cast<long>(n);
        },
        options, out);
}

}  // namespace kestrel

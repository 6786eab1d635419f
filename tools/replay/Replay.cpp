// Replays a captured byte stream through the frame parser and reports the state as JSON.
#include "tools/replay/Replay.h"

#include <charconv>
#include <ostream>

namespace kestrel {

namespace {

std::string JsonString(std::string_view s) {
    std::string out = "\"";
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
    return out + "\"";
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
    out += ",\"tribNoSig\":" + JsonString(Bits(s.tribNoSig));
    out += ",\"tribCErr\":" + JsonString(Bits(s.tribCErr));
    out += ",\"spinnerText\":" + JsonString(s.spinnerText());
    out += ",\"ber\":[";
    for (std::size_t i = 0; i < d.ber.texts.size(); ++i) {
        out += (i ? "," : "") + JsonString(d.ber.texts[i]);
    }
    return out + "]}";
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

ReplayResult Replay(std::string_view input, const ReplayOptions& options, std::ostream& out) {
    Decoder decoder;
    for (std::size_t i = 0; i < BerIntervalSeconds.size(); ++i) {
        if (BerIntervalSeconds[i] == options.intervalSeconds) {
            decoder.meter.OnBerInterval(kCmdBerInterval1 + static_cast<int>(i));
        }
    }
    long long call = 0;
    std::size_t pos = 0;
    do {
        const std::string_view piece = input.substr(pos, options.chunk);
        decoder.parser.Parse(piece);
        pos += piece.size();
        out << StateJson(decoder, ++call) << '\n';
    } while (pos < input.size());
    // A resynchronisation ends a call and leaves what follows for the next one. On a live
    // line that call comes with the next burst; at the end of a capture we make it ourselves,
    // as long as each call still consumes something.
    for (std::size_t before = decoder.parser.Buffered(); before >= kFrameLength;) {
        decoder.parser.Parse({});
        out << StateJson(decoder, ++call) << '\n';
        const std::size_t after = decoder.parser.Buffered();
        if (after >= before)
            break;
        before = after;
    }
    return {call, decoder.parser.Dropped()};
}

}  // namespace kestrel

// Plain-text scripts of frames and pauses that the simulator plays back line by line.
#include "tools/mux-sim/MuxScript.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrel::sim {

const char* const kScriptHelp =
    "Script format (--script FILE), one step per line; '#' starts a comment:\n"
    "  LS NEAR L1 L2 L3 L4 RS FAR R1 R2 R3 R4 [FIFTH] [repeat N]\n"
    "      one frame, sent N times in a row (default 1, at most 1000000).\n"
    "      LS, RS     local and remote status byte, 1 or 2 hex digits\n"
    "                 (08 no input signal, 20 AIS, 40 LOF, 10 RAI)\n"
    "      NEAR, FAR  near-end and far-end error count of the second, 0..9999\n"
    "      L1..L4     local tributary bytes, R1..R4 remote ones, hex; byte 1 carries\n"
    "                 tributaries 16..13, byte 4 tributaries 4..1, two bits each\n"
    "                 (upper bit code errors, lower bit no signal)\n"
    "      FIFTH      the fifth remote byte, hex (default 00)\n"
    "      Tributary bytes may also be joined with '/' or '\\' (12/34/56/78).\n"
    "      Upper-case hex digits in a line make that frame use upper case.\n"
    "  silence S\n"
    "      send nothing for S seconds (fractions allowed).\n"
    "  Example:\n"
    "      00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 10   # ten quiet seconds\n"
    "      08 0000 00/00/00/00 00 0000 00/00/00/00 repeat 5    # local no signal\n"
    "      silence 12\n";

namespace {

// Splits on blanks and on the separators a frame uses between tributary bytes.
std::vector<std::string_view> Tokens(std::string_view line) {
    std::vector<std::string_view> out;
    auto isSep = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '/' || c == '\\' || c == '\v' ||
               c == '\f';
    };
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSep(line[i])) {
            ++i;
        }
        std::size_t start = i;
        while (i < line.size() && !isSep(line[i])) {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

bool ParseHexByte(std::string_view tok, std::uint8_t& out, bool& upper) {
    if (tok.empty() || tok.size() > 2) {
        return false;
    }
    unsigned v = 0;
    for (char c : tok) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        if (c >= 'A' && c <= 'F') {
            upper = true;
        }
    }
    std::from_chars(tok.data(), tok.data() + tok.size(), v, 16);
    out = static_cast<std::uint8_t>(v);
    return true;
}

bool ParseLong(std::string_view tok, long lo, long hi, long& out) {
    long v = 0;
    auto [end, ec] = std::from_chars(tok.data(), tok.data() + tok.size(), v, 10);
    if (ec != std::errc() || end != tok.data() + tok.size() || v < lo || v > hi) {
        return false;
    }
    out = v;
    return true;
}

// Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) about "'" + std::string(...).
std::string Quote(std::string_view tok) {
    std::string out;
    out.reserve(tok.size() + 2);
    out += '\'';
    out += tok;
    out += '\'';
    return out;
}

}  // namespace

LineResult ParseScriptLine(std::string_view line, ScriptStep& step, std::string& error) {
    if (auto hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
    }
    std::vector<std::string_view> tok = Tokens(line);
    if (tok.empty()) {
        return LineResult::Empty;
    }

    step = ScriptStep{};
    if (tok[0] == "silence") {
        if (tok.size() != 2) {
            error = "'silence' takes one number of seconds";
            return LineResult::Error;
        }
        std::string text(tok[1]);
        char* end = nullptr;
        double s = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size() || !std::isfinite(s) || s <= 0 ||
            s > kMaxSilenceSeconds) {
            error = "silence of " + Quote(tok[1]) + " seconds is not a number from 0 to 86400";
            return LineResult::Error;
        }
        step.kind = ScriptStep::Kind::Silence;
        step.silenceSeconds = s;
        return LineResult::Step;
    }

    // An optional trailing "repeat N".
    if (tok.size() >= 2 && tok[tok.size() - 2] == "repeat") {
        if (!ParseLong(tok.back(), 1, kMaxRepeat, step.repeat)) {
            error = "repeat count " + Quote(tok.back()) + " is not a number from 1 to 1000000";
            return LineResult::Error;
        }
        tok.resize(tok.size() - 2);
    } else if (!tok.empty() && tok.back() == "repeat") {
        error = "'repeat' needs a count";
        return LineResult::Error;
    }
    if (tok.size() != 12 && tok.size() != 13) {
        error =
            "expected 12 fields (LS NEAR L1 L2 L3 L4 RS FAR R1 R2 R3 R4), an optional "
            "fifth byte and 'repeat N'; found " +
            std::to_string(tok.size()) + " fields";
        return LineResult::Error;
    }

    static const char* const names[13] = {"local status",
                                          "near count",
                                          "local tributary byte 1",
                                          "local tributary byte 2",
                                          "local tributary byte 3",
                                          "local tributary byte 4",
                                          "remote status",
                                          "far count",
                                          "remote tributary byte 1",
                                          "remote tributary byte 2",
                                          "remote tributary byte 3",
                                          "remote tributary byte 4",
                                          "fifth remote byte"};
    StatusFrame& f = step.frame;
    std::uint8_t* hexFields[13] = {&f.localStatus,    nullptr,           &f.localTribs[0],
                                   &f.localTribs[1],  &f.localTribs[2],  &f.localTribs[3],
                                   &f.remoteStatus,   nullptr,           &f.remoteTribs[0],
                                   &f.remoteTribs[1], &f.remoteTribs[2], &f.remoteTribs[3],
                                   &f.fifthByte};
    bool upper = false;
    for (std::size_t i = 0; i < tok.size(); ++i) {
        if (hexFields[i] == nullptr) {
            long count = 0;
            if (!ParseLong(tok[i], 0, kMaxFrameCount, count)) {
                error =
                    names[i] + std::string(" ") + Quote(tok[i]) + " is not a number from 0 to 9999";
                return LineResult::Error;
            }
            (i == 1 ? f.nearCount : f.farCount) = static_cast<int>(count);
        } else if (!ParseHexByte(tok[i], *hexFields[i], upper)) {
            error = names[i] + std::string(" ") + Quote(tok[i]) +
                    " is not a byte of one or two hex digits";
            return LineResult::Error;
        }
    }
    f.upperCaseHex = upper;
    return LineResult::Step;
}

bool ParseScript(std::istream& in, std::vector<ScriptStep>& steps, ScriptError& error) {
    steps.clear();
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        ScriptStep step;
        std::string message;
        switch (ParseScriptLine(line, step, message)) {
            case LineResult::Step:
                steps.push_back(step);
                break;
            case LineResult::Empty:
                break;
            case LineResult::Error:
                error = ScriptError{number, message};
                return false;
        }
    }
    bool anyFrame = false;
    for (const ScriptStep& s : steps) {
        anyFrame = anyFrame || s.kind == ScriptStep::Kind::Frame;
    }
    if (!anyFrame) {
        error = ScriptError{0, "the script holds no frame to send"};
        return false;
    }
    return true;
}

}  // namespace kestrel::sim

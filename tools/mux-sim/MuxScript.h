// Plain-text scripts of frames and pauses that the simulator plays back line by line.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/FrameWriter.h"

namespace kestrel::sim {

// One line of a script: a frame sent `repeat` times in a row, or a pause in seconds.
struct ScriptStep {
    enum class Kind { Frame, Silence };
    Kind kind = Kind::Frame;
    StatusFrame frame;
    long repeat = 1;
    double silenceSeconds = 0;

    bool operator==(const ScriptStep&) const = default;
};

// Largest repeat count of one line: about eleven days of frames at one a second.
inline constexpr long kMaxRepeat = 1000000;
// Longest pause of one silence line, in seconds.
inline constexpr double kMaxSilenceSeconds = 86400;

enum class LineResult { Step, Empty, Error };

// Reads one line (without its line end). On Error, `error` says what is wrong.
LineResult ParseScriptLine(std::string_view line, ScriptStep& step, std::string& error);

struct ScriptError {
    int line = 0;  // 1-based; 0 when the script as a whole is at fault
    std::string message;
};

// Reads a whole script; false on the first bad line or when it holds nothing to send.
bool ParseScript(std::istream& in, std::vector<ScriptStep>& steps, ScriptError& error);

// The format as shown by --help.
extern const char* const kScriptHelp;

}  // namespace kestrel::sim

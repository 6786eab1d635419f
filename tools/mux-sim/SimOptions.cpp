// Command line of kestrel-mux-sim.
#include "tools/mux-sim/SimOptions.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "tools/mux-sim/MuxScript.h"
#include "tools/mux-sim/Scenario.h"

namespace kestrel::sim {

namespace {

bool ParseDouble(const std::string& text, double& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) {
        return false;
    }
    out = v;
    return true;
}

template <typename T>
bool ParseInteger(const std::string& text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 10);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::string SimUsage() {
    std::string s =
        "Usage: kestrel-mux-sim [OPTION]...\n"
        "Plays a 34 Mbit/s multiplexer sending its 45-character status frames, for the\n"
        "Kestrel monitor to watch. By default it opens a pseudo-terminal pair and prints\n"
        "the path a monitor should open on the first line of its output.\n"
        "\n"
        "Options:\n"
        "  --device PATH      write to an existing device or file instead of a new\n"
        "                     pseudo-terminal (opened write-only, never by default)\n"
        "  --link PATH        make PATH a symbolic link to the pseudo-terminal (replacing\n"
        "                     a link left there) and remove it at exit, so a monitor can\n"
        "                     find a restarted simulator at the same path\n"
        "  --rate N           frames per second (default 1; fractions from 0.001; at most\n"
        "                     21.33, what a 9600 bit/s line carries)\n"
        "  --scenario NAME    what the MUX does (default tour):\n"
        "                       quiet        no alarms, a few errors now and then\n"
        "                       alarms       local no signal, AIS, LOF, RAI, then the same\n"
        "                                    at the remote end, 5 s each\n"
        "                       tributaries  tributaries losing signal and showing code\n"
        "                                    errors, local and remote\n"
        "                       errors       bursts of near-end and far-end errors\n"
        "                       noise        damaged frames, cut-off frames and garbage\n"
        "                       silence      8 s of frames, then 12 s of nothing, repeated\n"
        "                       tour         about three minutes through all of the above,\n"
        "                                    repeated\n"
        "  --script FILE      play FILE instead of a scenario (format below)\n"
        "  --loop             play the script over and over (default: once, then exit)\n"
        "  --capture FILE     write the line to FILE at once instead of playing it, as a\n"
        "                     timed capture for kestrel-replay: second by second, what\n"
        "                     the line brought in it (at one frame a second, whatever\n"
        "                     --rate says)\n"
        "  --seconds S        stop after S seconds\n"
        "  --frames N         stop after N frames\n"
        "  --seed N           seed of the scenarios' randomness (default 1); the same\n"
        "                     seed gives the same frames\n"
        "  --help             show this help and exit\n"
        "  --version          show the version and exit\n"
        "\n";
    s += kScriptHelp;
    s += "\n"
         "SIGINT or SIGTERM stop the simulator cleanly. On exit it prints to standard error\n"
         "  kestrel-mux-sim: frames sent F, bytes written B, frames dropped D, damaged X\n"
         "where dropped frames are those nobody read in time.\n"
         "Exit status: 0 on success, 1 when the line cannot be opened, 2 on a usage or\n"
         "script error.\n";
    return s;
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& o, std::string& error) {
    bool scenarioGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto flag = [&](bool& out) {
            if (inlineValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            out = true;
            return true;
        };

        std::string v;
        if (name == "--help" || name == "-h") {
            if (!flag(o.help)) {
                return false;
            }
        } else if (name == "--version") {
            if (!flag(o.version)) {
                return false;
            }
        } else if (name == "--loop") {
            if (!flag(o.loop)) {
                return false;
            }
        } else if (name == "--device") {
            if (!value(v)) {
                return false;
            }
            if (v.empty()) {
                error = "--device needs a path";
                return false;
            }
            o.device = v;
        } else if (name == "--capture") {
            if (!value(v)) {
                return false;
            }
            if (v.empty()) {
                error = "--capture needs a file name";
                return false;
            }
            o.capture = v;
        } else if (name == "--link") {
            if (!value(v)) {
                return false;
            }
            if (v.empty()) {
                error = "--link needs a path";
                return false;
            }
            o.link = v;
        } else if (name == "--rate") {
            if (!value(v)) {
                return false;
            }
            double r = 0;
            if (!ParseDouble(v, r) || r < kMinRate) {
                error =
                    "--rate '" + v + "' is not a number of frames per second from " + "0.001 up";
                return false;
            }
            o.requestedRate = r;
            o.rateCapped = r > kMaxRate;
            o.rate = o.rateCapped ? kMaxRate : r;
        } else if (name == "--scenario") {
            if (!value(v)) {
                return false;
            }
            if (!IsScenarioName(v)) {
                error = "unknown scenario '" + v +
                        "' (quiet, alarms, tributaries, errors, noise, silence or tour)";
                return false;
            }
            o.scenario = v;
            scenarioGiven = true;
        } else if (name == "--script") {
            if (!value(v)) {
                return false;
            }
            if (v.empty()) {
                error = "--script needs a file";
                return false;
            }
            o.script = v;
        } else if (name == "--seconds") {
            if (!value(v)) {
                return false;
            }
            double s = 0;
            if (!ParseDouble(v, s) || s <= 0) {
                error = "--seconds '" + v + "' is not a positive number";
                return false;
            }
            o.seconds = s;
        } else if (name == "--frames") {
            if (!value(v)) {
                return false;
            }
            long long n = 0;
            if (!ParseInteger(v, n) || n <= 0) {
                error = "--frames '" + v + "' is not a positive whole number";
                return false;
            }
            o.frames = n;
        } else if (name == "--seed") {
            if (!value(v)) {
                return false;
            }
            std::uint64_t seed = 0;
            if (!ParseInteger(v, seed)) {
                error = "--seed '" + v + "' is not a whole number";
                return false;
            }
            o.seed = seed;
        } else {
            error = "unknown option '" + args[i] + "'";
            return false;
        }
    }
    if (scenarioGiven && !o.script.empty()) {
        error = "--scenario and --script cannot be used together";
        return false;
    }
    if (!o.link.empty() && !o.device.empty()) {
        error = "--link applies to the pseudo-terminal, not to --device";
        return false;
    }
    if (!o.capture.empty() && (!o.device.empty() || !o.link.empty())) {
        error = "--capture writes a file of its own: no --device or --link with it";
        return false;
    }
    // A scenario or a looped script never ends by itself: a capture needs its length.
    if (!o.capture.empty() && !o.seconds && !o.frames && (o.script.empty() || o.loop)) {
        error = "--capture of a scenario or a looped script needs --seconds or --frames";
        return false;
    }
    if (o.loop && o.script.empty()) {
        error = "--loop applies to --script only (scenarios always repeat)";
        return false;
    }
    return true;
}

}  // namespace kestrel::sim

// The switched-off notifications in a text file: "NAME LINE" a line, written aside and renamed.
#include "snmp/SwitchedOff.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "files/RegularFile.h"

namespace kestrel::snmp {

namespace {
constexpr std::size_t kMaxBytes = 1024 * 1024;
constexpr const char* kHeader =
    "# Lines of MUXes whose SNMP status notifications a manager switched off: NAME LINE,\n"
    "# LINE 0 the 34 Mbit/s line, N tributary N. Written by kestrel-headless.\n";
}  // namespace

SwitchedOff::SwitchedOff(std::string file) : path(std::move(file)) {
    RegularFile in(path, kMaxBytes);
    std::string text;
    if (!in.IsOpen() || !in.ReadAll(text)) {
        if (!in.Absent()) {
            fault = path + " " + in.Fault();
        }
        return;
    }
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        std::istringstream fields(l);
        std::string mux;
        int line = -1;
        if (!l.empty() && l[0] != '#' && fields >> mux >> line && line >= 0 && line <= 16) {
            off.insert({mux, line});
        }
    }
}

std::string SwitchedOff::Set(const std::string& mux, int line, bool switchedOff) {
    if (switchedOff == Off(mux, line)) {
        return {};
    }
    if (switchedOff) {
        off.insert({mux, line});
    } else {
        off.erase({mux, line});
    }
    const std::string aside = path + ".new";
    {
        std::ofstream out(aside, std::ios::trunc);
        out << kHeader;
        for (const auto& [name, l] : off) {
            out << name << ' ' << l << '\n';
        }
        out.flush();
        if (!out) {
            return aside + ": cannot be written";
        }
    }
    if (std::rename(aside.c_str(), path.c_str()) != 0) {
        return path + ": " + std::strerror(errno);
    }
    return {};
}

}  // namespace kestrel::snmp

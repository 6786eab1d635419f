// The lines whose status notifications a manager switched off, kept in a file of the state
// folder so that a restart of the monitor keeps what the operations centre chose.
#pragma once

#include <set>
#include <string>
#include <utility>

namespace kestrel::snmp {

class SwitchedOff {
public:
    // Reads `path`; nothing there is nothing switched off. A file that cannot be read leaves
    // every line on, with the reason in Fault().
    explicit SwitchedOff(std::string path);

    bool Off(const std::string& mux, int line) const { return off.count({mux, line}) != 0; }
    // Switches a line of a MUX (0 its E3 line, N tributary N) off or on and writes the file
    // whole; empty, or why the file could not be written (the switch holds until the stop).
    std::string Set(const std::string& mux, int line, bool switchedOff);
    const std::string& Fault() const { return fault; }

private:
    std::string path;
    std::set<std::pair<std::string, int>> off;
    std::string fault;
};

}  // namespace kestrel::snmp

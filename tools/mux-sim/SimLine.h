// The simulator's end of the serial line: a new pseudo-terminal pair or a given device.
#pragma once

#include <termios.h>

#include <string>
#include <string_view>

namespace kestrel::sim {

class SimLine {
public:
    SimLine() = default;
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;
    ~SimLine() { Close(); }

    // A pseudo-terminal pair, both sides in raw mode at 9600 bit/s. Path() is the side a
    // monitor opens.
    bool OpenPty(std::string& error);
    // An existing device or file, write-only; a terminal is set to raw 9600 8N1 and put
    // back as it was by Close().
    bool OpenDevice(const std::string& path, std::string& error);

    const std::string& Path() const { return path; }
    int Fd() const { return fd; }

    // Writes as much of data as the line takes without waiting. Returns the number of bytes
    // written; hardError is set when the line refused the data for another reason than a
    // full buffer (the caller drops it rather than retrying at once).
    std::size_t WriteSome(std::string_view data, bool& hardError);

    // Bytes written but not yet read by the monitor, when that can be known; else -1.
    long Unread() const;

    void Close();

private:
    int fd = -1;
    int keepOpen = -1;  // our own descriptor of the pseudo-terminal's monitor side
    bool restoreTermios = false;
    termios saved{};
    std::string path;
};

}  // namespace kestrel::sim

// Opening files a user names (configurations, documents, databases) only when they are files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// A descriptor of a regular file opened for reading, or nothing and the reason.
//
// A FIFO named where a file is expected would block the open until a writer comes, /dev/zero
// or /dev/urandom never end, and opening a terminal can change its control lines: so what is
// not a regular file is refused before it is opened, and checked again on the descriptor in
// case the name was swapped in between. The open itself does not wait (O_NONBLOCK, cleared
// once the file is known to be regular).
class RegularFile {
public:
    // Opens `path` for reading. `maxBytes` refuses a file larger than that; 0 takes any size.
    RegularFile(const std::string& path, std::size_t maxBytes);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    bool IsOpen() const { return fd >= 0; }
    int Fd() const { return fd; }
    // Why the file was not opened, as a phrase that follows its name: "is a FIFO, not a file",
    // "cannot be read: Permission denied", "is 5000000 bytes, more than the 1048576 taken".
    const std::string& Fault() const { return fault; }
    // Nothing was there to open (no such file), where a caller may create one.
    bool Absent() const { return absent; }
    // The file's size when it was opened.
    std::size_t Size() const { return size; }

    // Everything the file holds, at most `maxBytes` (the file may have grown since the open):
    // false and Fault() set when it holds more or a read fails.
    bool ReadAll(std::string& text);

private:
    int fd = -1;
    std::size_t limit = 0;
    std::size_t size = 0;
    bool absent = false;
    std::string fault;
};

// Empty when `path` is a regular file, or when nothing is there and `mayBeAbsent` (the caller
// creates it); else the fault as RegularFile::Fault() words it. Nothing is opened: for paths
// handed to a library that opens them itself (SQLite).
std::string RegularFileFault(const std::string& path, bool mayBeAbsent);

// Bytes from a file, made fit for one line of a message: control characters and bytes that
// are not UTF-8 written as \xNN, and cut to at most `maxBytes` followed by "...".
std::string Printable(std::string_view bytes, std::size_t maxBytes = 80);

}  // namespace kestrel

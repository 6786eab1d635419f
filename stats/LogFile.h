// A locked, line-oriented log file that writes CR LF line ends and checks every system call.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrel {

// The system calls a log file makes, behind one seam so that tests can make any of them fail
// (a full disk, a file system that reports errors only at close) without needing root or a
// special mount. Each returns what the POSIX call returns and leaves errno set on failure.
class FileIo {
public:
    virtual ~FileIo() = default;
    virtual int Open(const char* path, int flags, mode_t mode);
    virtual int Lock(int fd);  // exclusive advisory lock, never waits
    virtual int Truncate(int fd, off_t length);
    virtual ssize_t Write(int fd, const void* data, size_t size);
    virtual int Close(int fd);
};

// The plain POSIX implementation, shared by every file that is given no other.
std::shared_ptr<FileIo> PosixFileIo();

// One statistics file. Rows go to the kernel with one write each, so a row is either on its
// way to disk or reported as failed the moment it is written; nothing sits in a user-space
// buffer that a crash or a later flush error could lose. While open, the file holds an
// exclusive advisory lock (flock), so a second monitor cannot record into it, while other
// programs can still read it as it grows. Writes never wait: the files are written from the
// user-interface thread, and a pipe whose reader stops reading must not freeze the window, so
// a write that would have to wait fails like any other. Not thread-safe: one thread owns a
// file.
class LogFile {
public:
    enum class OpenMode {
        CreateTruncate,  // create the file or empty an existing one
        Create,          // create the file or take an existing one as it is (see Empty)
        AppendExisting,  // the file must exist; rows are added at its end
    };

    // Where the open file stands against the name it was opened under.
    enum class Standing {
        InPlace,   // the name still leads to this file
        Removed,   // the file has no name any more; what it holds goes when it is closed
        Replaced,  // the file has no name any more and another file took its name
        Moved,     // the file lives on under another name; the old one is gone or another's
    };

    explicit LogFile(std::shared_ptr<FileIo> io = PosixFileIo());
    ~LogFile();  // closes the file if still open; an error there can no longer be reported
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens `path`; fails if already open. A file that another open description holds locked
    // is refused with std::errc::operation_would_block and left untouched (not truncated).
    std::error_code Open(const std::string& path, OpenMode mode);

    // Writes `row` followed by CR LF. On failure the file is cut back to the last whole row
    // where possible, so that a reader never finds half a row, and stays open: the caller
    // decides what to do with it.
    std::error_code WriteLine(std::string_view row);

    // Empties the open file (nothing to do for pipes and devices).
    std::error_code Empty();

    // Releases the lock and closes. The file counts as closed afterwards even on error.
    std::error_code Close();

    // Closes, and removes the file when this open created it and the name still leads to it:
    // a recording that never started leaves nothing behind.
    void Discard();

    // Compares the open file with what its name leads to now. A name that cannot be looked up
    // for another reason than its absence counts as in place: reopening it will tell.
    Standing Check() const;

    bool IsOpen() const { return fd >= 0; }
    const std::string& path() const { return openPath; }

private:
    std::shared_ptr<FileIo> io;
    int fd = -1;
    bool created = false;  // by the current open
    std::string openPath;
    std::string line;  // reused row buffer
};

// True when `ec` means that another open description holds the lock.
bool IsLockConflict(const std::error_code& ec);

}  // namespace kestrel

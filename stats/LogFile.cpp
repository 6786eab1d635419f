// The locked, CR LF log file and its POSIX system-call seam.
#include "stats/LogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel {

int FileIo::Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
int FileIo::Lock(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB);
}
int FileIo::Truncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
}
ssize_t FileIo::Write(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}
int FileIo::Close(int fd) {
    return ::close(fd);
}

std::shared_ptr<FileIo> PosixFileIo() {
    static const auto io = std::make_shared<FileIo>();
    return io;
}

namespace {
std::error_code LastError() {
    // A call that failed without setting errno must still count as a failure.
    return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}
}  // namespace

bool IsLockConflict(const std::error_code& ec) {
    return ec == std::errc::operation_would_block ||
           ec == std::errc::resource_unavailable_try_again;
}

LogFile::LogFile(std::shared_ptr<FileIo> io) : io(io ? std::move(io) : PosixFileIo()) {}

LogFile::~LogFile() {
    if (IsOpen()) {
        (void)Close();
    }
}

std::error_code LogFile::Open(const std::string& path, OpenMode mode) {
    if (IsOpen()) {
        return std::make_error_code(std::errc::device_or_resource_busy);
    }
    // O_NONBLOCK only for the open itself: a FIFO chosen by mistake must not hang the user
    // interface waiting for a reader. No O_TRUNC: a file recorded by another monitor must not
    // be emptied before we learn that it is locked, so truncation waits for the lock.
    int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= (mode == OpenMode::CreateTruncate) ? O_CREAT : O_APPEND;
    errno = 0;
    const int newFd = io->Open(path.c_str(), flags, 0666);
    if (newFd < 0) {
        return LastError();
    }
    auto fail = [&] {
        const std::error_code ec = LastError();
        (void)io->Close(newFd);
        return ec;
    };
    errno = 0;
    if (io->Lock(newFd) != 0) {
        return fail();
    }
    const int fl = ::fcntl(newFd, F_GETFL);
    if (fl < 0 || ::fcntl(newFd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        return fail();
    }
    if (mode == OpenMode::CreateTruncate) {
        struct stat st {};
        if (::fstat(newFd, &st) != 0) {
            return fail();
        }
        // Devices and pipes have nothing to truncate.
        errno = 0;
        if (S_ISREG(st.st_mode) && st.st_size > 0 && io->Truncate(newFd, 0) != 0) {
            return fail();
        }
    } else if (::lseek(newFd, 0, SEEK_END) < 0 && errno != ESPIPE) {
        return fail();
    }
    fd = newFd;
    openPath = path;
    return {};
}

std::error_code LogFile::WriteLine(std::string_view row) {
    if (!IsOpen()) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    line.assign(row);
    line += "\r\n";
    size_t done = 0;
    while (done < line.size()) {
        errno = 0;
        const ssize_t n = io->Write(fd, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        const std::error_code ec = n == 0 ? std::make_error_code(std::errc::io_error) : LastError();
        if (done > 0) {
            // Take the partial row back off so the file still ends with a whole row.
            struct stat st {};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                st.st_size >= static_cast<off_t>(done)) {
                (void)io->Truncate(fd, st.st_size - static_cast<off_t>(done));
            }
        }
        return ec;
    }
    return {};
}

std::error_code LogFile::Close() {
    if (!IsOpen()) {
        return {};
    }
    const int oldFd = fd;
    fd = -1;
    errno = 0;
    // On Linux the descriptor is released even when close reports an error, so it is never
    // retried; the error still means rows may not have reached the file.
    if (io->Close(oldFd) != 0) {
        return LastError();
    }
    return {};
}

}  // namespace kestrel

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
    // O_NONBLOCK stays on: a FIFO chosen by mistake must not hang the user interface at the
    // open waiting for a reader, nor later at a write waiting for it to read. No O_TRUNC: a
    // file recorded by another monitor must not be emptied before we learn that it is locked,
    // so truncation waits for the lock.
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool made = false;
    int newFd = -1;
    errno = 0;
    if (mode == OpenMode::AppendExisting) {
        newFd = io->Open(path.c_str(), flags | O_APPEND, 0666);
    } else {
        // First as a new file, so that Discard knows whether the file is ours to remove.
        newFd = io->Open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        made = newFd >= 0;
        if (newFd < 0 && errno == EEXIST) {
            errno = 0;
            newFd = io->Open(path.c_str(), flags | O_CREAT, 0666);
        }
    }
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
    if (mode == OpenMode::AppendExisting && ::lseek(newFd, 0, SEEK_END) < 0 && errno != ESPIPE) {
        return fail();
    }
    fd = newFd;
    created = made;
    openPath = path;
    if (mode == OpenMode::CreateTruncate) {
        if (const auto ec = Empty()) {
            Discard();
            return ec;
        }
    }
    return {};
}

std::error_code LogFile::Empty() {
    if (!IsOpen()) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    struct stat st {};
    errno = 0;
    if (::fstat(fd, &st) != 0) {
        return LastError();
    }
    // Devices and pipes have nothing to truncate.
    errno = 0;
    if (S_ISREG(st.st_mode) && st.st_size > 0 && io->Truncate(fd, 0) != 0) {
        return LastError();
    }
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

void LogFile::Discard() {
    if (!IsOpen()) {
        return;
    }
    // Removed while still locked, so no other monitor can have started on it meanwhile.
    if (created && Check() == Standing::InPlace) {
        (void)::unlink(openPath.c_str());
    }
    (void)Close();
}

LogFile::Standing LogFile::Check() const {
    struct stat own {};
    if (!IsOpen() || ::fstat(fd, &own) != 0) {
        return Standing::InPlace;
    }
    struct stat named {};
    const bool hasName = ::stat(openPath.c_str(), &named) == 0;
    if (hasName && named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
        return Standing::InPlace;
    }
    if (!hasName && errno != ENOENT && errno != ENOTDIR) {
        return Standing::InPlace;
    }
    if (own.st_nlink == 0) {
        return hasName ? Standing::Replaced : Standing::Removed;
    }
    return Standing::Moved;
}

}  // namespace kestrel

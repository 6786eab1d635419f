// A file-system seam for the tests that fails chosen calls on chosen files.
#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <string>

#include "stats/LogFile.h"

namespace kestrel::test {

class FaultyFileIo : public FileIo {
public:
    // A write to `failWritePath` first passes `partialBytes` through, then fails with
    // `writeErrno`, as a file system that fills up in the middle of a row.
    std::string failWritePath;
    int writeErrno = ENOSPC;
    size_t partialBytes = 0;
    // A close of `failClosePath` fails with EIO after the descriptor was released.
    std::string failClosePath;
    // An open of `failOpenPath` fails with EACCES.
    std::string failOpenPath;
    // Called before every open, with the path.
    std::function<void(const std::string&)> onOpen;
    int opens = 0;

    int Open(const char* path, int flags, mode_t mode) override {
        ++opens;
        if (onOpen) {
            onOpen(path);
        }
        if (!failOpenPath.empty() && path == failOpenPath) {
            errno = EACCES;
            return -1;
        }
        const int fd = FileIo::Open(path, flags, mode);
        if (fd >= 0) {
            paths[fd] = path;
        }
        return fd;
    }
    ssize_t Write(int fd, const void* data, size_t size) override {
        if (!failWritePath.empty() && paths[fd] == failWritePath) {
            if (partialBytes > 0) {
                const size_t n = std::min(partialBytes, size);
                partialBytes = 0;
                return FileIo::Write(fd, data, n);
            }
            errno = writeErrno;
            return -1;
        }
        return FileIo::Write(fd, data, size);
    }
    int Close(int fd) override {
        const std::string path = paths[fd];
        paths.erase(fd);
        const int r = FileIo::Close(fd);
        if (r == 0 && !failClosePath.empty() && path == failClosePath) {
            errno = EIO;
            return -1;
        }
        return r;
    }

private:
    std::map<int, std::string> paths;
};

}  // namespace kestrel::test

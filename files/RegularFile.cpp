// Opening only regular files, and showing their bytes safely in messages.
#include "files/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrel {

namespace {

// What a path names when it is not a regular file, in the words of a message about it.
std::string NotAFile(mode_t mode) {
    const char* what = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISDIR(mode)  ? "a folder"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "something else";
    std::string fault = "is ";
    fault += what;
    fault += ", not a file";
    return fault;
}

std::string CannotRead(int error) {
    std::string fault = "cannot be read: ";
    fault += std::strerror(error);
    return fault;
}

std::string TooLarge(std::size_t size, std::size_t limit) {
    std::string fault = "is too large: ";
    fault += std::to_string(size);
    fault += " bytes, at most ";
    fault += std::to_string(limit);
    return fault;
}

// The length of the UTF-8 sequence at the start of `s` that encodes a character other than a
// control character; 0 when there is none.
std::size_t PrintableSequence(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c >= 0x20 && c < 0x7F) {
        return 1;
    }
    std::size_t n = 0;
    char32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, code = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (b(i) & 0x3F);
    }
    const bool overlong = (n == 3 && code < 0x800) || (n == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool c1Control = code >= 0x80 && code <= 0x9F;
    return overlong || surrogate || c1Control || code > 0x10FFFF ? 0 : n;
}

}  // namespace

RegularFile::RegularFile(const std::string& path, std::size_t maxBytes) : limit(maxBytes) {
    // Looked at before the open, so that a device is never opened at all.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        absent = errno == ENOENT;
        fault = CannotRead(errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        fault = NotAFile(st.st_mode);
        return;
    }
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        fault = CannotRead(errno);
        return;
    }
    // Again on what was opened: the name may have been given to a FIFO in between.
    if (::fstat(fd, &st) != 0) {
        fault = CannotRead(errno);
    } else if (!S_ISREG(st.st_mode)) {
        fault = NotAFile(st.st_mode);
    } else if (limit > 0 && static_cast<std::size_t>(st.st_size) > limit) {
        fault = TooLarge(static_cast<std::size_t>(st.st_size), limit);
    } else if (const int flags = ::fcntl(fd, F_GETFL);
               flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        fault = CannotRead(errno);
    } else {
        size = static_cast<std::size_t>(st.st_size);
        return;
    }
    ::close(fd);
    fd = -1;
}

RegularFile::~RegularFile() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool RegularFile::ReadAll(std::string& text) {
    text.clear();
    if (fd < 0) {
        return false;
    }
    text.reserve(size);
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fault = CannotRead(errno);
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(block, static_cast<std::size_t>(n));
        if (limit > 0 && text.size() > limit) {
            fault = TooLarge(text.size(), limit);
            text.clear();
            return false;
        }
    }
}

std::string RegularFileFault(const std::string& path, bool mayBeAbsent) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return mayBeAbsent && errno == ENOENT ? std::string() : CannotRead(errno);
    }
    return S_ISREG(st.st_mode) ? std::string() : NotAFile(st.st_mode);
}

std::string Printable(std::string_view bytes, std::size_t maxBytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    std::size_t i = 0;
    while (i < bytes.size()) {
        // A character is shown whole or not at all.
        const std::size_t n = PrintableSequence(bytes.substr(i));
        if (shown.size() + (n > 0 ? n : 4) > maxBytes) {
            break;
        }
        if (n > 0) {
            shown.append(bytes.substr(i, n));
            i += n;
            continue;
        }
        const auto c = static_cast<unsigned char>(bytes[i++]);
        shown += "\\x";
        shown += kHex[c >> 4];
        shown += kHex[c & 0x0F];
    }
    if (i < bytes.size()) {
        shown += "...";
    }
    return shown;
}

}  // namespace kestrel

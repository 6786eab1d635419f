// JSON text of the status pictures and their atomic replacement on disk.
#include "headless/StatusJson.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::headless {

std::string JsonString(std::string_view value) {
    std::string out = "\"";
    for (const char c : value) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

void JsonWriter::Key(std::string_view key) {
    text += first ? "" : ",";
    first = false;
    text += JsonString(key) + ":";
}

JsonWriter& JsonWriter::Open(std::string_view key) {
    Key(key);
    text += "{";
    first = true;
    return *this;
}

JsonWriter& JsonWriter::Close() {
    text += "}";
    first = false;
    return *this;
}

JsonWriter& JsonWriter::Add(std::string_view key, std::string_view value) {
    Key(key);
    text += JsonString(value);
    return *this;
}

JsonWriter& JsonWriter::Add(std::string_view key, long long value) {
    Key(key);
    text += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Add(std::string_view key, bool value) {
    Key(key);
    text += value ? "true" : "false";
    return *this;
}

std::string JsonWriter::Finish() {
    return text + "}\n";
}

std::string AsidePath(const std::string& path) {
    const auto slash = path.rfind('/');
    return path.substr(0, slash + 1) + "." +
           path.substr(slash == std::string::npos ? 0 : slash + 1) + ".new";
}

bool ReplaceFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string aside = AsidePath(path);
    // Written over in place and cut to its length, not emptied first: a picture is as long as
    // the last one most of the time, and emptying gives its blocks back to the file system
    // only to take them again.
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    auto fail = [&](const char* why, bool open) {
        error = why;
        if (open) {
            ::close(fd);
        }
        ::unlink(aside.c_str());
        return false;
    };
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n < 0 ? std::strerror(errno) : "nothing written", true);
        }
        done += static_cast<std::size_t>(n);
    }
    // Cut only when the picture before was longer: on ext4 a cut to the same length still
    // takes the file's truncation path, a fifth of a picture's cost, and the error totals
    // only ever lengthen a picture.
    struct stat written {};
    if ((::fstat(fd, &written) != 0 || written.st_size > static_cast<off_t>(text.size())) &&
        ::ftruncate(fd, static_cast<off_t>(text.size())) != 0) {
        return fail(std::strerror(errno), true);
    }
    if (::close(fd) != 0) {
        return fail(std::strerror(errno), false);
    }
    // Exchanged, the two names keep their files: no file is made or removed at each write. On
    // ext4 without a journal making a file looks through the recently freed ones, and with a
    // thousand pictures replaced by new files that search was most of the monitor's time.
    if (::renameat2(AT_FDCWD, aside.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        return true;
    }
    // The first picture, or a file system that cannot exchange: a plain rename.
    if (::rename(aside.c_str(), path.c_str()) != 0) {
        return fail(std::strerror(errno), false);
    }
    return true;
}

}  // namespace kestrel::headless

// JSON text of the status pictures and their atomic replacement on disk.
#include "headless/StatusJson.h"

#include <fcntl.h>
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

bool ReplaceFile(const std::string& path, const std::string& text, std::string& error) {
    const auto slash = path.rfind('/');
    const std::string aside = path.substr(0, slash + 1) + "." +
                              path.substr(slash == std::string::npos ? 0 : slash + 1) + ".new";
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "nothing written";
            ::close(fd);
            ::unlink(aside.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(aside.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(aside.c_str());
        return false;
    }
    return true;
}

}  // namespace kestrel::headless

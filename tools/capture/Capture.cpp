// Writing and reading timed captures, and telling them from plain byte streams.
#include "tools/capture/Capture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrel {

namespace {

// Header lines are short; anything longer without a line feed is not one.
constexpr std::size_t kMaxHeader = 64;
// Digits of the longest length allowed.
constexpr std::size_t kMaxLengthDigits = 7;
constexpr std::size_t kReadBlock = 65536;

}  // namespace

std::string CaptureHeader() {
    return std::string(kCaptureMagic) + ' ' + std::to_string(kCaptureVersion) + '\n';
}

void AppendCaptureSecond(std::string& out, std::string_view characters) {
    out += std::to_string(characters.size());
    out += '\n';
    out += characters;
    out += '\n';
}

CaptureReader::CaptureReader(ByteReader r) : read(std::move(r)) {}

bool CaptureReader::Need(std::size_t n) {
    while (buffer.size() - head < n && !ended) {
        if (head > 0 && head >= buffer.size() / 2) {
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(head));
            head = 0;
        }
        const std::size_t held = buffer.size();
        buffer.resize(held + std::max(kReadBlock, n - (held - head)));
        const long got = read(buffer.data() + held, buffer.size() - held);
        buffer.resize(held + static_cast<std::size_t>(std::max(got, 0L)));
        if (got < 0) {
            readErrno = errno;
            ended = true;
            Fail(std::string("cannot read: ") + std::strerror(readErrno));
        } else if (got == 0) {
            ended = true;
        }
    }
    return buffer.size() - head >= n;
}

bool CaptureReader::Fail(std::string message) {
    if (error.empty())
        error = std::move(message);
    return false;
}

bool CaptureReader::Damaged(const std::string& what) {
    return Fail("damaged capture at byte " + std::to_string(offset) + " (second " +
                std::to_string(seconds + 1) + "): " + what);
}

bool CaptureReader::Start() {
    // A plain stream shows itself at its first character that differs from the magic word, so
    // a live pipe is not held up waiting for characters it may be slow to bring.
    for (std::size_t n = 1; n <= kCaptureMagic.size(); ++n) {
        if (!Need(n))
            return readErrno == 0;  // shorter than the magic word: plain
        if (buffer[head + n - 1] != kCaptureMagic[n - 1])
            return true;
    }
    timed = true;
    std::size_t end = kCaptureMagic.size();
    while (end < kMaxHeader && Need(end + 1) && buffer[head + end] != '\n')
        ++end;
    if (readErrno != 0)
        return false;
    const bool complete = end < buffer.size() - head;  // ends with its line feed
    const std::string_view line(buffer.data() + head, std::min(end, buffer.size() - head));
    const std::string_view version = line.substr(std::min(line.size(), kCaptureMagic.size() + 1));
    const bool digits =
        !version.empty() && version.size() <= 4 &&
        std::all_of(version.begin(), version.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!complete || !digits || line[kCaptureMagic.size()] != ' ')
        return Fail("damaged capture header at byte 0: expected '" + std::string(kCaptureMagic) +
                    " " + std::to_string(kCaptureVersion) + "' and a line feed");
    if (std::stoi(std::string(version)) != kCaptureVersion)
        return Fail("capture format version " + std::string(version) +
                    " is not one this program reads (it reads version " +
                    std::to_string(kCaptureVersion) + ")");
    head += end + 1;
    offset += end + 1;
    return true;
}

bool CaptureReader::NextSecond(std::string& characters) {
    characters.clear();
    if (!error.empty() || !Need(1))
        return false;  // the end of the capture, between two seconds
    std::size_t digits = 0;
    std::size_t length = 0;
    for (;; ++digits) {
        if (!Need(digits + 1))
            return readErrno == 0 ? Damaged("the capture ends inside the length of a second")
                                  : false;
        const char c = buffer[head + digits];
        if (c == '\n' && digits > 0)
            break;
        if (c < '0' || c > '9' || digits == kMaxLengthDigits || (digits == 1 && length == 0))
            return Damaged("expected the length of a second in decimal digits and a line feed");
        length = length * 10 + static_cast<std::size_t>(c - '0');
    }
    if (length > kCaptureMaxSecond)
        return Damaged("a second of " + std::to_string(length) +
                       " characters is more than any serial line brings");
    const std::size_t start = digits + 1;
    if (!Need(start + length + 1))
        return readErrno == 0 ? Damaged("the capture ends inside a second of " +
                                        std::to_string(length) + " characters")
                              : false;
    if (buffer[head + start + length] != '\n')
        return Damaged("a second of " + std::to_string(length) +
                       " characters is not followed by a line feed");
    characters.assign(buffer.data() + head + start, length);
    head += start + length + 1;
    offset += start + length + 1;
    ++seconds;
    return true;
}

long CaptureReader::ReadPlain(char* out, std::size_t size) {
    if (head < buffer.size()) {
        const std::size_t n = std::min(size, buffer.size() - head);
        std::copy_n(buffer.data() + head, n, out);
        head += n;
        offset += n;
        return static_cast<long>(n);
    }
    if (ended) {
        errno = readErrno;
        return readErrno != 0 ? -1 : 0;
    }
    return read(out, size);
}

}  // namespace kestrel

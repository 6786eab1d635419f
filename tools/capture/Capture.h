// The timed capture format: the characters a serial line brought, second by second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Fills up to `size` bytes of `buffer` and returns how many: 0 at the end of the input, -1 on
// a read error (with errno set). It may return fewer bytes than asked for at any time.
using ByteReader = std::function<long(char* buffer, std::size_t size)>;

// A timed capture starts with the line "KESTREL-CAPTURE 1"; then each second is its length in
// decimal digits and a line feed, its characters, and a line feed. docs/capture-format.md
// describes it for other programs.
inline constexpr std::string_view kCaptureMagic = "KESTREL-CAPTURE";
inline constexpr int kCaptureVersion = 1;
// A 9600 bit/s line brings at most 960 characters a second, and even 921,600 bit/s fewer than
// 100,000: a longer second is a damaged length, not a line.
inline constexpr std::size_t kCaptureMaxSecond = 1000000;

// The header line a timed capture starts with.
std::string CaptureHeader();
// Appends one second's characters (none for a silent second).
void AppendCaptureSecond(std::string& out, std::string_view characters);

// Reads a capture: a timed one second by second, a plain byte stream as it comes. Tells them
// apart by the header, reading no more of the input than it needs to.
class CaptureReader {
public:
    explicit CaptureReader(ByteReader read);

    // Reads far enough to tell the format. False on a read error or a damaged header.
    bool Start();
    bool Timed() const { return timed; }

    // Timed captures: the characters of the next second. False at the end of the capture, or
    // when it cannot go on: then Error() says why.
    bool NextSecond(std::string& characters);
    // Plain captures: reads as the ByteReader does, starting with what Start() looked at.
    long ReadPlain(char* buffer, std::size_t size);

    // Empty unless reading failed: "damaged capture at byte 1234 (second 27): ...".
    const std::string& Error() const { return error; }
    // errno of a failed read; 0 when the input itself was read without trouble.
    int ReadErrno() const { return readErrno; }
    // Seconds read so far from a timed capture.
    std::uint64_t Seconds() const { return seconds; }

private:
    // Makes sure `n` bytes are buffered, reading as needed; false when the input ends first.
    bool Need(std::size_t n);
    bool Fail(std::string message);
    bool Damaged(const std::string& what);

    ByteReader read;
    std::vector<char> buffer;
    std::size_t head = 0;      // next unread byte in buffer
    std::uint64_t offset = 0;  // of buffer[head] in the input
    std::uint64_t seconds = 0;
    bool timed = false;
    bool ended = false;
    std::string error;
    int readErrno = 0;
};

}  // namespace kestrel

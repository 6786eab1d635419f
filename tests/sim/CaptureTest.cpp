// The timed capture format: seconds back as written, plain streams left alone, damage named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/TestFiles.h"
#include "tools/capture/Capture.h"

namespace kestrel {
namespace {

// Seconds come back as written, however the reads split them; anything that does not start
// with the whole header line is a plain byte stream, read whole.
TEST(CaptureTest, TimedSecondsAndPlainStreams) {
    const std::vector<std::string> seconds = {
        "",
        "00:0000;00/00/00/00/R00:0000;00\\00\\00\\00\\00|\x1a",
        std::string("a\nb\0\n", 5),
        std::string(5000, 'x'),
        "",
        "9\n"};
    std::string file = CaptureHeader();
    for (const std::string& s : seconds)
        AppendCaptureSecond(file, s);
    for (const std::string& input : {file, std::string(), std::string("KES"),
                                     std::string("KESTREL-CAPTUR!E 1\n"), file.substr(1)}) {
        CaptureReader reader(test::ReaderOf(input, 7));
        ASSERT_TRUE(reader.Start());
        ASSERT_EQ(reader.Timed(), input == file);
        std::vector<std::string> read;
        std::string s(64, '\0');
        if (reader.Timed()) {
            while (reader.NextSecond(s))
                read.push_back(s);
        } else {
            read.emplace_back();
            for (long n; (n = reader.ReadPlain(s.data(), s.size())) > 0;)
                read.back().append(s.data(), static_cast<std::size_t>(n));
        }
        EXPECT_EQ(read, reader.Timed() ? seconds : std::vector<std::string>{input});
        EXPECT_EQ(reader.Error(), "");
    }
}

TEST(CaptureTest, DamageIsNamedWithItsOffset) {
    const std::string head = CaptureHeader();  // 18 bytes
    const std::pair<std::string, std::string> cases[] = {
        {"KESTREL-CAPTURE 2\n", "capture format version 2 is not one this program reads"},
        {"KESTREL-CAPTURE\n45\n", "damaged capture header at byte 0"},
        {"KESTREL-CAPTURE 1", "damaged capture header at byte 0"},
        {head + "3\nabc\n4", "byte 24 (second 2): the capture ends inside the length"},
        {head + "45\nabc",
         "damaged capture at byte 18 (second 1): the capture ends inside a second of 45"},
        {head + "3\nabcd\n",
         "byte 18 (second 1): a second of 3 characters is not followed by a line feed"},
        {head + "0\n\nx\n", "byte 21 (second 2): expected the length of a second"},
        {head + "03\nabc\n", "byte 18 (second 1): expected the length"},
        {head + "12345678\n", "byte 18 (second 1): expected the length"},
        {head + "2000000\n", "a second of 2000000 characters is more than any serial line"},
    };
    for (const auto& [input, message] : cases) {
        CaptureReader reader(test::ReaderOf(input, 7));
        std::string s;
        if (reader.Start())
            while (reader.NextSecond(s)) {
            }
        EXPECT_NE(reader.Error().find(message), std::string::npos) << input << "\n"
                                                                   << reader.Error();
    }
}

}  // namespace
}  // namespace kestrel

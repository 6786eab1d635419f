// The locked CR LF log file: open modes, line ends, the lock and every kind of failure.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "stats/LogFile.h"
#include "tests/stats/FaultyFileIo.h"
#include "tests/stats/StatsTestSupport.h"

namespace kestrel {
namespace {

using Mode = LogFile::OpenMode;

class LogFileTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string path = dir / "day1.csv";
};

TEST_F(LogFileTest, CreateTruncatesWritesCrLfAndAppendAddsAtTheEnd) {
    LogFile f;
    EXPECT_EQ(f.Open(path, Mode::AppendExisting), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(path));
    { std::ofstream(path) << "an older recording\n"; }
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    EXPECT_TRUE(f.Open(path, Mode::CreateTruncate));  // already open
    EXPECT_TRUE(f.IsOpen());
    ASSERT_FALSE(f.WriteLine("a,b"));
    ASSERT_FALSE(f.WriteLine(""));
    // Rows reach the file as they are written, before any close.
    EXPECT_EQ(test::ReadFile(path), "a,b\r\n\r\n");
    ASSERT_FALSE(f.Close());
    EXPECT_FALSE(f.IsOpen());
    ASSERT_FALSE(f.Open(path, Mode::AppendExisting));
    ASSERT_FALSE(f.WriteLine("second"));
    ASSERT_FALSE(f.Close());
    EXPECT_EQ(test::ReadFile(path), "a,b\r\n\r\nsecond\r\n");
}

TEST_F(LogFileTest, NewFileIsReadableButASecondOpenIsRefused) {
    const mode_t old = umask(022);
    LogFile first;
    ASSERT_FALSE(first.Open(path, Mode::CreateTruncate));
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_FALSE(first.WriteLine("recorded by the first monitor"));
    for (Mode mode : {Mode::CreateTruncate, Mode::AppendExisting}) {
        LogFile second;
        const auto ec = second.Open(path, mode);
        EXPECT_TRUE(IsLockConflict(ec)) << ec.message();
        EXPECT_FALSE(second.IsOpen());
    }
    // Readers are not locked out.
    EXPECT_EQ(test::ReadFile(path), "recorded by the first monitor\r\n");
    ASSERT_FALSE(first.Close());
    LogFile third;
    EXPECT_FALSE(third.Open(path, Mode::AppendExisting));
}

TEST_F(LogFileTest, HalfWrittenRowIsTakenBackAndAFailedCloseCloses) {
    auto io = std::make_shared<test::FaultyFileIo>();
    LogFile f(io);
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    ASSERT_FALSE(f.WriteLine("whole row"));
    io->failWritePath = path;
    io->partialBytes = 4;
    EXPECT_EQ(f.WriteLine("second row"), std::errc::no_space_on_device);
    EXPECT_EQ(test::ReadFile(path), "whole row\r\n");
    EXPECT_TRUE(f.IsOpen());
    io->failClosePath = path;
    EXPECT_EQ(f.Close(), std::errc::io_error);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(f.Close());
    EXPECT_EQ(f.WriteLine("x"), std::errc::bad_file_descriptor);
}

// A pipe whose reader stops reading must not hold the writer: once the pipe is full, a row
// fails at once as a write that would block.
TEST_F(LogFileTest, FullPipeFailsTheWriteInsteadOfWaiting) {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    LogFile f;
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    auto writer = std::async(std::launch::async, [&f] {
        const std::string row(200, 'x');
        for (int i = 0; i < 100000; ++i) {
            if (const auto ec = f.WriteLine(row)) {
                return ec;
            }
        }
        return std::error_code();
    });
    bool waited = false;
    // Should the writer wait for the reader, read on until it is done so the test ends.
    while (writer.wait_for(std::chrono::seconds(waited ? 0 : 5)) != std::future_status::ready) {
        waited = true;
        char sink[65536];
        (void)!read(reader, sink, sizeof sink);
    }
    EXPECT_FALSE(waited) << "a write waited for the reader";
    EXPECT_TRUE(IsLockConflict(writer.get()));
    EXPECT_FALSE(f.Close());
    close(reader);
}

}  // namespace
}  // namespace kestrel

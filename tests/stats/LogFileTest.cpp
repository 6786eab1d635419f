// The locked CR LF log file: open modes, line ends, the lock and every kind of failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

TEST_F(LogFileTest, WritesCrLfAndTruncatesOnCreate) {
    { std::ofstream(path) << "an older recording\n"; }
    LogFile f;
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.path(), path);
    ASSERT_FALSE(f.WriteLine("a,b"));
    ASSERT_FALSE(f.WriteLine(""));
    // Rows reach the file as they are written, before any close.
    EXPECT_EQ(test::ReadFile(path), "a,b\r\n\r\n");
    ASSERT_FALSE(f.Close());
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(test::ReadFile(path), "a,b\r\n\r\n");
}

TEST_F(LogFileTest, AppendRequiresAnExistingFileAndAddsAtItsEnd) {
    LogFile f;
    EXPECT_EQ(f.Open(path, Mode::AppendExisting), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    ASSERT_FALSE(f.WriteLine("first"));
    ASSERT_FALSE(f.Close());
    ASSERT_FALSE(f.Open(path, Mode::AppendExisting));
    ASSERT_FALSE(f.WriteLine("second"));
    ASSERT_FALSE(f.Close());
    EXPECT_EQ(test::ReadFile(path), "first\r\nsecond\r\n");
}

TEST_F(LogFileTest, NewFilesAreReadableByOthers) {
    const mode_t old = umask(022);
    LogFile f;
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(LogFileTest, SecondOpenIsRefusedAndLeavesTheRecordingIntact) {
    LogFile first;
    ASSERT_FALSE(first.Open(path, Mode::CreateTruncate));
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

TEST_F(LogFileTest, OpenFailuresAreReported) {
    std::filesystem::create_directory(dir / "folder");
    struct Case {
        std::string path;
        Mode mode;
        std::errc expected;
    };
    const Case cases[] = {
        {dir / "folder", Mode::CreateTruncate, std::errc::is_a_directory},
        {dir / "folder", Mode::AppendExisting, std::errc::is_a_directory},
        {dir / "missing/day1.csv", Mode::CreateTruncate, std::errc::no_such_file_or_directory},
    };
    for (const auto& c : cases) {
        LogFile f;
        EXPECT_EQ(f.Open(c.path, c.mode), c.expected) << c.path;
        EXPECT_FALSE(f.IsOpen());
    }
    LogFile f;
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    EXPECT_TRUE(f.Open(path, Mode::CreateTruncate));  // already open
    EXPECT_TRUE(f.IsOpen());
}

TEST_F(LogFileTest, FullDeviceFailsTheWrite) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    std::filesystem::create_symlink("/dev/full", path);
    LogFile f;
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    EXPECT_EQ(f.WriteLine("row"), std::errc::no_space_on_device);
    EXPECT_TRUE(f.IsOpen());
    EXPECT_FALSE(f.Close());
}

TEST_F(LogFileTest, HalfWrittenRowIsTakenBack) {
    auto io = std::make_shared<test::FaultyFileIo>();
    LogFile f(io);
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    ASSERT_FALSE(f.WriteLine("whole row"));
    io->failWritePath = path;
    io->partialBytes = 4;
    EXPECT_EQ(f.WriteLine("second row"), std::errc::no_space_on_device);
    EXPECT_EQ(test::ReadFile(path), "whole row\r\n");
}

TEST_F(LogFileTest, CloseFailureIsReportedAndTheFileCountsAsClosed) {
    auto io = std::make_shared<test::FaultyFileIo>();
    LogFile f(io);
    ASSERT_FALSE(f.Open(path, Mode::CreateTruncate));
    io->failClosePath = path;
    EXPECT_EQ(f.Close(), std::errc::io_error);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(f.Close());
    EXPECT_EQ(f.WriteLine("x"), std::errc::bad_file_descriptor);
}

}  // namespace
}  // namespace kestrel

// Port driver over the fake device: names, open failures, line settings, control lines, reads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "link/CComm.h"
#include "link/FakeSerialDevice.h"
#include "tests/link/LinkTestSupport.h"

namespace kestrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using DriverTest = test::FakeCommTest;

TEST(DeviceResolverTest, MapsPortNamesToPaths) {
    DeviceResolver r;
    r.SetPath(2, "/tmp/mux-pty");
    r.SetPath(0, "/tmp/stored-for-com0");
    EXPECT_EQ(r.Resolve("COM1"), "/dev/ttyS0");
    EXPECT_EQ(r.Resolve("COM4"), "/dev/ttyS3");
    EXPECT_EQ(r.Resolve("COM2"), "/tmp/mux-pty");
    for (const char* name : {"COM0", "COM", "COMx", "COM3a", "LPT1", "com1"}) {
        EXPECT_EQ(r.Resolve(name), "") << name;
    }
}

TEST_F(DriverTest, PortNumberKeepsLowEightBitsAndResetsBaud) {
    ports->Add("fake-com3");
    ports->Add("fake-com4");
    struct Case {
        int number;
        int stored;
        const char* path;
        int opens;
    };
    const Case cases[] = {{3, 3, "fake-com3", 1}, {260, 4, "fake-com4", 1}, {0, 0, "", 0}};
    for (const auto& c : cases) {
        Comm().SetPortNumber(c.number);
        EXPECT_EQ(Comm().Info().portNumber, c.stored) << c.number;
        EXPECT_EQ(Comm().Info().baudRate, 9600u);
        EXPECT_EQ(Comm().DevicePath(), c.path);
        Comm().SetPortOpen(true);
        EXPECT_EQ(Comm().IsPortOpen(), c.opens) << c.number;
        EXPECT_EQ(Comm().LastOpenError(), c.opens ? 0 : ENOENT);
        Comm().SetPortOpen(false);
        EXPECT_EQ(Comm().IsPortOpen(), 0);
    }
    EXPECT_THAT(ports->OpenAttempts(), ElementsAre("fake-com3", "fake-com4", ""));
}

// A device the system refuses, or one that refuses the line settings (closed again), leaves the
// port closed and says why; line requests then have no effect, and nothing stale is left for
// the next open.
TEST_F(DriverTest, OpenFailuresLeaveThePortClosedAndReportWhy) {
    for (const bool settings : {false, true}) {
        SCOPED_TRACE(settings ? "settings refused" : "open refused");
        line->SetRefuseSettings(settings);
        line->SetOpenError(settings ? 0 : EACCES);
        Comm().SetPortOpen(true);
        EXPECT_EQ(Comm().IsPortOpen(), 0);
        EXPECT_EQ(Comm().LastOpenError(), settings ? EINVAL : EACCES);
        EXPECT_FALSE(line->IsOpen());
        EXPECT_EQ(Comm().IsModemActive(), 0);
        EXPECT_EQ(Comm().SetRts(true), 0);
        line->SetRefuseSettings(false);
        line->SetOpenError(0);
        Comm().SetPortOpen(true);
        EXPECT_EQ(Comm().IsPortOpen(), 1);
        EXPECT_EQ(Comm().LastOpenError(), 0);
        Comm().SetPortOpen(false);
    }
}

TEST_F(DriverTest, WritesTheFixedLineSettingsAndKeepsTheRest) {
    // clang-format off
    // What the device reported: a wrong speed, and fields the driver must carry through.
    const Dcb reported{.BaudRate = 300, .fDsrSensitivity = 1, .fTXContinueOnXoff = 1,
                       .fErrorChar = 1, .fNull = 1, .fAbortOnError = 1, .ErrorChar = '?',
                       .EofChar = 0x1A, .EvtChar = '\n'};
    const Dcb fixed{.BaudRate = 9600, .ByteSize = 8, .Parity = 0, .StopBits = 0,
                    .fOutxCtsFlow = 1, .fRtsControl = 2, .fOutxDsrFlow = 0, .fDtrControl = 1,
                    .fOutX = 0, .fInX = 0, .fBinary = 1, .fParity = 1, .XonChar = 0x11,
                    .XoffChar = 0x13, .XonLim = 100, .XoffLim = 100, .fDsrSensitivity = 1,
                    .fTXContinueOnXoff = 1, .fErrorChar = 1, .fNull = 1, .fAbortOnError = 1,
                    .ErrorChar = '?', .EofChar = 0x1A, .EvtChar = '\n'};
    // clang-format on
    line->SetInitialState(reported);
    Comm().SetPortOpen(true);
    ASSERT_EQ(Comm().IsPortOpen(), 1);
    ASSERT_TRUE(line->StateWritten());
    EXPECT_EQ(line->WrittenState(), fixed);
}

TEST_F(DriverTest, ControlLinesFollowTheOpenAndCloseOrder) {
    Comm().SetPortOpen(true);
    EXPECT_THAT(line->Calls(), ElementsAre("Open", "SetEventMask 1", "Purge", "GetState",
                                           "SetState", "SETRTS", "CLRDTR"));
    EXPECT_TRUE(line->Rts());
    EXPECT_FALSE(line->Dtr());

    line->ClearCalls();
    Comm().SetPortOpen(false);
    EXPECT_THAT(line->Calls(),
                ElementsAre("CLRRTS", "SETDTR", "SetEventMask 0", "CLRDTR", "Purge", "Close"));
    EXPECT_FALSE(line->Rts());
    EXPECT_FALSE(line->Dtr());

    // A failed open drives no line at all.
    line->ClearCalls();
    line->SetOpenError(EBUSY);
    Comm().SetPortOpen(true);
    EXPECT_THAT(line->Calls(), IsEmpty());
}

TEST_F(DriverTest, OpeningAnOpenPortReplacesItInsteadOfLeakingIt) {
    auto line3 = ports->Add("fake-com3");
    Comm().SetPortOpen(true);
    Comm().SetPortNumber(3);
    Comm().SetPortOpen(true);
    EXPECT_EQ(Comm().IsPortOpen(), 1);
    EXPECT_FALSE(line->IsOpen());
    EXPECT_TRUE(line3->IsOpen());
    // And the same port again.
    Comm().SetPortOpen(true);
    EXPECT_EQ(Comm().IsPortOpen(), 1);
    EXPECT_TRUE(line3->IsOpen());
}

// Only the MUX's lines count: not RTS and DTR, which are our own; a device without modem lines
// counts as connected while open, one whose query fails never.
TEST_F(DriverTest, OnlyTheMuxsModemLinesCount) {
    const struct {
        const char* name;
        unsigned inputs;
        ModemQuery query;
        bool raiseOwnLines;
        int active;
    } cases[] = {{"CTS", kLineCts, ModemQuery::Ok, false, 1},
                 {"DSR", kLineDsr, ModemQuery::Ok, false, 1},
                 {"RI", kLineRing, ModemQuery::Ok, false, 1},
                 {"CD", kLineCd, ModemQuery::Ok, false, 1},
                 {"none", 0, ModemQuery::Ok, false, 0},
                 {"own RTS and DTR only", 0, ModemQuery::Ok, true, 0},
                 {"no modem lines", 0, ModemQuery::Unsupported, false, 1},
                 {"query fails", kLineCts, ModemQuery::Failed, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        line->SetModemInputs(c.inputs);
        line->SetModemQuery(c.query);
        Comm().SetPortOpen(true);
        ASSERT_EQ(Comm().IsPortOpen(), 1);
        if (c.raiseOwnLines) {
            Comm().SetDtr(true);  // RTS is already up while open
        }
        EXPECT_EQ(Comm().IsModemActive(), c.active);
        Comm().SetPortOpen(false);
        EXPECT_EQ(Comm().IsModemActive(), 0);  // a closed port is never active
    }
}

// How much a read takes of what is queued is BurstTest's (the receive thread reads through
// ReadBytes); here, its failures.
TEST_F(DriverTest, AFailedReadGivesNothingAndLeavesTheBytesQueued) {
    Comm().SetPortOpen(true);
    char buffer[80];
    line->Deliver(std::string(20, 'y'));
    line->FailReads(1);
    EXPECT_EQ(Comm().ReadBytes(buffer, 80), 0u);
    line->FailQueueQuery(true);
    EXPECT_EQ(Comm().ReadBytes(buffer, 80), 0u);
    line->FailQueueQuery(false);
    EXPECT_EQ(Comm().ReadBytes(buffer, 80), 20u);

    Comm().SetPortOpen(false);
    EXPECT_EQ(Comm().ReadBytes(buffer, 80), 0u);
}

}  // namespace
}  // namespace kestrel

// Opening, closing, reading, writing, purging, line control and status of
// the serial component, on the scripted fake device.
#include "FakeCommDriver.h"
#include "SerTestUtil.h"

#include "../support/ScriptedPrompter.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstring>

using namespace Platform;
using namespace SerialTest;

TEST(SerOpen, OpenTwiceRaisesAndLeavesThePortOpen)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    EXPECT_EQ(serError([&] { comm->Open(); }), "Can't perform this operation while port is open");
    EXPECT_TRUE(comm->Active());
    EXPECT_EQ(fake.count("CreateFile"), 1);
    EXPECT_EQ(fake.count("CloseHandle"), 0);
}

TEST(SerOpen, OpeningMessages)
{
    struct Case {
        const char *name;
        std::function<void(FakeCommDriver &, TSerCustomComm &)> setup;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"COM number without a device",
         [](FakeCommDriver &, TSerCustomComm &c) {
             c.SetDeviceName("COM%d");
             c.SetPortNum(0);
         },
         "Specified device not found (COM0)."},
        {"device path that does not exist",
         [](FakeCommDriver &f, TSerCustomComm &) { f.exists = false; },
         "Specified device not found (/fake/ttyF1)."},
        {"device held by another program",
         [](FakeCommDriver &f, TSerCustomComm &) { f.failNext("CreateFile", EBUSY); },
         "Can't open specified device /fake/ttyF1 (Error " + std::to_string(EBUSY) + ", " + SysErrorMessage(EBUSY) +
             ")"},
        {"no permission",
         [](FakeCommDriver &f, TSerCustomComm &) { f.failNext("CreateFile", EACCES); },
         "Can't open specified device /fake/ttyF1 (Error " + std::to_string(EACCES) + ", " +
             SysErrorMessage(EACCES) + ")"},
    };
    for (const Case &k : cases) {
        FakeCommDriver fake;
        auto comm = fakeComm();
        k.setup(fake, *comm);
        EXPECT_EQ(serError([&] { comm->Open(); }), k.message) << k.name;
        EXPECT_FALSE(comm->Active()) << k.name;
        EXPECT_EQ(fake.count("CloseHandle"), 0) << k.name;
    }
}

TEST(SerOpen, FailureAfterTheDeviceOpenedRollsBack)
{
    struct Case {
        const char *call;
        const char *format;
    };
    const std::vector<Case> cases = {
        {"SetCommState", "Error writing dcb (%d), %s"},
        {"SetupComm", "Error initializing buffers (%d), %s"},
        {"SetCommTimeouts", "Error setting timeouts (%d), %s"},
        {"SetCommMask", " Error setting EventMask (%d), %s"},
    };
    for (const Case &k : cases) {
        FakeCommDriver fake;
        auto comm = fakeComm();
        int opened = 0;
        comm->OnOpen = [&](QObject *) { ++opened; };
        fake.failNext(k.call, EIO);
        EXPECT_EQ(serError([&] { comm->Open(); }), SerFormat(k.format, {EIO}, {SysErrorMessage(EIO)})) << k.call;
        EXPECT_FALSE(comm->Active()) << k.call;
        EXPECT_EQ(fake.count("CloseHandle"), 1) << k.call;
        EXPECT_EQ(opened, 0) << k.call;
        EXPECT_FALSE(fake.open) << k.call;
        // The component can be opened again afterwards.
        comm->Open();
        EXPECT_TRUE(comm->Active()) << k.call;
    }
}

TEST(SerOpen, ThreadsStartPerMaskAndWriteMode)
{
    FakeCommDriver fake;
    {
        auto comm = fakeComm();
        comm->SetMonitorEvents({});
        comm->Open();
        EXPECT_EQ(comm->EventMask(), 0u);
        EXPECT_EQ(fake.count("WaitCommEvent"), 0); // no event thread
        EXPECT_TRUE(comm->WriteText("ab"));        // the write thread runs
        EXPECT_EQ(fake.waitWritten(2), "ab");
    }
    {
        auto comm = fakeComm();
        comm->SetDirectWrite(true);
        comm->Open();
        EXPECT_TRUE(pumpUntil([&] { return fake.count("WaitCommEvent") > 0; }));
        // A direct write lands before WriteBuf returns: no write thread.
        EXPECT_EQ(comm->WriteBuf("xyz", 3), 3);
        EXPECT_EQ(fake.writtenBytes(), "abxyz");
        EXPECT_EQ(comm->WriteBufUsed(), 0);
        EXPECT_EQ(comm->WriteBufFree(), 2048);
    }
}

TEST(SerOpen, OnOpenExceptionDoesNotFailTheOpen)
{
    FakeCommDriver fake;
    TestSupport::ScriptedPrompter prompter;
    auto comm = fakeComm();
    comm->OnOpen = [](QObject *) { throw std::runtime_error("handler failed"); };
    comm->Open();
    EXPECT_TRUE(comm->Active());
    EXPECT_EQ(prompter.texts(), QStringList{"handler failed"});
}

TEST(SerClose, CloseFiresOnCloseAndPauses)
{
    FakeCommDriver fake;
    TSerComm comm;
    comm.SetDeviceName(FakeCommDriver::path());
    int closed = 0;
    comm.OnClose = [&](QObject *sender) {
        EXPECT_EQ(sender, &comm);
        ++closed;
    };
    QElapsedTimer timer;
    timer.start();
    comm.Close(); // closed: nothing, no pause
    EXPECT_LT(timer.elapsed(), 250);
    EXPECT_EQ(closed, 0);

    comm.Open();
    timer.restart();
    comm.Close();
    EXPECT_GE(timer.elapsed(), 300);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(comm.Active());
    EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(fake.count("CloseHandle"), 1);
}

TEST(SerClose, DestructionClosesWithoutOnClose)
{
    FakeCommDriver fake;
    int closed = 0;
    {
        auto comm = fakeComm();
        comm->OnClose = [&](QObject *) { ++closed; };
        comm->Open();
    }
    EXPECT_EQ(closed, 0);
    EXPECT_FALSE(fake.open);
}

TEST(SerClose, OpenCloseRepeatedly)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    for (int i = 0; i < 5; ++i) {
        comm->Open();
        EXPECT_TRUE(comm->WriteChar(uint8_t('0' + i)));
        EXPECT_EQ(fake.waitWritten(size_t(i + 1)).size(), size_t(i + 1));
        comm->Close();
    }
    EXPECT_EQ(fake.writtenBytes(), "01234");
    EXPECT_EQ(fake.count("CloseHandle"), 5);
}

TEST(SerClosedPort, OperationsReturnNothingAndMakeNoDeviceCall)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    uint8_t ch = 'q';
    EXPECT_FALSE(comm->ReadChar(ch));
    EXPECT_EQ(ch, 'q');
    EXPECT_EQ(comm->ReadText(), "");
    EXPECT_EQ(comm->ReadBuf(&ch, 1), 0);
    EXPECT_FALSE(comm->WriteChar('a'));
    EXPECT_EQ(comm->WriteBuf("ab", 2), 0);
    EXPECT_TRUE(comm->WriteText(""));
    EXPECT_FALSE(comm->WriteText("a"));
    for (auto query : {&TSerCustomComm::ReadBufUsed, &TSerCustomComm::ReadBufFree, &TSerCustomComm::WriteBufUsed,
                       &TSerCustomComm::WriteBufFree, &TSerCustomComm::UARTReadBufUsed,
                       &TSerCustomComm::UARTWriteBufUsed})
        EXPECT_EQ(((*comm).*query)(), 0);
    EXPECT_FALSE(comm->CTS() || comm->DSR() || comm->RING() || comm->RLSD());
    EXPECT_FALSE(comm->CTSHold() || comm->DSRHold() || comm->RLSDHold() || comm->XOffHold() || comm->XOffSent());
    comm->PurgeRead();
    comm->PurgeWrite();
    comm->PurgeReadWrite();
    comm->SetDTR(true);
    comm->SetRTS(true);
    comm->SetBreak(true);
    comm->SetXon(true);
    comm->ResetDev();
    EXPECT_FALSE(comm->CheckLineErrors());
    EXPECT_FALSE(comm->WaitChar(0));
    EXPECT_EQ(fake.calls.size(), 0u);
    EXPECT_EQ(serError([&] { comm->Properties(); }), "Can't perform this operation while port is closed");
}

TEST(SerLineControl, HandshakeRefusesManualLineChangesEvenWhenClosed)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->FlowControl().SetControlDtr(dtrHandshake);
    EXPECT_EQ(serError([&] { comm->SetDTR(true); }),
              "DTR line updates not allowed when flowcontrol is set to Handshake.");
    for (TSerControlRts rts : {rtsHandshake, rtsToggle}) {
        comm->FlowControl().SetControlRts(rts);
        EXPECT_EQ(serError([&] { comm->SetRTS(false); }),
                  "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    }
    comm->FlowControl().SetControlDtr(dtrEnabled);
    EXPECT_EQ(serError([&] { comm->SetDTR(true); }), "");
}

TEST(SerLineControl, EscapeFunctionsPerOperation)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    comm->SetDTR(true);
    comm->SetDTR(false);
    comm->SetRTS(true);
    comm->SetRTS(false);
    comm->SetBreak(true);
    comm->SetBreak(false);
    comm->SetXon(true);
    comm->SetXon(false);
    comm->ResetDev();
    EXPECT_EQ(fake.escapes, (std::vector<uint32_t>{SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXON,
                                                   SETXOFF, RESETDEV}));
    fake.failNext("EscapeCommFunction", EIO);
    EXPECT_EQ(serError([&] { comm->SetBreak(true); }),
              SerFormat("Error calling comm function (%d), %s", {EIO}, {SysErrorMessage(EIO)}));
}

TEST(SerStatus, ModemAndHoldFlags)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    fake.modemStatus = MS_CTS_ON | MS_RLSD_ON;
    EXPECT_TRUE(comm->CTS());
    EXPECT_FALSE(comm->DSR());
    EXPECT_FALSE(comm->RING());
    EXPECT_TRUE(comm->RLSD());
    fake.statFlags = COMSTAT::fDsrHold | COMSTAT::fXoffSent;
    EXPECT_FALSE(comm->CTSHold());
    EXPECT_TRUE(comm->DSRHold());
    EXPECT_FALSE(comm->RLSDHold());
    EXPECT_FALSE(comm->XOffHold());
    EXPECT_TRUE(comm->XOffSent());
    EXPECT_EQ(comm->Properties().dwMaxBaud, BAUD_USER);

    const std::vector<std::tuple<const char *, const char *, std::function<void()>>> failures = {
        {"GetCommModemStatus", "Error reading modem state (%d), %s", [&] { comm->DSR(); }},
        {"ClearCommError", "Error retrieving statistics (%d), %s", [&] { comm->ReadBufUsed(); }},
        {"ClearCommError", "Error retrieving statistics (%d), %s", [&] { comm->XOffHold(); }},
        {"GetCommProperties", "Error reading port properties (%d), %s", [&] { comm->Properties(); }},
        {"PurgeComm", "Error clearing buffers (%d), %s", [&] { comm->PurgeRead(); }},
        {"ReadFile", "Read error (%d), %s", [&] { uint8_t c; comm->ReadChar(c); }},
    };
    for (const auto &[call, format, op] : failures) {
        fake.failNext(call, EIO);
        EXPECT_EQ(serError(op), SerFormat(format, {EIO}, {SysErrorMessage(EIO)})) << call;
    }
}

TEST(SerRead, ReadsReturnAtOnceWithWhatIsWaiting)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetMonitorEvents({}); // the test reads by itself
    comm->Open();
    uint8_t ch = 'z';
    EXPECT_FALSE(comm->ReadChar(ch));
    EXPECT_EQ(ch, 'z');
    EXPECT_EQ(comm->ReadText(), "");
    fake.preload("hello");
    EXPECT_EQ(comm->ReadBufUsed(), 5);
    EXPECT_EQ(comm->ReadBufFree(), 4096 - 5);
    EXPECT_TRUE(comm->ReadChar(ch));
    EXPECT_EQ(ch, 'h');
    EXPECT_EQ(comm->ReadText(), "ello");
    char buf[8];
    EXPECT_EQ(comm->ReadBuf(buf, 8), 0);
}

TEST(SerRead, ReadTextHoldsOnlyTheBytesActuallyRead)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetMonitorEvents({});
    comm->Open();
    fake.preload("abcdef");
    fake.readLimit = 4; // the driver hands out fewer bytes than it counted
    EXPECT_EQ(comm->ReadText(), "abcd");
}

TEST(SerRead, WaitCharAndReadCharWait)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetMonitorEvents({});
    comm->Open();
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(comm->WaitChar(30));
    EXPECT_GE(timer.elapsed(), 30);
    uint8_t ch = 0;
    EXPECT_FALSE(comm->ReadCharWait(ch, 10));
    fake.preload("k");
    EXPECT_TRUE(comm->WaitChar(1000));
    EXPECT_TRUE(comm->ReadCharWait(ch, 1000));
    EXPECT_EQ(ch, 'k');
    // A byte that comes while WaitChar waits ends the wait.
    std::thread later([&] {
        QThread::msleep(20);
        fake.preload("m");
    });
    EXPECT_TRUE(comm->WaitChar(2000));
    later.join();
}

TEST(SerWrite, DirectWrites)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetDirectWrite(true);
    comm->Buffers().SetWriteTimeout(30);
    comm->Open();
    EXPECT_TRUE(comm->WriteText("abc"));
    EXPECT_TRUE(comm->WriteChar('d'));
    EXPECT_EQ(fake.writtenBytes(), "abcd");
    fake.outQueue = 48;
    EXPECT_EQ(comm->WriteBufUsed(), 48);
    EXPECT_EQ(comm->WriteBufFree(), 2048 - 48);

    // A write that does not complete in time returns what the driver took.
    fake.stallWrites(3);
    EXPECT_EQ(comm->WriteBuf("012345", 6), 3);
    EXPECT_FALSE(comm->WriteText("xy"));
    fake.release();

    fake.failWrites(EIO);
    EXPECT_EQ(serError([&] { comm->WriteChar('e'); }),
              SerFormat("Write error (%d), %s", {EIO}, {SysErrorMessage(EIO)}));
}

TEST(SerPurge, PurgeFlagsAndWriteQueue)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    fake.stallWrites(0); // queued bytes stay queued
    ASSERT_TRUE(comm->WriteText("abc"));
    ASSERT_TRUE(fake.waitWriteStalled());
    EXPECT_EQ(comm->WriteBufUsed(), 3);

    comm->PurgeRead();
    EXPECT_EQ(comm->WriteBufUsed(), 3); // the write queue is left alone
    comm->PurgeWrite();
    EXPECT_EQ(comm->WriteBufUsed(), 0);
    ASSERT_TRUE(comm->WriteText("de"));
    ASSERT_TRUE(pumpUntil([&] { return comm->WriteBufUsed() == 2; }));
    comm->PurgeReadWrite();
    EXPECT_EQ(comm->WriteBufUsed(), 0);
    EXPECT_EQ(comm->WriteBufFree(), 2048);
    EXPECT_EQ(fake.purges, (std::vector<uint32_t>{PURGE_RXABORT | PURGE_RXCLEAR, PURGE_TXABORT | PURGE_TXCLEAR,
                                                  PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR}));
    fake.release();
    pumpFor(20);
    EXPECT_EQ(fake.writtenBytes(), "");
}

TEST(SerPurge, TwoPurgesInARowEachGetTheirAcknowledgement)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    QElapsedTimer timer;
    timer.start();
    comm->PurgeWrite();
    comm->PurgeWrite();
    EXPECT_LT(timer.elapsed(), 1000); // both acknowledged, neither waited for the 2 s limit
    EXPECT_EQ(fake.purges.size(), 2u);
}

// Settings of the serial component: defaults, the device control block built
// from them and read back, event masks, writes refused while open, the
// property groups' change notification and the library's messages.
#include "FakeCommDriver.h"
#include "SerTestUtil.h"

#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace Platform;
using namespace SerialTest;

TEST(SerSettings, NewComponentHasTheDefaults)
{
    TSerComm comm;
    EXPECT_FALSE(comm.Active());
    EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(comm.Baudrate(), br1200);
    EXPECT_EQ(comm.UserBaudrate(), 0);
    EXPECT_EQ(comm.Parity(), paNone);
    EXPECT_EQ(comm.Databits(), db8);
    EXPECT_EQ(comm.Stopbits(), sb1);
    EXPECT_TRUE(comm.Options().empty());
    EXPECT_EQ(comm.PortNum(), 0);
    EXPECT_EQ(comm.DeviceName(), "COM%d");
    EXPECT_EQ(comm.GetDeviceName(), "COM0");
    EXPECT_EQ(comm.MonitorEvents(), (TSerCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_EQ(comm.Buffers().ReadSize(), 4096);
    EXPECT_EQ(comm.Buffers().WriteSize(), 2048);
    EXPECT_EQ(comm.Buffers().ReadTimeout(), 1000);
    EXPECT_EQ(comm.Buffers().WriteTimeout(), 1000);
    EXPECT_EQ(comm.Buffers().XonLimit(), 1024);
    EXPECT_EQ(comm.Buffers().XoffLimit(), 1024);
    EXPECT_EQ(comm.EventChars().XonChar(), 17);
    EXPECT_EQ(comm.EventChars().XoffChar(), 19);
    EXPECT_EQ(comm.EventChars().ErrorChar(), 0);
    EXPECT_EQ(comm.EventChars().EventChar(), 0);
    EXPECT_EQ(comm.EventChars().EofChar(), 0);
    const TSerFlowControl &f = comm.FlowControl();
    EXPECT_FALSE(f.OutCtsFlow() || f.OutDsrFlow() || f.XonXoffIn() || f.XonXoffOut() || f.DsrSensitivity() ||
                 f.TxContinueOnXoff());
    EXPECT_EQ(f.ControlDtr(), dtrDisabled);
    EXPECT_EQ(f.ControlRts(), rtsDisabled);
    EXPECT_EQ(comm.EventPriority(), tpNormal);
    EXPECT_EQ(comm.WritePriority(), tpHighest);
    EXPECT_FALSE(comm.DirectWrite());
    EXPECT_TRUE(comm.UpdateDCB());
    EXPECT_TRUE(comm.SyncThreads());
    EXPECT_FALSE(comm.AutoOpen());
    EXPECT_EQ(comm.Display(), nullptr);
    EXPECT_EQ(comm.Version(), "1.8.0.0");
    comm.SetVersion("9.9");
    EXPECT_EQ(comm.Version(), "1.8.0.0");
}

TEST(SerSettings, DeviceNameFormatTakesOnlyThePortNumber)
{
    TSerComm comm;
    comm.SetPortNum(12);
    EXPECT_EQ(comm.GetDeviceName(), "COM12");
    // A name with other conversions is never used as a format.
    comm.SetDeviceName("/dev/x%s%n%d%%");
    EXPECT_EQ(comm.GetDeviceName(), "/dev/x%s%n12%");
}

// One setting and what it must put into the device control block.
struct DcbCase {
    const char *name;
    std::function<void(TSerCustomComm &)> set;
    std::function<bool(const DCB &)> holds;
};

class SerDcbTable : public ::testing::TestWithParam<DcbCase> {};

TEST_P(SerDcbTable, SettingReachesTheDeviceControlBlock)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    GetParam().set(*comm);
    comm->Open();
    ASSERT_FALSE(fake.dcbWrites.empty());
    const DCB &dcb = fake.dcbWrites.back();
    EXPECT_TRUE(GetParam().holds(dcb)) << GetParam().name << " flags=0x" << std::hex << dcb.Flags;
    EXPECT_TRUE(dcb.Flags & DCB::fBinary);
    EXPECT_FALSE(dcb.Flags & DCB::fAbortOnError);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SerDcbTable,
    ::testing::Values(
        DcbCase{"defaults",
                [](TSerCustomComm &) {},
                [](const DCB &d) {
                    return d.BaudRate == 1200 && d.ByteSize == 8 && d.Parity == NOPARITY && d.StopBits == ONESTOPBIT &&
                           d.Flags == DCB::fBinary && d.XonChar == 17 && d.XoffChar == 19 && d.XonLim == 1024 &&
                           d.XoffLim == 1024;
                }},
        DcbCase{"br9600", [](TSerCustomComm &c) { c.SetBaudrate(br9600); },
                [](const DCB &d) { return d.BaudRate == 9600; }},
        DcbCase{"br256000", [](TSerCustomComm &c) { c.SetBaudrate(br256000); },
                [](const DCB &d) { return d.BaudRate == 256000; }},
        DcbCase{"user rate", [](TSerCustomComm &c) { c.SetUserBaudrate(250000); },
                [](const DCB &d) { return d.BaudRate == 250000; }},
        DcbCase{"odd parity", [](TSerCustomComm &c) { c.SetParity(paOdd); },
                [](const DCB &d) { return d.Parity == ODDPARITY; }},
        DcbCase{"space parity", [](TSerCustomComm &c) { c.SetParity(paSpace); },
                [](const DCB &d) { return d.Parity == SPACEPARITY; }},
        DcbCase{"5 data bits", [](TSerCustomComm &c) { c.SetDatabits(db5); },
                [](const DCB &d) { return d.ByteSize == 5; }},
        DcbCase{"4 data bits", [](TSerCustomComm &c) { c.SetDatabits(db4); },
                [](const DCB &d) { return d.ByteSize == 4; }},
        DcbCase{"1.5 stop bits", [](TSerCustomComm &c) { c.SetStopbits(sb15); },
                [](const DCB &d) { return d.StopBits == ONE5STOPBITS; }},
        DcbCase{"2 stop bits", [](TSerCustomComm &c) { c.SetStopbits(sb2); },
                [](const DCB &d) { return d.StopBits == TWOSTOPBITS; }},
        DcbCase{"CTS flow", [](TSerCustomComm &c) { c.FlowControl().SetOutCtsFlow(true); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | DCB::fOutxCtsFlow); }},
        DcbCase{"DSR flow", [](TSerCustomComm &c) { c.FlowControl().SetOutDsrFlow(true); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | DCB::fOutxDsrFlow); }},
        DcbCase{"XON/XOFF out", [](TSerCustomComm &c) { c.FlowControl().SetXonXoffOut(true); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | DCB::fOutX); }},
        DcbCase{"XON/XOFF in", [](TSerCustomComm &c) { c.FlowControl().SetXonXoffIn(true); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | DCB::fInX); }},
        DcbCase{"DSR sensitivity", [](TSerCustomComm &c) { c.FlowControl().SetDsrSensitivity(true); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x40u); }},
        DcbCase{"Tx continue on XOFF", [](TSerCustomComm &c) { c.FlowControl().SetTxContinueOnXoff(true); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x80u); }},
        DcbCase{"DTR enabled", [](TSerCustomComm &c) { c.FlowControl().SetControlDtr(dtrEnabled); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x10u); }},
        DcbCase{"DTR handshake", [](TSerCustomComm &c) { c.FlowControl().SetControlDtr(dtrHandshake); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x20u); }},
        DcbCase{"RTS enabled", [](TSerCustomComm &c) { c.FlowControl().SetControlRts(rtsEnabled); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x1000u); }},
        DcbCase{"RTS handshake", [](TSerCustomComm &c) { c.FlowControl().SetControlRts(rtsHandshake); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x2000u); }},
        DcbCase{"RTS toggle", [](TSerCustomComm &c) { c.FlowControl().SetControlRts(rtsToggle); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x3000u); }},
        DcbCase{"error char option", [](TSerCustomComm &c) { c.SetOptions({coErrorChar}); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x400u); }},
        DcbCase{"null strip option", [](TSerCustomComm &c) { c.SetOptions({coNullStrip}); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x800u); }},
        DcbCase{"parity check option", [](TSerCustomComm &c) { c.SetOptions({coParityCheck}); },
                [](const DCB &d) { return d.Flags == (DCB::fBinary | 0x2u); }},
        DcbCase{"special characters",
                [](TSerCustomComm &c) {
                    c.EventChars().SetXonChar(1);
                    c.EventChars().SetXoffChar(2);
                    c.EventChars().SetErrorChar(3);
                    c.EventChars().SetEventChar(4);
                    c.EventChars().SetEofChar(5);
                },
                [](const DCB &d) {
                    return d.XonChar == 1 && d.XoffChar == 2 && d.ErrorChar == 3 && d.EvtChar == 4 && d.EofChar == 5;
                }},
        DcbCase{"limits keep their low 16 bits",
                [](TSerCustomComm &c) {
                    c.Buffers().SetXonLimit(0x12345);
                    c.Buffers().SetXoffLimit(7);
                },
                [](const DCB &d) { return d.XonLim == 0x2345 && d.XoffLim == 7; }},
        DcbCase{"the link's settings",
                [](TSerCustomComm &c) {
                    c.SetBaudrate(br9600);
                    c.Buffers().SetWriteSize(4096);
                    c.Buffers().SetReadSize(4096);
                    c.FlowControl().SetControlDtr(dtrDisabled);
                    c.FlowControl().SetControlRts(rtsDisabled);
                },
                [](const DCB &d) {
                    return d.BaudRate == 9600 && d.ByteSize == 8 && d.Parity == 0 && d.StopBits == 0 &&
                           d.Flags == DCB::fBinary;
                }}),
    [](const ::testing::TestParamInfo<DcbCase> &info) { return "case" + std::to_string(info.index); });

TEST(SerSettings, DcbKeepsTheFieldsItDoesNotSet)
{
    FakeCommDriver fake;
    fake.state.wReserved = 0xBEEF;
    fake.state.Flags = 0xFFFFFFFF; // every flag rebuilt from nothing
    auto comm = fakeComm();
    comm->Open();
    ASSERT_EQ(fake.dcbWrites.size(), 1u);
    EXPECT_EQ(fake.dcbWrites[0].wReserved, 0xBEEF);
    EXPECT_EQ(fake.dcbWrites[0].Flags, DCB::fBinary);
}

TEST(SerSettings, ClosedPortWritesMakeNoDeviceCall)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetBaudrate(br9600);
    comm->FlowControl().SetOutCtsFlow(true);
    comm->EventChars().SetEofChar(4);
    comm->Buffers().SetWriteSize(100);
    EXPECT_EQ(fake.calls.size(), 0u);
    comm->Open();
    ASSERT_EQ(fake.dcbWrites.size(), 1u);
    EXPECT_EQ(fake.dcbWrites[0].BaudRate, 9600u);
    ASSERT_EQ(fake.setupCalls.size(), 1u);
    EXPECT_EQ(fake.setupCalls[0], std::make_pair(4096u, 100u));
    EXPECT_EQ(fake.timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(fake.timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(fake.timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST(SerSettings, OpenPortReceivesEachLineSettingAtOnce)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    const size_t before = fake.dcbWrites.size();
    comm->SetBaudrate(br19200);
    comm->SetParity(paEven);
    comm->SetDatabits(db7);
    comm->SetStopbits(sb2);
    comm->SetOptions({coParityCheck});
    comm->FlowControl().SetXonXoffIn(true);
    comm->EventChars().SetXonChar(0x11);
    ASSERT_EQ(fake.dcbWrites.size(), before + 7);
    const DCB &d = fake.dcbWrites.back();
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_EQ(d.Parity, EVENPARITY);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
    EXPECT_EQ(d.Flags, DCB::fBinary | DCB::fParity | DCB::fInX);

    // An unchanged value pushes nothing, except for the special characters.
    comm->SetBaudrate(br19200);
    comm->FlowControl().SetXonXoffIn(true);
    EXPECT_EQ(fake.dcbWrites.size(), before + 7);
    comm->EventChars().SetXonChar(0x11);
    EXPECT_EQ(fake.dcbWrites.size(), before + 8);
}

TEST(SerSettings, BaudrateAndUserBaudrateFollowEachOther)
{
    TSerComm comm;
    comm.SetUserBaudrate(31250);
    EXPECT_EQ(comm.Baudrate(), brUser);
    EXPECT_EQ(comm.UserBaudrate(), 31250);
    comm.SetBaudrate(br19200);
    EXPECT_EQ(comm.UserBaudrate(), 0);
    comm.SetUserBaudrate(0); // the current value: nothing changes
    EXPECT_EQ(comm.Baudrate(), br19200);
}

TEST(SerSettings, UpdateDcbOffLeavesTheDeviceControlBlockAlone)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->SetUpdateDCB(false);
    comm->Open();
    comm->SetBaudrate(br115200);
    comm->FlowControl().SetOutCtsFlow(true);
    EXPECT_EQ(fake.count("SetCommState"), 0);
    EXPECT_EQ(fake.count("GetCommState"), 0);
}

TEST(SerSettings, WritesRefusedWhileOpenKeepTheOldValue)
{
    FakeCommDriver fake;
    auto comm = fakeComm(3);
    comm->Open();
    TSerBuffers other;
    const std::vector<std::pair<const char *, std::function<void()>>> writes = {
        {"PortNum", [&] { comm->SetPortNum(4); }},
        {"DeviceName", [&] { comm->SetDeviceName("COM%d"); }},
        {"MonitorEvents", [&] { comm->SetMonitorEvents({ceRxChar}); }},
        {"DirectWrite", [&] { comm->SetDirectWrite(true); }},
        {"UpdateDCB", [&] { comm->SetUpdateDCB(false); }},
        {"Buffers", [&] { comm->SetBuffers(other); }},
        {"Open", [&] { comm->Open(); }},
    };
    for (const auto &w : writes)
        EXPECT_EQ(serError(w.second), SerMsg::PortOpen) << w.first;
    EXPECT_EQ(comm->PortNum(), 3);
    EXPECT_EQ(comm->DeviceName(), "/fake/ttyF%d");
    EXPECT_EQ(comm->MonitorEvents(), (TSerCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_FALSE(comm->DirectWrite());
    EXPECT_TRUE(comm->UpdateDCB());
    EXPECT_TRUE(comm->Active());
    EXPECT_EQ(fake.count("CreateFile"), 1);
}

TEST(SerSettings, BufferMembersChangedWhileOpenRaiseButStay)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    const std::vector<std::pair<const char *, std::function<void()>>> writes = {
        {"ReadSize", [&] { comm->Buffers().SetReadSize(100); }},
        {"WriteSize", [&] { comm->Buffers().SetWriteSize(200); }},
        {"XonLimit", [&] { comm->Buffers().SetXonLimit(300); }},
        {"XoffLimit", [&] { comm->Buffers().SetXoffLimit(400); }},
    };
    for (const auto &w : writes)
        EXPECT_EQ(serError(w.second), SerMsg::PortOpen) << w.first;
    EXPECT_EQ(comm->Buffers().ReadSize(), 100);
    EXPECT_EQ(comm->Buffers().WriteSize(), 200);
    EXPECT_EQ(comm->Buffers().XonLimit(), 300);
    EXPECT_EQ(comm->Buffers().XoffLimit(), 400);
    // The time-outs are only stored.
    EXPECT_EQ(serError([&] { comm->Buffers().SetReadTimeout(5); }), "");
    EXPECT_EQ(comm->Buffers().ReadTimeout(), 5);
    // The next open uses the stored sizes.
    comm->Close();
    comm->Open();
    EXPECT_EQ(fake.setupCalls.back(), std::make_pair(100u, 200u));
    EXPECT_EQ(fake.dcbWrites.back().XonLim, 300);
}

TEST(SerSettings, WholeGroupAssignedToAnOpenPortPushesOnce)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    size_t before = fake.dcbWrites.size();
    TSerFlowControl flow;
    flow.SetOutCtsFlow(true);
    flow.SetXonXoffOut(true);
    flow.SetControlRts(rtsHandshake);
    comm->SetFlowControl(flow);
    ASSERT_EQ(fake.dcbWrites.size(), before + 1);
    EXPECT_EQ(fake.dcbWrites.back().Flags, DCB::fBinary | DCB::fOutxCtsFlow | DCB::fOutX | 0x2000u);

    before = fake.dcbWrites.size();
    TSerEventChars chars;
    chars.SetEofChar(26);
    comm->SetEventChars(chars);
    ASSERT_EQ(fake.dcbWrites.size(), before + 1);
    EXPECT_EQ(fake.dcbWrites.back().EofChar, 26);
    EXPECT_EQ(fake.dcbWrites.back().EvtChar, 0);
}

TEST(SerSettings, EndUpdateAndAssignAnnounceOneChange)
{
    TSerBuffers buffers;
    int changes = 0;
    buffers.OnChange = [&](TSerPersistent *) { ++changes; };
    buffers.BeginUpdate();
    buffers.BeginUpdate();
    buffers.SetReadSize(1);
    buffers.SetWriteSize(2);
    buffers.EndUpdate();
    EXPECT_EQ(changes, 0);
    buffers.EndUpdate();
    EXPECT_EQ(changes, 1);
    buffers.EndUpdate(); // not below 0: still announces
    EXPECT_EQ(buffers.UpdateCount(), 0);
    EXPECT_EQ(changes, 2);

    TSerBuffers source;
    source.SetReadTimeout(7);
    source.SetXoffLimit(9);
    changes = 0;
    buffers.Assign(&source);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(buffers.ReadTimeout(), 7);
    EXPECT_EQ(buffers.XoffLimit(), 9);
    EXPECT_EQ(buffers.ReadSize(), 4096);

    TSerEventChars chars;
    chars.OnChange = [&](TSerPersistent *) { ++changes; };
    changes = 0;
    TSerEventChars charSource;
    chars.Assign(&charSource); // five writes, one change
    EXPECT_EQ(changes, 1);
}

TEST(SerSettings, AssignFromAnotherClassIsRefused)
{
    TSerFlowControl flow;
    TSerBuffers buffers;
    try {
        flow.Assign(&buffers);
        FAIL() << "no error";
    } catch (const std::invalid_argument &e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TSerBuffers to a TSerFlowControl");
    }
    EXPECT_THROW(buffers.Assign(nullptr), std::invalid_argument);
    EXPECT_EQ(flow.UpdateCount(), 0);
}

TEST(SerSettings, EventCharsAreIndependent)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    comm->EventChars().SetEofChar(26);
    EXPECT_EQ(comm->EventChars().EventChar(), 0);
    EXPECT_EQ(fake.dcbWrites.back().EvtChar, 0);
    comm->EventChars().SetEventChar(10);
    EXPECT_EQ(comm->EventChars().EofChar(), 26);
    EXPECT_EQ(fake.dcbWrites.back().EofChar, 26);
    EXPECT_EQ(fake.dcbWrites.back().EvtChar, 10);
}

TEST(SerSettings, ReadDcbTable)
{
    struct Case {
        const char *name;
        std::function<void(DCB &)> set;
        std::function<bool(TSerCustomComm &)> reads;
    };
    const std::vector<Case> cases = {
        {"table rate", [](DCB &d) { d.BaudRate = 57600; },
         [](TSerCustomComm &c) { return c.Baudrate() == br57600 && c.UserBaudrate() == 0; }},
        {"rate not in the table", [](DCB &d) { d.BaudRate = 31250; },
         [](TSerCustomComm &c) { return c.Baudrate() == brUser && c.UserBaudrate() == 31250; }},
        {"rate 0 is brUser's entry", [](DCB &d) { d.BaudRate = 0; },
         [](TSerCustomComm &c) { return c.Baudrate() == brUser && c.UserBaudrate() == 0; }},
        {"DTR off, RTS toggle", [](DCB &d) { d.setDtrControl(0); d.setRtsControl(3); },
         [](TSerCustomComm &c) {
             return c.FlowControl().ControlDtr() == dtrDisabled && c.FlowControl().ControlRts() == rtsToggle;
         }},
        {"ByteSize 9 reads as db8", [](DCB &d) { d.ByteSize = 9; },
         [](TSerCustomComm &c) { return c.Databits() == db8; }},
        {"ByteSize 5", [](DCB &d) { d.ByteSize = 5; }, [](TSerCustomComm &c) { return c.Databits() == db5; }},
        {"unknown parity", [](DCB &d) { d.Parity = 7; }, [](TSerCustomComm &c) { return c.Parity() == paNone; }},
        {"mark parity", [](DCB &d) { d.Parity = MARKPARITY; },
         [](TSerCustomComm &c) { return c.Parity() == paMark; }},
        {"unknown stop bits", [](DCB &d) { d.StopBits = 5; },
         [](TSerCustomComm &c) { return c.Stopbits() == sb1; }},
        {"flow flags",
         [](DCB &d) {
             d.Flags = DCB::fBinary | DCB::fOutxCtsFlow | DCB::fOutxDsrFlow | DCB::fOutX | DCB::fInX |
                       DCB::fDsrSensitivity | DCB::fTXContinueOnXoff;
         },
         [](TSerCustomComm &c) {
             const auto &f = c.FlowControl();
             return f.OutCtsFlow() && f.OutDsrFlow() && f.XonXoffOut() && f.XonXoffIn() && f.DsrSensitivity() &&
                    f.TxContinueOnXoff();
         }},
        {"options", [](DCB &d) { d.Flags = DCB::fBinary | DCB::fNull | DCB::fParity; },
         [](TSerCustomComm &c) { return c.Options() == TSerCommOptions{coNullStrip, coParityCheck}; }},
        {"characters and limits",
         [](DCB &d) {
             d.XonChar = 1; d.XoffChar = 2; d.ErrorChar = 3; d.EvtChar = 4; d.EofChar = 5;
             d.XonLim = 11; d.XoffLim = 12;
         },
         [](TSerCustomComm &c) {
             const auto &e = c.EventChars();
             return e.XonChar() == 1 && e.XoffChar() == 2 && e.ErrorChar() == 3 && e.EventChar() == 4 &&
                    e.EofChar() == 5 && c.Buffers().XonLimit() == 11 && c.Buffers().XoffLimit() == 12;
         }},
    };
    for (const Case &k : cases) {
        TSerComm comm;
        comm.SetOptions({coErrorChar}); // cleared unless in the DCB
        DCB dcb = FakeCommDriver::defaultDcb();
        k.set(dcb);
        comm.ReadDCB(dcb);
        EXPECT_TRUE(k.reads(comm)) << k.name;
    }
}

TEST(SerSettings, ReadDcbOnAnOpenPortRaisesForChangedLimits)
{
    FakeCommDriver fake;
    auto comm = fakeComm();
    comm->Open();
    DCB dcb = FakeCommDriver::defaultDcb();
    dcb.XonLim = 10;
    EXPECT_EQ(serError([&] { comm->ReadDCB(dcb); }), SerMsg::PortOpen);
}

// Resetting to the defaults the comm layer itself gives: a pty through the
// termios driver, with a component whose settings differ from them.
class SerSettingsOnPty : public testing::Test {
protected:
    SerSettingsOnPty()
    {
        comm.SetPortNum(pty.comNumber());
        comm.SetClosePause(0);
        comm.SetBaudrate(br38400);
        comm.Buffers().SetXonLimit(10);
        comm.Buffers().SetXoffLimit(20);
    }
    void SetUp() override { ASSERT_TRUE(pty.ok()) << pty.error(); }

    TestSupport::PtyPair pty{9};
    TSerComm comm;
};

TEST_F(SerSettingsOnPty, ResetPortParametersReadsTheDefaultConfiguration)
{
    comm.ResetPortParameters();
    EXPECT_EQ(comm.Baudrate(), br9600);
    EXPECT_EQ(comm.Databits(), db8);
    EXPECT_EQ(comm.FlowControl().ControlDtr(), dtrEnabled);
    EXPECT_EQ(comm.FlowControl().ControlRts(), rtsEnabled);
    EXPECT_EQ(comm.Buffers().XonLimit(), 1024);
    EXPECT_EQ(comm.Buffers().XoffLimit(), 1024);

    comm.SetBaudrate(br38400);
    comm.SetDeviceName("/dev/nonexistent-tty%d");
    EXPECT_EQ(serError([&] { comm.ResetPortParameters(); }), "Error reading default port parameters.");
    EXPECT_EQ(comm.Baudrate(), br38400);
}

// On an open port a reset that would change the Xon/Xoff limits is refused
// before any setting changes, in the component or on the device.
TEST_F(SerSettingsOnPty, ResetPortParametersOnAnOpenPortIsRefusedBeforeAnythingChanges)
{
    comm.Open();
    DCB before;
    ASSERT_TRUE(GetCommState(comm.Handle(), &before));
    EXPECT_EQ(serError([&] { comm.ResetPortParameters(); }), SerMsg::PortOpen);
    DCB after;
    ASSERT_TRUE(GetCommState(comm.Handle(), &after));
    EXPECT_EQ(after.BaudRate, 38400u);
    EXPECT_EQ(after.Flags, before.Flags) << "DTR and RTS stay as they were";
    EXPECT_EQ(comm.Baudrate(), br38400);
    EXPECT_EQ(comm.FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(comm.Buffers().XonLimit(), 10);

    // With the limits the defaults have, the reset reaches the open port.
    comm.Close();
    comm.Buffers().SetXonLimit(1024);
    comm.Buffers().SetXoffLimit(1024);
    comm.Open();
    comm.ResetPortParameters();
    ASSERT_TRUE(GetCommState(comm.Handle(), &after));
    EXPECT_EQ(after.BaudRate, 9600u);
    EXPECT_EQ(after.dtrControl(), DTR_CONTROL_ENABLE);
}

TEST(SerSettings, EventMasks)
{
    struct Case {
        TSerCommEvents events;
        bool direct;
        uint32_t mask;
    };
    const std::vector<Case> cases = {
        {{ceError, ceRxChar, ceTxEmpty}, false, 0x81},
        {{ceError, ceRxChar, ceTxEmpty}, true, 0x85},
        {{}, false, 0},
        {{ceTxEmpty}, false, 0},
        {{ceBreak}, false, 0x40},     {{ceCts}, false, 0x08},     {{ceDsr}, false, 0x10},
        {{ceRing}, false, 0x100},     {{ceRlsd}, false, 0x20},    {{ceRxFlag}, false, 0x02},
        {{cePErr}, false, 0x200},     {{ceRx80Full}, false, 0x400}, {{ceEvent1}, false, 0x800},
        {{ceEvent2}, false, 0x1000},
    };
    for (const Case &k : cases) {
        FakeCommDriver fake;
        auto comm = fakeComm();
        comm->SetMonitorEvents(k.events);
        comm->SetDirectWrite(k.direct);
        EXPECT_EQ(comm->CalcEventMask(), k.mask) << std::hex << k.events.bits();
        comm->Open();
        EXPECT_EQ(comm->EventMask(), k.mask);
        EXPECT_EQ(fake.mask, k.mask);
    }
}

TEST(SerSettings, FormatFillsOnlyItsOwnPlaceholders)
{
    EXPECT_EQ(SerFormat(SerMsg::WriteDcb, {22}, {"Invalid argument"}), "Error writing dcb (22), Invalid argument");
    EXPECT_EQ(SerFormat(SerMsg::DeviceNotFound, {}, {"/dev/%s%d"}), "Specified device not found (/dev/%s%d).");
    EXPECT_EQ(SerFormat("%d %s %x", {}, {}), "%d %s %x");
}

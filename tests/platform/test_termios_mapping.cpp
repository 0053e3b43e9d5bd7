// The device control block <-> termios2 mapping, checked as tables. (This
// file uses termios2 from <asm/termbits.h> and so must not include <termios.h>.)
#include "platform/TermiosDriver.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Platform;

namespace {

DCB line(uint32_t rate, uint8_t bits, uint8_t parity, uint8_t stop, uint32_t flags = DCB::fBinary)
{
    DCB d;
    d.BaudRate = rate;
    d.ByteSize = bits;
    d.Parity = parity;
    d.StopBits = stop;
    d.Flags = flags;
    d.XonChar = 17;
    d.XoffChar = 19;
    return d;
}

termios2 rawBase()
{
    termios2 t{};
    t.c_cflag = B38400 | CS8 | CREAD;
    t.c_iflag = ICRNL | IXANY;
    t.c_lflag = ICANON | ECHO;
    t.c_oflag = OPOST;
    makeRaw(t);
    return t;
}

} // namespace

TEST(TermiosMapping, EveryRateGoesThroughBotherOnBothDirections)
{
    for (uint32_t rate : {110u, 9600u, 14400u, 56000u, 115200u, 256000u, 12345u, 3000000u}) {
        termios2 t = rawBase();
        ASSERT_EQ(dcbToTermios(line(rate, 8, NOPARITY, ONESTOPBIT), t), 0);
        EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER)) << rate;
        EXPECT_EQ((t.c_cflag >> IBSHIFT) & CBAUD, static_cast<tcflag_t>(BOTHER)) << rate;
        EXPECT_EQ(t.c_ospeed, rate);
        EXPECT_EQ(t.c_ispeed, rate);
    }
}

TEST(TermiosMapping, LineFormatsMapOntoSizeParityAndStopFlags)
{
    struct Case {
        uint8_t bits, parity, stop;
        tcflag_t cflags; // within CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
    };
    const Case cases[] = {
        {8, NOPARITY, ONESTOPBIT, CS8},
        {7, EVENPARITY, ONESTOPBIT, CS7 | PARENB},
        {7, ODDPARITY, TWOSTOPBITS, CS7 | PARENB | PARODD | CSTOPB},
        {8, MARKPARITY, ONESTOPBIT, CS8 | PARENB | PARODD | CMSPAR},
        {8, SPACEPARITY, ONESTOPBIT, CS8 | PARENB | CMSPAR},
        {6, NOPARITY, TWOSTOPBITS, CS6 | CSTOPB},
        {5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB},
        {5, EVENPARITY, ONESTOPBIT, CS5 | PARENB},
    };
    const tcflag_t formatMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    for (const Case &c : cases) {
        termios2 t = rawBase();
        t.c_cflag |= PARENB | CSTOPB; // leftovers must go
        ASSERT_EQ(dcbToTermios(line(9600, c.bits, c.parity, c.stop), t), 0);
        EXPECT_EQ(t.c_cflag & formatMask, c.cflags) << int(c.bits) << "/" << int(c.parity) << "/" << int(c.stop);
        EXPECT_TRUE(t.c_cflag & CREAD);
        EXPECT_TRUE(t.c_cflag & CLOCAL);

        DCB back = line(0, 0, 0, 0);
        termiosToDcb(t, back);
        EXPECT_EQ(back.ByteSize, c.bits);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
        EXPECT_EQ(back.BaudRate, 9600u);
    }
}

TEST(TermiosMapping, HardwareFlowGoesIntoCflagAndSoftwareFlowNeverSetsIxany)
{
    struct Case {
        uint32_t flags;
        uint32_t rts;
        bool crtscts;
        tcflag_t iflags; // within IXON | IXOFF | IXANY | INPCK
    };
    const Case cases[] = {
        {DCB::fBinary, RTS_CONTROL_ENABLE, false, 0},
        {DCB::fBinary | DCB::fOutxCtsFlow, RTS_CONTROL_ENABLE, true, 0},
        {DCB::fBinary, RTS_CONTROL_HANDSHAKE, true, 0},
        {DCB::fBinary, RTS_CONTROL_TOGGLE, false, 0},
        {DCB::fBinary | DCB::fOutX, RTS_CONTROL_DISABLE, false, IXON},
        {DCB::fBinary | DCB::fInX, RTS_CONTROL_DISABLE, false, IXOFF},
        {DCB::fBinary | DCB::fOutX | DCB::fInX | DCB::fParity, RTS_CONTROL_DISABLE, false, IXON | IXOFF | INPCK},
        {DCB::fBinary | DCB::fOutxDsrFlow | DCB::fDsrSensitivity, RTS_CONTROL_DISABLE, false, 0},
    };
    for (const Case &c : cases) {
        DCB d = line(9600, 8, NOPARITY, ONESTOPBIT, c.flags);
        d.setRtsControl(c.rts);
        d.XonChar = 0x11;
        d.XoffChar = 0x13;
        termios2 t = rawBase();
        t.c_iflag |= IXANY | IXON;
        t.c_cflag |= CRTSCTS;
        ASSERT_EQ(dcbToTermios(d, t), 0);
        EXPECT_EQ(bool(t.c_cflag & CRTSCTS), c.crtscts) << std::hex << c.flags << " rts " << c.rts;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK), c.iflags) << std::hex << c.flags;
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);

        DCB back = d; // what was asked reads back as asked
        termiosToDcb(t, back);
        EXPECT_EQ(back.Flags & (DCB::fOutxCtsFlow | DCB::fOutX | DCB::fInX | DCB::fParity),
                  d.Flags & (DCB::fOutxCtsFlow | DCB::fOutX | DCB::fInX | DCB::fParity));
        EXPECT_EQ(back.rtsControl(), c.rts);
    }

    // A device whose flow control was changed behind our back is reported as it is.
    termios2 t = rawBase();
    DCB d = line(9600, 8, NOPARITY, ONESTOPBIT);
    d.setRtsControl(RTS_CONTROL_HANDSHAKE);
    termiosToDcb(t, d);
    EXPECT_EQ(d.rtsControl(), RTS_CONTROL_ENABLE);
    t.c_cflag |= CRTSCTS;
    termiosToDcb(t, d);
    EXPECT_TRUE(d.Flags & DCB::fOutxCtsFlow);
}

TEST(TermiosMapping, WhatNoDeviceCanHoldIsRefusedAndLeavesTheTermiosAlone)
{
    const DCB refused[] = {
        line(0, 8, NOPARITY, ONESTOPBIT),     line(9600, 4, NOPARITY, ONESTOPBIT),
        line(9600, 9, NOPARITY, ONESTOPBIT),  line(9600, 8, 5, ONESTOPBIT),
        line(9600, 8, NOPARITY, 3),           line(9600, 8, NOPARITY, ONE5STOPBITS),
        line(9600, 7, EVENPARITY, ONE5STOPBITS), line(9600, 5, NOPARITY, TWOSTOPBITS),
    };
    for (const DCB &d : refused) {
        termios2 t = rawBase();
        const termios2 before = t;
        EXPECT_EQ(dcbToTermios(d, t), EINVAL) << d.BaudRate << " " << int(d.ByteSize) << " "
                                              << int(d.Parity) << " " << int(d.StopBits);
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
    }
}

TEST(TermiosMapping, TheReadBackAcceptsARoundedRateButNoChangedFormat)
{
    termios2 wanted = rawBase();
    ASSERT_EQ(dcbToTermios(line(56000, 7, EVENPARITY, ONESTOPBIT), wanted), 0);
    struct Case {
        uint32_t rate;
        tcflag_t dropCflag;
        tcflag_t dropIflag;
        bool holds;
    };
    const Case cases[] = {
        {56000, 0, 0, true},
        {57600, 0, 0, true},    // the nearest rate a 1.8432 MHz clock divides to
        {53000, 0, 0, false},
        {0, 0, 0, false},
        {56000, PARENB, 0, false}, // parity silently dropped
        {56000, CSIZE, 0, false},
    };
    for (const Case &c : cases) {
        termios2 got = wanted;
        got.c_ospeed = c.rate;
        got.c_cflag &= ~c.dropCflag;
        if (c.dropCflag == CSIZE)
            got.c_cflag |= CS8;
        got.c_iflag &= ~c.dropIflag;
        EXPECT_EQ(termiosHolds(wanted, got), c.holds) << c.rate << " " << c.dropCflag;
    }
}

TEST(TermiosMapping, RawModeLeavesNoLineDisciplineBetweenCallerAndLine)
{
    const termios2 t = rawBase();
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(t.c_iflag & (ICRNL | IXANY | ISTRIP));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cc[VMIN], 1) << "no data must read as EAGAIN, not as the 0 of a hang-up";
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

// The termios driver over a fake UART: the settings, modem lines and error
// counters a real serial port has and a pty lacks, emulated on top of a pty
// (bytes still flow through the pty). Not to be combined with <termios.h>.
#include "platform/KernelObjects.h"
#include "platform/TermiosDriver.h"
#include "support/PtyPair.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <mutex>
#include <sys/ioctl.h>
#include <thread>
#include <vector>

using namespace Platform;

namespace {

// A 16550-like port: 1.8432 MHz clock (rates are rounded to 115200 / n),
// no mark or space parity, a leftover custom divisor, and scriptable modem
// inputs and error counters.
class FakeUart : public TtyIo {
public:
    explicit FakeUart(int fd) : m_fd(fd)
    {
        m_termios.c_cflag = B9600 | CS8 | CREAD;
        m_termios.c_ospeed = m_termios.c_ispeed = 9600;
    }

    int ioctl(int fd, unsigned long request, void *arg) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (fd != m_fd)
            return TtyIo::ioctl(fd, request, arg);
        m_log.push_back(request);
        switch (request) {
        case TCGETS2: *static_cast<termios2 *>(arg) = m_termios; return 0;
        case TCSETS2: store(*static_cast<termios2 *>(arg)); return 0;
        case TIOCGSERIAL: *static_cast<serial_struct *>(arg) = m_serial; return 0;
        case TIOCSSERIAL: m_serial = *static_cast<serial_struct *>(arg); return 0;
        case TIOCMGET: *static_cast<int *>(arg) = m_lines; return 0;
        case TIOCMBIS: m_lines |= *static_cast<int *>(arg); return 0;
        case TIOCMBIC: m_lines &= ~*static_cast<int *>(arg); return 0;
        case TIOCGICOUNT: *static_cast<serial_icounter_struct *>(arg) = m_counts; return 0;
        default: return TtyIo::ioctl(fd, request, arg); // queues, flushes, exclusive mode: the pty's own
        }
    }
    bool isPseudoTerminal(int) override { return false; }

    termios2 termios()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_termios;
    }
    int lines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    void setInputs(int bits)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines = (m_lines & (TIOCM_DTR | TIOCM_RTS)) | bits;
    }
    template <typename F> void count(F change)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_counts);
    }
    std::vector<unsigned long> log()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }
    void leaveCustomDivisor()
    {
        m_serial.flags = ASYNC_SPD_CUST;
        m_serial.custom_divisor = 7;
    }
    serial_struct serial()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_serial;
    }

private:
    void store(termios2 t)
    {
        t.c_cflag &= ~CMSPAR; // this UART has no stick parity
        const uint32_t divisor = t.c_ospeed ? std::max<uint32_t>(1, (115200 + t.c_ospeed / 2) / t.c_ospeed) : 0;
        t.c_ospeed = t.c_ispeed = divisor ? 115200 / divisor : 0;
        m_termios = t;
    }

    int m_fd;
    std::mutex m_mutex;
    termios2 m_termios{};
    serial_struct m_serial{};
    int m_lines = 0;
    serial_icounter_struct m_counts{};
    std::vector<unsigned long> m_log;
};

// A pty with the fake UART under a driver of its own; the port opened on it.
struct UartPort {
    TestSupport::PtyPair pty{8};
    std::unique_ptr<FakeUart> uart;
    std::unique_ptr<CommDriver> driver;
    HANDLE h = INVALID_HANDLE_VALUE;
    int fd = -1; // the driver's descriptor, known from the fake's log

    UartPort(bool customDivisor = false)
    {
        // The fake must know the descriptor before open: reserve the number
        // the driver's open() will get by freeing the lowest one.
        const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(probe);
        fd = probe;
        uart = std::make_unique<FakeUart>(fd);
        if (customDivisor)
            uart->leaveCustomDivisor();
        driver = makeTermiosDriver(*uart);
        h = driver->CreateFile(pty.slavePath());
    }
    ~UartPort()
    {
        if (h != INVALID_HANDLE_VALUE)
            driver->CloseHandle(h);
    }
    DCB line(uint32_t rate, uint8_t bits, uint8_t parity, uint8_t stop)
    {
        DCB d;
        driver->GetCommState(h, &d);
        d.BaudRate = rate;
        d.ByteSize = bits;
        d.Parity = parity;
        d.StopBits = stop;
        return d;
    }
};

} // namespace

TEST(CommFakeUart, LineSettingsReachTheDeviceAndTheCustomDivisorIsClearedFirst)
{
    UartPort port(true);
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError());
    DCB d = port.line(19200, 7, EVENPARITY, TWOSTOPBITS);
    d.Flags |= DCB::fOutxCtsFlow | DCB::fInX;
    ASSERT_TRUE(port.driver->SetCommState(port.h, &d)) << SysErrorMessage(GetLastError());

    const termios2 t = port.uart->termios();
    EXPECT_EQ(t.c_ospeed, 19200u);
    EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), static_cast<tcflag_t>(CS7 | PARENB | CSTOPB));
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_FALSE(t.c_iflag & (IXON | IXANY));
    EXPECT_EQ(port.uart->serial().flags & ASYNC_SPD_MASK, 0);

    const auto log = port.uart->log();
    const auto cleared = std::find(log.begin(), log.end(), static_cast<unsigned long>(TIOCSSERIAL));
    const auto lastSet = std::find(log.rbegin(), log.rend(), static_cast<unsigned long>(TCSETS2));
    ASSERT_NE(cleared, log.end());
    EXPECT_LT(cleared - log.begin(), log.rend() - lastSet - 1) << "divisor cleared before the rate was set";

    DCB back;
    ASSERT_TRUE(port.driver->GetCommState(port.h, &back));
    EXPECT_EQ(back.ByteSize, 7) << "a real port's own settings are read back";
    EXPECT_EQ(back.Parity, EVENPARITY);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
}

TEST(CommFakeUart, ASettingTheDeviceDoesNotTakeIsRefusedAndTheOldOneStays)
{
    UartPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    DCB good = port.line(9600, 8, NOPARITY, ONESTOPBIT);
    ASSERT_TRUE(port.driver->SetCommState(port.h, &good));
    struct Case {
        uint32_t rate;
        uint8_t parity;
        bool accepted;
        uint32_t deviceRate;
    };
    const Case cases[] = {
        {9600, MARKPARITY, false, 9600},   // no stick parity on this UART
        {9600, SPACEPARITY, false, 9600},
        {56000, NOPARITY, true, 57600},   // rounded by 2.9 %: taken
        {1000000, NOPARITY, false, 57600}, // beyond its clock
        {9600, ODDPARITY, true, 9600},
    };
    for (const Case &c : cases) {
        const termios2 before = port.uart->termios();
        DCB d = port.line(c.rate, 8, c.parity, ONESTOPBIT);
        SetLastError(0);
        EXPECT_EQ(port.driver->SetCommState(port.h, &d), c.accepted) << c.rate << " parity " << int(c.parity);
        const termios2 after = port.uart->termios();
        EXPECT_EQ(after.c_ospeed, c.deviceRate) << c.rate;
        if (!c.accepted) {
            EXPECT_EQ(GetLastError(), EINVAL);
            EXPECT_EQ(after.c_cflag, before.c_cflag) << "the previous settings were put back";
        }
    }
}

TEST(CommFakeUart, DtrAndRtsFollowTheirControlModesAndTheEscapeFunctions)
{
    UartPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    struct Case {
        uint32_t dtr, rts;
        int lines;
    };
    const Case cases[] = {
        {DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0},
        {DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, TIOCM_DTR},
        {DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, TIOCM_RTS},
        {DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE, TIOCM_DTR | TIOCM_RTS},
        {DTR_CONTROL_DISABLE, RTS_CONTROL_TOGGLE, TIOCM_RTS},
    };
    for (const Case &c : cases) {
        DCB d = port.line(9600, 8, NOPARITY, ONESTOPBIT);
        d.setDtrControl(c.dtr);
        d.setRtsControl(c.rts);
        ASSERT_TRUE(port.driver->SetCommState(port.h, &d));
        EXPECT_EQ(port.uart->lines() & (TIOCM_DTR | TIOCM_RTS), c.lines) << c.dtr << "/" << c.rts;
    }
    ASSERT_TRUE(port.driver->EscapeCommFunction(port.h, SETDTR));
    ASSERT_TRUE(port.driver->EscapeCommFunction(port.h, CLRRTS));
    EXPECT_EQ(port.uart->lines() & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR);

    struct Input {
        int line;
        uint32_t status;
    };
    for (const Input &in : {Input{TIOCM_CTS, MS_CTS_ON}, Input{TIOCM_DSR, MS_DSR_ON}, Input{TIOCM_RNG, MS_RING_ON},
                            Input{TIOCM_CAR, MS_RLSD_ON}, Input{0, 0u}}) {
        port.uart->setInputs(in.line);
        uint32_t status = 0xFFFF;
        ASSERT_TRUE(port.driver->GetCommModemStatus(port.h, &status));
        EXPECT_EQ(status, in.status) << in.line;
    }
}

TEST(CommFakeUart, ErrorCountersBecomeLineErrorsOnceAndEventsWhenTheyRise)
{
    UartPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    port.uart->count([](serial_icounter_struct &c) {
        c.frame += 2;
        c.parity += 1;
        c.buf_overrun += 1;
    });
    uint32_t errors = 0;
    ASSERT_TRUE(port.driver->ClearCommError(port.h, &errors, nullptr));
    EXPECT_EQ(errors, CE_FRAME | CE_RXPARITY | CE_RXOVER);
    ASSERT_TRUE(port.driver->ClearCommError(port.h, &errors, nullptr));
    EXPECT_EQ(errors, 0u) << "reading the errors clears them";

    ASSERT_TRUE(port.driver->SetCommMask(port.h, EV_ERR | EV_BREAK | EV_CTS));
    struct Case {
        void (*change)(serial_icounter_struct &);
        uint32_t events;
    };
    const Case cases[] = {
        {[](serial_icounter_struct &c) { c.frame++; }, EV_ERR},
        {[](serial_icounter_struct &c) { c.brk++; }, EV_ERR | EV_BREAK},
        {[](serial_icounter_struct &c) { c.cts++; }, EV_CTS},
        {[](serial_icounter_struct &c) { c.dsr++; c.overrun++; }, EV_ERR}, // EV_DSR is not in the mask
    };
    // The counters changed above are already seen by the wait's first look.
    Event cancel;
    uint32_t events = 0;
    std::thread first([&] { port.driver->WaitCommEvent(port.h, &events, cancel.nativeHandle()); });
    first.join();
    EXPECT_EQ(events, EV_ERR);
    for (const Case &c : cases) {
        std::thread bump([&] {
            sleepMs(10);
            port.uart->count(c.change);
        });
        events = 0;
        EXPECT_TRUE(port.driver->WaitCommEvent(port.h, &events, cancel.nativeHandle()));
        bump.join();
        EXPECT_EQ(events, c.events);
    }
}

TEST(CommFakeUart, ExclusiveModeIsTakenAtOpenAndDroppedBeforeClose)
{
    UartPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    auto log = port.uart->log();
    EXPECT_NE(std::find(log.begin(), log.end(), static_cast<unsigned long>(TIOCEXCL)), log.end());
    ASSERT_TRUE(port.driver->CloseHandle(port.h));
    port.h = INVALID_HANDLE_VALUE;
    log = port.uart->log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), static_cast<unsigned long>(TIOCNXCL));
    EXPECT_EQ(::fcntl(port.fd, F_GETFD), -1) << "and the descriptor is closed";
}

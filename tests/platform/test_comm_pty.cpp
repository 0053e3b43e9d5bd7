// The comm device API on a real pseudo-terminal: opening and its failures,
// what a pty holds of the line settings, reads, writes, the event wait with
// its cancel, purges and a hang-up of the far end.
#include "platform/CommApi.h"
#include "platform/KernelObjects.h"
#include "support/ProcessProbe.h"
#include "support/PtyPair.h"

#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace Platform;
using TestSupport::PtyPair;

namespace {

using TestSupport::openDescriptors;

double threadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// An open port on a fresh pty; closes it at the end of the test.
struct OpenPort {
    PtyPair pty{3};
    HANDLE h = INVALID_HANDLE_VALUE;
    OpenPort() { h = CreateFile(pty.slavePath()); }
    ~OpenPort()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

// The event wait on its own thread, cancelled through an event when it has
// not returned within `cancelAfterMs`.
struct WaitResult {
    bool ok = false;
    uint32_t events = 0;
    int error = 0;
    double cpuMs = 0;
    std::chrono::milliseconds took{0};
};

WaitResult waitWithCancel(HANDLE h, int cancelAfterMs)
{
    Event cancel;
    Event finished;
    WaitResult r;
    std::thread waiter([&] {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = threadCpuMs();
        r.ok = WaitCommEvent(h, &r.events, cancel.nativeHandle());
        r.error = GetLastError();
        r.cpuMs = threadCpuMs() - cpu;
        r.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        finished.set();
    });
    if (!finished.wait(static_cast<uint32_t>(cancelAfterMs)))
        cancel.set();
    waiter.join();
    return r;
}

} // namespace

TEST(CommPty, FailedOpensReportTheirCauseAndLeaveNoDescriptor)
{
    QTemporaryDir dir;
    const std::string plainFile = (dir.path() + "/plain").toStdString();
    ::close(::open(plainFile.c_str(), O_CREAT | O_WRONLY, 0644));
    PtyPair busy(7);
    ASSERT_TRUE(busy.ok()) << busy.error();
    const int holder = ::open(busy.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    struct Case {
        std::string path;
        int error;
        bool notFound;
    };
    const Case cases[] = {
        {"/dev/nonexistent-tty", ENOENT, true},
        {plainFile, ENOTTY, false},
        {"/dev/null", ENOTTY, false},
        {busy.slavePath(), EBUSY, false},
    };
    const int before = openDescriptors();
    for (int round = 0; round < 50; ++round) {
        for (const Case &c : cases) {
            SetLastError(0);
            ASSERT_EQ(CreateFile(c.path), INVALID_HANDLE_VALUE) << c.path;
            ASSERT_EQ(GetLastError(), c.error) << c.path;
            ASSERT_EQ(IsDeviceNotFoundError(GetLastError()), c.notFound) << c.path;
        }
    }
    EXPECT_EQ(openDescriptors(), before) << "200 failed opens left descriptors behind";
    EXPECT_FALSE(SysErrorMessage(EBUSY).empty());
    EXPECT_EQ(SysErrorMessage(ENOENT), "No such file or directory");
    ::close(holder);
}

TEST(CommPty, APortHeldByAnotherProcessIsBusyWithItsOwnText)
{
    PtyPair pty(2);
    ASSERT_TRUE(pty.ok()) << pty.error();
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
        const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(CreateFile(pty.slavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), EBUSY);
    EXPECT_EQ(SysErrorMessage(GetLastError()), "Device or resource busy");
    (void)!::write(release[1], "x", 1);
    ::waitpid(child, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);

    const HANDLE h = CreateFile(pty.slavePath());
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "free again once the other process ended";
    CloseHandle(h);
}

TEST(CommPty, ExclusiveModeIsDroppedOnCloseSoOthersCanOpenAgain)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to another user";
    PtyPair pty(4); // holds its own slave descriptor all along
    ASSERT_TRUE(pty.ok()) << pty.error();
    ::chmod(pty.slavePath().c_str(), 0666);
    // The errno an unprivileged open of the slave gets (0 = it opened).
    auto openAsNobody = [&] {
        int result[2];
        if (::pipe(result) != 0)
            return -1;
        const pid_t child = ::fork();
        if (child == 0) {
            int code = 0;
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                code = -2;
            else if (const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); fd < 0)
                code = errno;
            (void)!::write(result[1], &code, sizeof code);
            ::_exit(0);
        }
        int code = -1;
        (void)!::read(result[0], &code, sizeof code);
        ::waitpid(child, nullptr, 0);
        ::close(result[0]);
        ::close(result[1]);
        return code;
    };
    for (int round = 0; round < 2; ++round) {
        const HANDLE h = CreateFile(pty.slavePath());
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "round " << round;
        EXPECT_EQ(openAsNobody(), EBUSY) << "exclusive while open";
        ASSERT_TRUE(CloseHandle(h));
        EXPECT_EQ(openAsNobody(), 0) << "round " << round << ": a later open must not be refused";
    }
}

TEST(CommPty, APtyHoldsRateStopBitsAndFlowButForcesEightBitsNoParity)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError());
    DCB dcb;
    ASSERT_TRUE(GetCommState(port.h, &dcb));
    dcb.BaudRate = 12345;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.Flags = DCB::fBinary | DCB::fOutxCtsFlow | DCB::fOutX | DCB::fInX;
    dcb.XonLim = 100;
    dcb.EvtChar = 'E';
    ASSERT_TRUE(SetCommState(port.h, &dcb)) << SysErrorMessage(GetLastError());

    termios t{};
    ASSERT_EQ(::tcgetattr(port.pty.slaveFd(), &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << "the pty forces 8 data bits";
    EXPECT_FALSE(t.c_cflag & PARENB) << "and no parity";
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS) << "hardware flow control lives in c_cflag";
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_FALSE(t.c_iflag & IXANY);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));

    DCB back;
    ASSERT_TRUE(GetCommState(port.h, &back));
    EXPECT_EQ(back.BaudRate, 12345u);
    EXPECT_EQ(back.ByteSize, 7) << "what the pty cannot hold comes from the kept copy";
    EXPECT_EQ(back.Parity, EVENPARITY);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.XonLim, 100);
    EXPECT_EQ(back.EvtChar, 'E');
    EXPECT_TRUE(back.Flags & DCB::fOutxCtsFlow);

    // Refused settings fail with EINVAL and change nothing.
    for (auto spoil : {+[](DCB &d) { d.ByteSize = 4; }, +[](DCB &d) { d.BaudRate = 0; }}) {
        DCB bad = back;
        spoil(bad);
        SetLastError(0);
        EXPECT_FALSE(SetCommState(port.h, &bad));
        EXPECT_EQ(GetLastError(), EINVAL);
        DCB still;
        ASSERT_TRUE(GetCommState(port.h, &still));
        EXPECT_EQ(still.BaudRate, 12345u);
        EXPECT_EQ(still.ByteSize, 7);
    }
}

TEST(CommPty, ReadsReturnAtOnceAndBytesTravelBothWays)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    char buf[64];
    uint32_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReadFile(port.h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    ASSERT_TRUE(port.pty.writeMaster(QByteArray("\x01\x02\r\n\x11\x13\x7f", 7)));
    COMSTAT stat;
    uint32_t errors = 1;
    for (int i = 0; i < 200 && stat.cbInQue < 7; ++i) {
        ASSERT_TRUE(ClearCommError(port.h, &errors, &stat));
        sleepMs(1);
    }
    EXPECT_EQ(stat.cbInQue, 7u);
    EXPECT_EQ(errors, 0u);
    ASSERT_TRUE(ReadFile(port.h, buf, 3, &got));
    EXPECT_EQ(QByteArray(buf, got), QByteArray("\x01\x02\r", 3));
    ASSERT_TRUE(ReadFile(port.h, buf, sizeof buf, &got));
    EXPECT_EQ(QByteArray(buf, got), QByteArray("\n\x11\x13\x7f", 4)) << "raw: no translation";

    uint32_t written = 0;
    ASSERT_TRUE(WriteFile(port.h, "\n\x00\xff", 3, &written, 1000));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(port.pty.readMaster(3), QByteArray("\n\x00\xff", 3));
}

TEST(CommPty, UnreadBytesRaiseOneEventAndTheWaitDoesNotSpinOnThem)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(port.h, EV_RXCHAR | EV_ERR));
    ASSERT_TRUE(port.pty.writeMaster("abc"));
    WaitResult first = waitWithCancel(port.h, 100);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.events, EV_RXCHAR);

    // Nobody reads: the bytes stay, and the next wait waits for new ones.
    WaitResult second = waitWithCancel(port.h, 200);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.error, ECANCELED);
    EXPECT_LT(second.cpuMs, 40.0) << "the wait spun on unread bytes";

    std::thread more([&] {
        sleepMs(30);
        port.pty.writeMaster("d");
    });
    WaitResult third = waitWithCancel(port.h, 1000);
    more.join();
    EXPECT_TRUE(third.ok) << "a byte arriving later raises the event again";
    EXPECT_EQ(third.events, EV_RXCHAR);
    EXPECT_LT(third.took, std::chrono::milliseconds(900));
    COMSTAT stat;
    ASSERT_TRUE(ClearCommError(port.h, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 4u);
}

TEST(CommPty, TheCancelEventEndsABlockedWaitWithoutBeingConsumed)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(port.h, EV_RXCHAR));
    Event cancel;
    std::atomic<bool> ok{true};
    std::atomic<int> error{0};
    std::thread waiter([&] {
        uint32_t events = 0;
        ok = WaitCommEvent(port.h, &events, cancel.nativeHandle());
        error = GetLastError();
    });
    sleepMs(30);
    cancel.set();
    waiter.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, ECANCELED);
    EXPECT_TRUE(cancel.isSet());

    // An empty mask waits for the cancel only, even with bytes arriving.
    ASSERT_TRUE(SetCommMask(port.h, 0));
    cancel.reset();
    ASSERT_TRUE(port.pty.writeMaster("x"));
    WaitResult r = waitWithCancel(port.h, 60);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ECANCELED);
}

TEST(CommPty, AHangUpIsReportedOnceAndThenTheWaitIdles)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(port.h, EV_RXCHAR | EV_ERR));
    port.pty.closeMaster();

    WaitResult first = waitWithCancel(port.h, 1000);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.events, EV_ERR);
    EXPECT_LT(first.took, std::chrono::milliseconds(900));

    uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(ClearCommError(port.h, &errors, &stat));
    EXPECT_EQ(errors, CE_IOE);
    ASSERT_TRUE(ClearCommError(port.h, &errors, &stat));
    EXPECT_EQ(errors, 0u) << "the hang-up is an error once";
    EXPECT_EQ(stat.cbInQue, 0u);

    WaitResult later = waitWithCancel(port.h, 300);
    EXPECT_FALSE(later.ok) << "no second event for the same hang-up";
    EXPECT_EQ(later.error, ECANCELED);
    EXPECT_LT(later.cpuMs, 30.0) << "the wait spun after the hang-up";

    char buf[8];
    uint32_t got = 5;
    EXPECT_TRUE(ReadFile(port.h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);
    uint32_t written = 0;
    EXPECT_FALSE(WriteFile(port.h, "x", 1, &written, 100));
    EXPECT_EQ(GetLastError(), EIO);
    EXPECT_TRUE(PurgeComm(port.h, PURGE_RXCLEAR | PURGE_TXCLEAR));
}

TEST(CommPty, APurgeDiscardsWaitingInputAndLaterBytesStillRaiseEvents)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(port.h, EV_RXCHAR));
    ASSERT_TRUE(port.pty.writeMaster("stale"));
    ASSERT_TRUE(waitWithCancel(port.h, 500).ok);
    ASSERT_TRUE(PurgeComm(port.h, PURGE_RXABORT | PURGE_RXCLEAR));
    COMSTAT stat;
    ASSERT_TRUE(ClearCommError(port.h, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    char buf[8];
    uint32_t got = 1;
    ASSERT_TRUE(ReadFile(port.h, buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);

    ASSERT_TRUE(port.pty.writeMaster("n"));
    WaitResult r = waitWithCancel(port.h, 1000);
    EXPECT_TRUE(r.ok);
    EXPECT_LT(r.took, std::chrono::milliseconds(900));
    ASSERT_TRUE(ReadFile(port.h, buf, sizeof buf, &got));
    EXPECT_EQ(QByteArray(buf, got), "n");
}

TEST(CommPty, AStalledWriteReturnsWhatTheDriverTookOnTimeOutOrCancel)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(port.pty.stallOutput());
    const std::string big(256 * 1024, 'w');
    uint32_t written = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WriteFile(port.h, big.data(), big.size(), &written, 50));
    EXPECT_EQ(GetLastError(), ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_LT(written, big.size());

    Event close;
    close.set();
    uint32_t more = 0;
    EXPECT_FALSE(WriteFile(port.h, big.data(), big.size(), &more, INFINITE, {close.nativeHandle()}));
    EXPECT_EQ(GetLastError(), ECANCELED);

    ASSERT_TRUE(PurgeComm(port.h, PURGE_TXABORT | PURGE_TXCLEAR));
    ASSERT_TRUE(port.pty.resumeOutput());
    port.pty.readAvailable(50); // whatever went before the stall
    ASSERT_TRUE(WriteFile(port.h, "ok", 2, &more, 1000));
    EXPECT_EQ(port.pty.readAvailable(500).right(2), "ok");
}

TEST(CommPty, LineFunctionsQueriesAndKeptValuesOnAPty)
{
    OpenPort port;
    ASSERT_NE(port.h, INVALID_HANDLE_VALUE);
    for (uint32_t f : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXOFF, SETXON, RESETDEV})
        EXPECT_TRUE(EscapeCommFunction(port.h, f)) << "function " << f << ": " << SysErrorMessage(GetLastError());
    EXPECT_FALSE(EscapeCommFunction(port.h, 42));
    EXPECT_EQ(GetLastError(), EINVAL);
    uint32_t modem = 0xFF;
    ASSERT_TRUE(GetCommModemStatus(port.h, &modem));
    EXPECT_EQ(modem, 0u) << "a pty has no modem lines";

    EXPECT_FALSE(SetupComm(port.h, 0, 4096));
    ASSERT_TRUE(SetupComm(port.h, 4096, 2048));
    COMMPROP prop;
    ASSERT_TRUE(GetCommProperties(port.h, &prop));
    EXPECT_EQ(prop.dwCurrentRxQueue, 4096u);
    EXPECT_EQ(prop.dwCurrentTxQueue, 2048u);
    EXPECT_EQ(prop.dwMaxBaud, BAUD_USER);

    COMMTIMEOUTS t;
    ASSERT_TRUE(GetCommTimeouts(port.h, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD) << "a new handle reads at once";
    t.WriteTotalTimeoutConstant = 77;
    ASSERT_TRUE(SetCommTimeouts(port.h, &t));
    COMMTIMEOUTS back;
    ASSERT_TRUE(GetCommTimeouts(port.h, &back));
    EXPECT_EQ(back.WriteTotalTimeoutConstant, 77u);
    uint32_t mask = 0;
    ASSERT_TRUE(SetCommMask(port.h, EV_RXCHAR | EV_ERR));
    ASSERT_TRUE(GetCommMask(port.h, &mask));
    EXPECT_EQ(mask, EV_RXCHAR | EV_ERR);
}

TEST(CommPty, DefaultConfigurationAndClosedHandles)
{
    PtyPair pty(6);
    COMMCONFIG cc;
    uint32_t size = 4;
    EXPECT_FALSE(GetDefaultCommConfig(pty.slavePath(), &cc, &size));
    EXPECT_EQ(size, sizeof(COMMCONFIG));
    ASSERT_TRUE(GetDefaultCommConfig(pty.slavePath(), &cc, &size));
    EXPECT_EQ(cc.dcb.BaudRate, 9600u);
    EXPECT_EQ(cc.dcb.ByteSize, 8);
    EXPECT_EQ(cc.dcb.Parity, NOPARITY);
    EXPECT_EQ(cc.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(cc.dcb.XonChar, 17);
    EXPECT_EQ(cc.dcb.XoffChar, 19);
    EXPECT_EQ(cc.dcb.dtrControl(), DTR_CONTROL_ENABLE);
    EXPECT_EQ(cc.dcb.XonLim, 1024);
    EXPECT_EQ(cc.dcb.XoffLim, 1024);
    EXPECT_FALSE(GetDefaultCommConfig("/dev/nonexistent-tty", &cc, &size));
    EXPECT_EQ(GetLastError(), ENOENT);

    const HANDLE h = CreateFile(pty.slavePath());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(h));
    DCB dcb;
    uint32_t n = 0;
    EXPECT_FALSE(GetCommState(h, &dcb));
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(ReadFile(h, &dcb, 1, &n));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}
